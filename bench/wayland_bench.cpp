// Copy → stored row through the real Wayland clipboard layer (data-control on a connection of
// its own) and the monitor: from the moment the tests' clipboard owner holds the selection,
// and from starting wl-copy, whose own start weighs most; then the monitor's cost while nothing
// is copied. Then the real application on Wayland: its start, and how quiet and small it is at
// rest. `make bench` runs this suite alone inside scripts/wayland-session; in the X11 session
// it has nothing to measure and adds no row.
#include "AppFigures.h"
#include "AppUnderTest.h"
#include "Bench.h"
#include "capture/PasteboardMonitor.h"
#include "CaptureTiming.h"
#include "platform/wayland/WaylandDataControl.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <memory>

namespace {

// wl-copy returns once its forked child serves the clipboard. The type is given, so no time
// goes into guessing it from the content.
void copyWithWlCopy(const QByteArray &text)
{
    QProcess copy;
    copy.start(QStringLiteral("wl-copy"),
               {QStringLiteral("--type"), QStringLiteral("text/plain;charset=utf-8")});
    copy.waitForStarted();
    copy.write(text);
    copy.closeWriteChannel();
    copy.waitForFinished(10000);
}

// Starts an owner of the text and returns once the compositor has its selection (the owner
// then says "ready"); the owner serves until the next one takes the clipboard.
std::unique_ptr<QProcess> startOwner(const QString &text)
{
    auto owner = std::make_unique<QProcess>();
    owner->start(QStringLiteral(ULVANE_WAYLAND_OWNER),
                 {QStringLiteral("--type"), QStringLiteral("text/plain=") + text});
    while (!owner->canReadLine() && owner->waitForReadyRead(10000)) {
    }
    return owner;
}

// The application on Qt's Wayland platform; the bench itself runs offscreen.
void benchApplication()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const auto restore = qScopeGuard([&platform] { qputenv("QT_QPA_PLATFORM", platform); });
    qputenv("QT_QPA_PLATFORM", "wayland");
    const QString binary = QCoreApplication::applicationDirPath() + QStringLiteral("/../ulvane");
    {
        AppUnderTest app(binary);
        if (!app.isUsable())
            return;
        AppFigures::benchLaunch(app, QStringLiteral("launch → capturing, empty history (10 runs)"),
                                QStringLiteral("med <= 100 ms"), 0);
    }
    AppUnderTest app(binary);
    AppFigures::fillHistory(app);
    if (app.launch() < 0)
        return AppFigures::reportFailure(QStringLiteral("idle, 10k clips"), app);
    AppFigures::benchIdle(app);
}

void runWaylandSuite(const QStringList &)
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return;
    auto control = std::make_unique<WaylandDataControl>();
    if (!control->isValid()) {
        Bench::report(QStringLiteral("capture"), QStringLiteral("skipped: no data-control"), {});
        return;
    }
    QTemporaryDir dir;
    Store store(dir.path() + QStringLiteral("/s"));
    store.setHistoryCap(0);
    WaylandPasteboard pasteboard(std::move(control));
    WaylandWorkspace workspace;
    PasteboardMonitor monitor(pasteboard, workspace, store, [] { return CaptureSettings{}; }, {});
    monitor.start();

    std::vector<double> fromOwner;
    std::unique_ptr<QProcess> owner;
    for (int i = 0; i < 100; ++i) {
        std::unique_ptr<QProcess> next =
            startOwner(QStringLiteral("benchmark copy %1 of the owner").arg(i));
        QElapsedTimer since;
        since.start();
        const double ms = CaptureTiming::waitForRows(store, store.count() + 1, since);
        if (ms >= 0)
            fromOwner.push_back(ms);
        owner = std::move(next); // the one before has lost the clipboard and left
    }
    Bench::report(QStringLiteral("capture: text copy → stored row (100, from the selection)"),
                  CaptureTiming::latencyFigure(fromOwner),
                  QStringLiteral("med <= 30, p95 <= 60 ms"));

    std::vector<double> fromWlCopy;
    for (int i = 0; i < 100; ++i) {
        const qint64 before = store.count();
        QElapsedTimer since;
        since.start();
        copyWithWlCopy(QStringLiteral("benchmark copy %1 of wl-copy").arg(i).toUtf8());
        const double ms = CaptureTiming::waitForRows(store, before + 1, since);
        if (ms >= 0)
            fromWlCopy.push_back(ms);
    }
    Bench::report(QStringLiteral("capture: text copy → stored row (100, incl. wl-copy start)"),
                  CaptureTiming::latencyFigure(fromWlCopy), {});

    CaptureTiming::reportIdleMonitorCpu();
    benchApplication();
}

} // namespace

ULVANE_BENCH_SUITE("wayland", runWaylandSuite);
