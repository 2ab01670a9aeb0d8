#include "ocr/OCRService.h"

#include "core/Log.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QImage>
#include <QStringList>
#include <QThread>

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

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

#include <dlfcn.h>
#include <leptonica/allheaders.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

const QString blank = QStringLiteral(" ");
constexpr const char *languages = "eng+ukr";

// Tesseract copies the page and keeps grey, binary and per-line forms of it, so its memory
// grows with the pixel count: on a wall of screenshot text an 8000×8000 page peaks about
// 250 MB above the models, a 4096×4096 one 150 MB, besides the decoded copies here. Pictures
// are shrunk to 4096 px on the longer side (17 megapixels at most). Screen text stays
// legible: only pictures beyond a 4K display shrink, an 8K screenshot by half. Time follows
// the amount of text more than the size; the deadline below bounds it.
constexpr int maxSide = 4096;
// Nothing smaller holds a legible letter: such pictures are not worth loading the models for.
constexpr int minSide = 8;
// However the picture looks, it may not hold up the queue indefinitely.
constexpr int recognitionDeadlineMs = 120'000;

QImage fitted(const QImage &image)
{
    const int longer = std::max(image.width(), image.height());
    if (longer <= maxSide)
        return image;
    const double factor = double(maxSide) / longer;
    const int width = std::max(1, int(image.width() * factor + 0.5));
    const int height = std::max(1, int(image.height() * factor + 0.5));
    return image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// Grey levels with transparent areas over white, as a viewer shows them: converting the
// pixels alone would turn a transparent background black, under black text.
QImage greyscale(const QImage &image)
{
    const bool readable =
        image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32;
    const QImage argb = readable ? image : image.convertToFormat(QImage::Format_ARGB32);
    QImage grey(argb.size(), QImage::Format_Grayscale8);
    if (argb.isNull() || grey.isNull())
        return {};
    for (int y = 0; y < argb.height(); ++y) {
        const auto *in = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        uchar *out = grey.scanLine(y);
        for (int x = 0; x < argb.width(); ++x) {
            const int alpha = qAlpha(in[x]);
            out[x] = uchar((qGray(in[x]) * alpha + 255 * (255 - alpha) + 127) / 255);
        }
    }
    return grey;
}

bool cancelRequested(void *flag, int)
{
    return static_cast<const std::atomic_bool *>(flag)->load();
}

struct Outcome
{
    QString text;  // the lines found, empty for none
    QString error; // set when recognition failed
    bool cancelled = false;
};

// Tesseract with the English and Ukrainian models, loaded on first use. Used from one thread.
class Recogniser
{
public:
    ~Recogniser() { release(); }

    // Safe from any thread.
    bool loaded() const { return m_loaded; }

    // Takes the image by value so that each form of the picture is freed as soon as the next
    // one exists: a large picture's copies would otherwise add up.
    Outcome recognise(QImage image, std::atomic_bool &cancel)
    {
        Outcome outcome;
        const QSize size = image.size();
        if (size.width() < minSide || size.height() < minSide)
            return outcome;
        QImage grey = greyscale(fitted(std::exchange(image, QImage())));
        if (grey.isNull()) {
            outcome.error = QStringLiteral("the %1×%2 image could not be converted")
                                .arg(size.width())
                                .arg(size.height());
            return outcome;
        }
        if (!m_api && !load(&outcome.error))
            return outcome;

        // Tesseract keeps a copy of its own.
        m_api->SetImage(grey.constBits(), grey.width(), grey.height(), 1, int(grey.bytesPerLine()));
        const QSize read = grey.size();
        grey = QImage();
        tesseract::ETEXT_DESC monitor;
        monitor.cancel = &cancelRequested;
        monitor.cancel_this = &cancel;
        monitor.set_deadline_msecs(recognitionDeadlineMs);
        const int status = m_api->Recognize(&monitor);
        if (cancel) {
            outcome.cancelled = true;
        } else if (monitor.deadline_exceeded()) {
            outcome.error = QStringLiteral("recognition took longer than %1 s")
                                .arg(recognitionDeadlineMs / 1000);
        } else if (status != 0) {
            outcome.error = QStringLiteral("the recogniser could not read the %1×%2 image")
                                .arg(read.width())
                                .arg(read.height());
        } else {
            outcome.text = lines().join(u'\n');
        }
        // Drops the page and its results; the models stay for the next picture.
        m_api->Clear();
        return outcome;
    }

    void release()
    {
        if (!m_api)
            return;
        m_api->End();
        m_api.reset();
        // The word lists are cached process-wide, beyond End().
        tesseract::TessBaseAPI::ClearPersistentCache();
#ifdef __GLIBC__
        // The models are many small allocations; without this the freed pages stay resident.
        malloc_trim(0);
#endif
        // Only now is the memory given back: whoever sees "not loaded" may count on that.
        m_loaded = false;
    }

private:
    bool load(QString *error)
    {
        auto api = std::make_unique<tesseract::TessBaseAPI>();
        // Tesseract's and Leptonica's own chatter would break the log's one-prefixed-line
        // format; failures are reported by the caller instead.
        api->SetVariable("debug_file", "/dev/null");
        setMsgSeverity(L_SEVERITY_NONE);
        if (api->Init(nullptr, languages, tesseract::OEM_LSTM_ONLY) != 0) {
            const char *prefix = std::getenv("TESSDATA_PREFIX");
            *error = QStringLiteral("cannot load the %1 language data from %2")
                         .arg(QLatin1String(languages),
                              prefix && *prefix ? QString::fromLocal8Bit(prefix)
                                                : QStringLiteral("the default tessdata folder"));
            return false;
        }
        // Recognition still works with the languages that did load.
        std::vector<std::string> loadedLanguages;
        api->GetLoadedLanguagesAsVector(&loadedLanguages);
        QStringList missing = QString::fromLatin1(languages).split(u'+');
        for (const std::string &language : loadedLanguages)
            missing.removeAll(QString::fromStdString(language));
        if (!missing.isEmpty())
            Log::line(QStringLiteral("[OCR] no language data for ") + missing.join(u'+'));
        // Screenshots have columns, boxes and scattered labels, not one block of prose.
        api->SetPageSegMode(tesseract::PSM_AUTO);
        m_api = std::move(api);
        m_loaded = true;
        return true;
    }

    QStringList lines() const
    {
        QStringList lines;
        const std::unique_ptr<tesseract::ResultIterator> it(m_api->GetIterator());
        if (!it)
            return lines;
        do {
            const std::unique_ptr<char[]> raw(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
            if (!raw)
                continue;
            const QString line = QString::fromUtf8(raw.get()).trimmed();
            if (!line.isEmpty())
                lines.append(line);
        } while (it->Next(tesseract::RIL_TEXTLINE));
        return lines;
    }

    std::unique_ptr<tesseract::TessBaseAPI> m_api;
    std::atomic_bool m_loaded{false};
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

// Tesseract built with OpenMP runs its network on teams of busy-waiting threads, with team
// sizes fixed in its code. On two cores that is five times slower than one thread and spends
// seconds of system time per picture, and background work should not take every core anyway.
// With no parallel level allowed to be active every team is this thread alone (the OpenMP
// runtime reads OMP_THREAD_LIMIT before main, too early to set it here). Tesseract is the
// only OpenMP user in the process; nothing happens when it was built without OpenMP.
void useOneThreadForRecognition()
{
    using SetLevels = void (*)(int);
    if (auto set = reinterpret_cast<SetLevels>(::dlsym(RTLD_DEFAULT, "omp_set_max_active_levels")))
        set(0);
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
        useOneThreadForRecognition();
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
                const Outcome outcome = m_recogniser.recognise(*std::move(image), m_cancel);
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
