// Copy → stored row through the real X11 clipboard layer and monitor, with xclip as the
// copying application, and the monitor's cost while nothing is copied.
#include "Bench.h"
#include "capture/PasteboardMonitor.h"
#include "CaptureTiming.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11Workspace.h"
#include "store/Store.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

namespace {

// Offers the bytes from an xclip process; returns once xclip owns the clipboard.
void copyWithXclip(const QString &target, const QByteArray &data)
{
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                          QStringLiteral("-t"), target, QStringLiteral("-i")});
    xclip.waitForStarted();
    xclip.write(data);
    xclip.closeWriteChannel();
    xclip.waitForFinished(10000);
}

QByteArray screenshotPng()
{
    QImage image(1920, 1080, QImage::Format_RGB32);
    image.fill(QColor(0xf4, 0xf4, 0xf6));
    QPainter painter(&image);
    for (int i = 0; i < 40; ++i)
        painter.fillRect(40 + (i % 8) * 230, 60 + (i / 8) * 200, 200, 160,
                         QColor::fromHsv((i * 37) % 360, 60, 220));
    painter.end();
    // Photographs and gradients in real screenshots do not compress to nothing.
    quint32 seed = 12345;
    for (int y = 600; y < 1000; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 100; x < 1800; ++x) {
            seed = seed * 1664525u + 1013904223u;
            line[x] = qRgb(x * 255 / 1920, (seed >> 24) & 0x3f, y * 255 / 1080);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void runCaptureSuite(const QStringList &)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || QGuiApplication::platformName() != u"xcb") {
        Bench::report(QStringLiteral("capture"), QStringLiteral("skipped: no X display"), {});
        return;
    }
    QTemporaryDir dir;
    Store store(dir.path() + QStringLiteral("/s"));
    store.setHistoryCap(0);
    X11Pasteboard pasteboard;
    X11Workspace workspace;
    PasteboardMonitor monitor(pasteboard, workspace, store, [] { return CaptureSettings{}; }, {});
    monitor.start();

    std::vector<double> latencies;
    for (int i = 0; i < 100; ++i) {
        QElapsedTimer since;
        since.start();
        copyWithXclip(QStringLiteral("UTF8_STRING"),
                      QStringLiteral("benchmark copy %1 of the capture path").arg(i).toUtf8());
        const double ms = CaptureTiming::waitForRows(store, i + 1, since);
        if (ms >= 0)
            latencies.push_back(ms);
    }
    Bench::report(QStringLiteral("capture: text copy → stored row (100, incl. xclip start)"),
                  CaptureTiming::latencyFigure(latencies),
                  QStringLiteral("med <= 30, p95 <= 60 ms"));

    const QByteArray png = screenshotPng();
    const qint64 before = store.count();
    QElapsedTimer since;
    since.start();
    copyWithXclip(QStringLiteral("image/png"), png);
    const double pngMs = CaptureTiming::waitForRows(store, before + 1, since);
    Bench::report(QStringLiteral("capture: 1920×1080 PNG copy → row + thumbnail"),
                  QStringLiteral("%1 ms (%2 KB)").arg(pngMs, 0, 'f', 0).arg(png.size() / 1024),
                  QStringLiteral("<= 300 ms"));

    CaptureTiming::reportIdleMonitorCpu();
}

} // namespace

ULVANE_BENCH_SUITE("capture", runCaptureSuite);
