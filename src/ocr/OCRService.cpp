#include "ocr/OCRService.h"

#include "core/Log.h"
#include "ocr/RecognizerLibrary.h"
#include "ocr/TextRecognizer.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QImage>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const QString blank = QStringLiteral(" ");

// The recogniser of the library loaded on first use. Used from the worker thread, except
// loaded().
class Recogniser
{
public:
    bool loaded() const
    {
        const TextRecognizer *engine = m_engine.load();
        return engine && engine->loaded();
    }

    RecognitionOutcome recognise(QImage image, std::atomic_bool &cancel)
    {
        RecognitionOutcome outcome;
        if (!m_engine.load()) {
            m_owned = RecognizerLibrary::create(&outcome.error);
            if (!m_owned)
                return outcome;
            m_engine = m_owned.get();
        }
        outcome = m_engine.load()->recognise(std::move(image), cancel);
        if (!outcome.missingLanguages.isEmpty())
            Log::line(QStringLiteral("[OCR] no language data for ") +
                      outcome.missingLanguages.join(u'+'));
        return outcome;
    }

    void release()
    {
        if (TextRecognizer *engine = m_engine.load())
            engine->release();
    }

private:
    std::unique_ptr<TextRecognizer> m_owned;
    std::atomic<TextRecognizer *> m_engine{nullptr};
};

// Background work must not compete with the desktop: nice 10 above the process. On Linux
// the nice value is per thread, and QThread's priorities do not change it.
void lowerOwnPriority()
{
    const auto thread = static_cast<id_t>(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, thread);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, thread, std::min(19, current + 10));
}

} // namespace

// ---------------------------------------------------------------------------------------------

class OCRService::Worker : public QThread
{
public:
    Worker(OCRService &service, Store &store) : m_service(service), m_store(store)
    {
        setObjectName(QStringLiteral("vesk.ocr"));
    }
    ~Worker() override { stop(); }

    void add(const std::optional<QString> &id)
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            m_queue.push_back(id);
            if (!m_started) {
                m_started = true;
                start(QThread::LowestPriority);
            }
        }
        m_wake.notify_all();
    }

    void waitUntilIdle()
    {
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return m_stopping || (m_queue.empty() && !m_busy); });
    }

    // Abandons what is still queued (those clips stay pending for a later backlog run) and
    // cancels the picture being read, so this returns within moments.
    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_queue.clear();
        }
        m_cancel = true;
        m_wake.notify_all();
        m_idle.notify_all();
        wait();
    }

    void setIdleDelay(int milliseconds)
    {
        {
            std::lock_guard lock(m_mutex);
            m_idleDelay = std::chrono::milliseconds(std::max(0, milliseconds));
        }
        m_wake.notify_all();
    }

    bool recogniserLoaded() const { return m_recogniser.loaded(); }

protected:
    void run() override
    {
        ::pthread_setname_np(::pthread_self(), "vesk.ocr");
        lowerOwnPriority();
        std::optional<QString> item;
        while (next(&item)) {
            try {
                if (item)
                    process(*item);
                else
                    processBacklog();
            } catch (...) {
                Log::line(QStringLiteral("[OCR] unexpected error in the worker"));
            }
            std::lock_guard lock(m_mutex);
            m_busy = false;
            m_lastWork = Clock::now();
            m_idle.notify_all();
        }
        m_recogniser.release();
    }

private:
    // Waits for the next item (nullopt = the backlog); releases the recogniser once the
    // queue has been idle long enough. False when the service is stopping.
    bool next(std::optional<QString> *item)
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_stopping)
                return false;
            if (!m_queue.empty()) {
                *item = m_queue.front();
                m_queue.pop_front();
                m_busy = true;
                return true;
            }
            if (!m_recogniser.loaded()) {
                m_wake.wait(lock);
                continue;
            }
            const Clock::time_point due = m_lastWork + m_idleDelay;
            if (Clock::now() < due) {
                m_wake.wait_until(lock, due);
                continue;
            }
            lock.unlock();
            m_recogniser.release();
            lock.lock();
        }
    }

    void processBacklog()
    {
        for (const QString &id : m_store.pendingOCR()) {
            if (m_cancel)
                return;
            process(id);
        }
    }

    void process(const QString &id)
    {
        QString text = blank;
        try {
            std::optional<QImage> image = m_store.image(id);
            if (image && !image->isNull()) {
                const RecognitionOutcome outcome =
                    m_recogniser.recognise(*std::move(image), m_cancel);
                if (outcome.cancelled)
                    return; // stays pending: the backlog of a later launch picks it up
                if (!outcome.error.isEmpty())
                    Log::line(QStringLiteral("[OCR] failed for ") + id + QStringLiteral(": ") +
                              outcome.error);
                else if (!outcome.text.isEmpty())
                    text = outcome.text;
            }
        } catch (const std::exception &e) {
            fail(id, QString::fromLocal8Bit(e.what()));
        } catch (...) {
            fail(id, QStringLiteral("unknown error"));
        }
        m_store.setOcrText(id, text);
        Q_EMIT m_service.processed(id);
    }

    void fail(const QString &id, const QString &reason)
    {
        Log::line(QStringLiteral("[OCR] failed for ") + id + QStringLiteral(": ") + reason);
        // Whatever state the recogniser was left in, start over with the next picture.
        m_recogniser.release();
    }

    OCRService &m_service;
    Store &m_store;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::optional<QString>> m_queue; // an id, or nullopt for the backlog
    bool m_started = false;
    bool m_stopping = false;
    bool m_busy = false;
    Clock::time_point m_lastWork;
    std::chrono::milliseconds m_idleDelay{30'000};

    std::atomic_bool m_cancel{false};
    Recogniser m_recogniser; // worker thread only
};

// ---------------------------------------------------------------------------------------------

OCRService &OCRService::shared()
{
    static OCRService *service = [] {
        auto *made = new OCRService(Store::shared());
        // The service lives as long as the process, but Tesseract must not be mid-page while
        // the process tears down its statics.
        qAddPostRoutine([] { OCRService::shared().m_worker->stop(); });
        return made;
    }();
    return *service;
}

OCRService::OCRService(Store &store, QObject *parent)
    : QObject(parent), m_worker(new Worker(*this, store))
{}

OCRService::~OCRService()
{
    delete m_worker;
}

void OCRService::enqueue(const QString &id)
{
    m_worker->add(id);
}

void OCRService::processPendingBacklog()
{
    m_worker->add(std::nullopt);
}

void OCRService::waitUntilIdle()
{
    m_worker->waitUntilIdle();
}

void OCRService::setIdleReleaseDelay(int milliseconds)
{
    m_worker->setIdleDelay(milliseconds);
}

bool OCRService::recogniserLoaded() const
{
    return m_worker->recogniserLoaded();
}
