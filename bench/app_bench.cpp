// The application as a user's session runs it: the real binary, started by exec in a private
// home and watched from outside through /proc and the X server. How fast it starts capturing,
// how quiet and how small it is at rest, and how fast `ulvane --show` puts the picker on
// screen. Needs a real X server (make bench provides one).
#include "AppFigures.h"
#include "AppUnderTest.h"
#include "Bench.h"
#include "PickerWatch.h"
#include "ProcFigures.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>

#include <cstdio>

namespace {

using namespace AppFigures;
using Bench::percentile;
using Bench::report;

constexpr int runs = 10;

void hidePicker(PickerWatch &watch)
{
    // A key as the user presses it, to whichever window has the focus: the picker's.
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
    if (!watch.waitHidden(2000))
        std::fprintf(stderr, "  (the picker did not hide on Escape)\n");
}

// `ulvane --show` with the application idle: the picker viewable, first drawn on, and the
// command's own run.
void benchShow(AppUnderTest &app)
{
    PickerWatch watch;
    if (!watch.problem().isEmpty()) {
        report(QStringLiteral("--show → picker mapped"),
               QStringLiteral("(skipped: %1)").arg(watch.problem()), QString());
        return;
    }
    // The first appearance, untimed, tells which window is the picker.
    const bool found = watch.identify(
        app.pid(), [&app] { app.run({QStringLiteral("--show")}).waitForExit(5000); }, 5000);
    if (!found) {
        report(QStringLiteral("--show → picker mapped"),
               QStringLiteral("(no picker window appeared)"), QString());
        return;
    }
    pause(300);
    hidePicker(watch);
    pause(300);

    std::vector<double> mapped, painted, exited;
    for (int i = 0; i < runs; ++i) {
        ChildProcess show;
        const PickerWatch::Timing timing = watch.measure(
            [&] {
                show = app.run({QStringLiteral("--show")});
                return show.pidfd();
            },
            3000);
        const int status = show.waitForExit(2000);
        if (status != 0)
            std::fprintf(stderr, "  (`ulvane --show` ended with %d)\n", status);
        if (timing.mapped >= 0)
            mapped.push_back(timing.mapped);
        if (timing.painted >= 0)
            painted.push_back(timing.painted);
        if (timing.exited >= 0)
            exited.push_back(timing.exited);
        pause(300);
        if (i + 1 < runs) {
            hidePicker(watch);
            pause(300);
        }
    }
    auto figure = [](const std::vector<double> &ms) {
        return ms.size() == size_t(runs)
                   ? medianAndP95(ms)
                   : QStringLiteral("(%1 of %2 runs)").arg(ms.size()).arg(runs);
    };
    report(QStringLiteral("--show → picker mapped (10 runs)"), figure(mapped),
           QStringLiteral("med <= 60 ms"));
    report(QStringLiteral("--show → picker painted (10 runs)"), figure(painted),
           QStringLiteral("med <= 80 ms"));
    report(QStringLiteral("--show process, exec → exit"), figure(exited),
           QStringLiteral("med < 20 ms"));
    pause(1200);
    report(QStringLiteral("RSS with the picker shown"),
           mib(ProcFigures::memoryOf(app.pid()).rssKiB), QString());
    hidePicker(watch);
}

void runAppSuite(const QStringList &)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        report(QStringLiteral("application"), QStringLiteral("(skipped: no X server)"), QString());
        return;
    }
    const QString binary = QCoreApplication::applicationDirPath() + QStringLiteral("/../ulvane");
    {
        AppUnderTest app(binary);
        if (!app.isUsable()) {
            report(QStringLiteral("application"), QStringLiteral("(binary not found)"), QString());
            return;
        }
        // The warm-up run creates the store; the timed ones open it empty.
        benchLaunch(app, QStringLiteral("launch → capturing, empty history (10 runs)"),
                    QStringLiteral("med <= 100 ms"), 0);
    }
    {
        AppUnderTest app(binary);
        fillHistory(app);
        benchLaunch(app, QStringLiteral("launch → capturing, 10k clips (10 runs)"),
                    QStringLiteral("med <= 150 ms"), 10080);
    }
    AppUnderTest app(binary);
    fillHistory(app);
    if (app.launch() < 0)
        return reportFailure(QStringLiteral("idle, 10k clips"), app);
    benchIdle(app);
    benchShow(app);
}

} // namespace

ULVANE_BENCH_SUITE("app", runAppSuite);
