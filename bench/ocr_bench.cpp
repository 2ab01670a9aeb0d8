// Text recognition of image clips: time, recall and memory of one screenshot, and what the
// idle release gives back. See README.md here.
#include "Bench.h"
#include "ocr/OCRService.h"
#include "store/Store.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <vector>

// The service's internal controls, for measurements.
class OCRServiceProbe
{
public:
    static void setIdleReleaseDelay(OCRService &service, int ms)
    {
        service.setIdleReleaseDelay(ms);
    }
    static bool loaded(const OCRService &service) { return service.recogniserLoaded(); }
};

namespace {

using Bench::report;
using Bench::rssKiB;

const QString fixture = QStringLiteral(ULVANE_SOURCE_DIR "/tests/fixtures/ocr-screenshot");
constexpr int idleDelayMs = 500;

QString mib(qint64 kib)
{
    return QString::number(double(kib) / 1024.0, 'f', 1) + QStringLiteral(" MiB");
}

// Starts the peak-RSS figure afresh, so earlier suites do not count (Linux ≥ 4.0).
void resetPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

QSet<QString> words(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("[^\\w']+"),
                                               QRegularExpression::UseUnicodePropertiesOption);
    QSet<QString> set;
    for (const QString &word : text.toLower().split(separators, Qt::SkipEmptyParts))
        set.insert(word);
    return set;
}

QString insertImage(Store &store, const QByteArray &png)
{
    NewClip clip;
    clip.items = {{{Uti::png, png}}};
    clip.kind = ClipKind::Image;
    clip.excerpt = QStringLiteral("Image");
    clip.created = 1000;
    clip.ifStored = NewClip::IfStored::StoreAgain;
    return store.add(clip).value_or(QString());
}

double recogniseMs(OCRService &service, const QString &id)
{
    QElapsedTimer timer;
    timer.start();
    service.enqueue(id);
    service.waitUntilIdle();
    return double(timer.nsecsElapsed()) / 1e6;
}

QString ocrOf(Store &store, const QString &id)
{
    const std::optional<Clip> clip = store.clip(id);
    return clip ? clip->ocr : QString();
}

void ocrBench(const QStringList &)
{
    QFile png(fixture + QStringLiteral(".png"));
    QFile expected(fixture + QStringLiteral(".txt"));
    if (!png.open(QIODevice::ReadOnly) || !expected.open(QIODevice::ReadOnly)) {
        report(QStringLiteral("ocr: fixture"), QStringLiteral("missing"), fixture);
        return;
    }
    const QByteArray screenshot = png.readAll();

    QTemporaryDir dir;
    Store store(dir.path() + QStringLiteral("/store"));
    const QString id = insertImage(store, screenshot);
    OCRService service(store);
    OCRServiceProbe::setIdleReleaseDelay(service, idleDelayMs);

    resetPeakRss();
    const qint64 before = rssKiB();
    const double first = recogniseMs(service, id);
    const qint64 loaded = rssKiB();
    std::vector<double> warm;
    for (int i = 0; i < 5; ++i)
        warm.push_back(recogniseMs(service, id));
    const qint64 peak = rssKiB("VmHWM:");

    const QSet<QString> wanted = words(QString::fromUtf8(expected.readAll()));
    const QSet<QString> found = words(ocrOf(store, id));
    const qsizetype hits = QSet<QString>(wanted).intersect(found).size();

    QElapsedTimer idle;
    idle.start();
    while (OCRServiceProbe::loaded(service) && idle.elapsed() < 10'000)
        QThread::msleep(20);
    const qint64 released = rssKiB();

    // A 6K screenshot: shrunk to 4096 px before reading.
    QString bigId;
    {
        QByteArray bigPng;
        QBuffer buffer(&bigPng);
        buffer.open(QIODevice::WriteOnly);
        QImage::fromData(screenshot)
            .scaled(5760, 3240, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .save(&buffer, "PNG");
        bigId = insertImage(store, bigPng);
    }
    resetPeakRss();
    const double bigMs = recogniseMs(service, bigId);
    const qint64 bigPeak = rssKiB("VmHWM:");

    report(QStringLiteral("ocr: 1920x1080 screenshot, first (loads models)"),
           QString::number(first, 'f', 0) + QStringLiteral(" ms"), QStringLiteral("≤ 1500 ms"));
    report(QStringLiteral("ocr: 1920x1080 screenshot, models loaded"),
           QStringLiteral("median %1 ms").arg(Bench::percentile(warm, 0.5), 0, 'f', 0),
           QStringLiteral("≤ 1000 ms"));
    report(
        QStringLiteral("ocr: words recognised"),
        QStringLiteral("%1 of %2 (%3 %)")
            .arg(hits)
            .arg(wanted.size())
            .arg(100.0 * double(hits) / double(std::max<qsizetype>(1, wanted.size())), 0, 'f', 0),
        QStringLiteral("≥ 90 %"));
    // The heap keeps some of the freed pages (the models are many small blocks), so the
    // release returns most, not all, of what loading took.
    report(QStringLiteral("ocr: RSS before / loaded / released"),
           mib(before) + QStringLiteral(" / ") + mib(loaded) + QStringLiteral(" / ") +
               mib(released),
           QStringLiteral("≥ half of the growth returned"));
    report(QStringLiteral("ocr: peak RSS (VmHWM), screenshot"), mib(peak),
           QStringLiteral("≤ 150 MiB"));
    report(QStringLiteral("ocr: 5760x3240 image (read at 4096x2304)"),
           QString::number(bigMs, 'f', 0) + QStringLiteral(" ms, peak ") + mib(bigPeak),
           QStringLiteral("≤ 3 s, ≤ 250 MiB"));
}

} // namespace

ULVANE_BENCH_SUITE("ocr", ocrBench);
