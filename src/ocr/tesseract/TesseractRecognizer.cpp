// Text recognition with Tesseract, kept in a library of its own that the application loads
// when the first picture needs reading: Tesseract and the image libraries it pulls in cost
// tens of milliseconds of start-up and memory that most sessions never use.

#include "ocr/TextRecognizer.h"

#include <QImage>
#include <QStringList>

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <dlfcn.h>
#include <leptonica/allheaders.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

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

// Tesseract with the English and Ukrainian models, loaded on first use. Used from one thread.
class TesseractRecognizer final : public TextRecognizer
{
public:
    ~TesseractRecognizer() override { release(); }

    bool loaded() const override { return m_loaded; }

    // Takes the image by value so that each form of the picture is freed as soon as the next
    // one exists: a large picture's copies would otherwise add up.
    RecognitionOutcome recognise(QImage image, std::atomic_bool &cancel) override
    {
        RecognitionOutcome outcome;
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
        if (!m_api && !load(&outcome))
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

    void release() override
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
    bool load(RecognitionOutcome *outcome)
    {
        auto api = std::make_unique<tesseract::TessBaseAPI>();
        // Tesseract's and Leptonica's own chatter would break the log's one-prefixed-line
        // format; failures are reported by the caller instead.
        api->SetVariable("debug_file", "/dev/null");
        setMsgSeverity(L_SEVERITY_NONE);
        if (api->Init(nullptr, languages, tesseract::OEM_LSTM_ONLY) != 0) {
            const char *prefix = std::getenv("TESSDATA_PREFIX");
            outcome->error =
                QStringLiteral("cannot load the %1 language data from %2")
                    .arg(QLatin1String(languages),
                         prefix && *prefix ? QString::fromLocal8Bit(prefix)
                                           : QStringLiteral("the default tessdata folder"));
            return false;
        }
        // Recognition still works with the languages that did load.
        std::vector<std::string> loadedLanguages;
        api->GetLoadedLanguagesAsVector(&loadedLanguages);
        outcome->missingLanguages = QString::fromLatin1(languages).split(u'+');
        for (const std::string &language : loadedLanguages)
            outcome->missingLanguages.removeAll(QString::fromStdString(language));
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

extern "C" __attribute__((visibility("default"))) TextRecognizer *ulvane_create_text_recognizer()
{
    useOneThreadForRecognition();
    return new TesseractRecognizer;
}
