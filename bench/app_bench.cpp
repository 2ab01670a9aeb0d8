// The application as a user's session runs it: the real binary, started by exec in a private
// home and watched from outside through /proc and the X server. How fast it starts capturing,
// how quiet and how small it is at rest, and how fast `ulvane --show` puts the picker on
// screen. Needs a real X server (make bench provides one).
#include "AppUnderTest.h"
#include "Bench.h"
#include "BenchData.h"
#include "PickerWatch.h"
#include "ProcFigures.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

using Bench::percentile;
using Bench::report;

constexpr int runs = 10;
constexpr int idleSeconds = 60;

void pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

QString mib(qint64 kib)
{
    return QStringLiteral("%1 MiB").arg(double(kib) / 1024.0, 0, 'f', 1);
}

QString medianAndP95(const std::vector<double> &ms)
{
    return QStringLiteral("med %1 / p95 %2 ms")
        .arg(percentile(ms, 0.5), 0, 'f', 1)
        .arg(percentile(ms, 0.95), 0, 'f', 1);
}

// 10 080 clips, kept whole: the default cap would trim them to 1000 at the first capture.
void fillHistory(AppUnderTest &app)
{
    app.setPreference(QStringLiteral("historyCap"), 0);
    Store store(app.storeFolder());
    BenchData::populateMixed(store, 10000);
}

void reportFailure(const QString &name, const AppUnderTest &app)
{
    report(name, QStringLiteral("(failed)"), QString());
    std::fprintf(stderr, "  the application's log:\n%s\n", app.log().constData());
}

// Launch → capturing, after one run that warms the disk cache.
void benchLaunch(AppUnderTest &app, const QString &name, const QString &bar, int expectedCount)
{
    std::vector<double> ms, readyMs;
    for (int i = 0; i <= runs; ++i) {
        const double elapsed = app.launch();
        const double ready = app.readyMs();
        const QByteArray line = app.launchLine();
        app.stop();
        if (elapsed < 0)
            return reportFailure(name, app);
        const QRegularExpressionMatch count =
            QRegularExpression(QStringLiteral("store count=(\\d+)")).match(QString::fromUtf8(line));
        if (count.hasMatch() && count.captured(1).toInt() != expectedCount)
            std::fprintf(stderr, "  (the history holds %s clips, not %d)\n",
                         qPrintable(count.captured(1)), expectedCount);
        if (i > 0) {
            ms.push_back(elapsed);
            readyMs.push_back(ready);
        }
        if (qEnvironmentVariableIsSet("ULVANE_BENCH_TRACE"))
            std::fprintf(stderr, "TRACE launch %d: %.1f ms\n", i, elapsed);
        pause(200);
    }
    report(name, medianAndP95(ms), bar);
    report(QString(name).replace(QStringLiteral("capturing"),
                                 QStringLiteral("ready (tray and picker built)")),
           medianAndP95(readyMs), QString());
}

// Waits until the start-up work (text recognition of the newest images) is over: two seconds
// in a row with less than 10 ms of CPU each. Returns the seconds it took.
int waitUntilQuiet(pid_t pid, int limitSeconds)
{
    int quietSeconds = 0, waited = 0;
    double cpu = ProcFigures::cpuSeconds(pid);
    while (quietSeconds < 2 && waited < limitSeconds) {
        pause(1000);
        ++waited;
        const double now = ProcFigures::cpuSeconds(pid);
        quietSeconds = now - cpu < 0.01 ? quietSeconds + 1 : 0;
        cpu = now;
    }
    return waited;
}

// Idle with the picker hidden: wake-ups, CPU and memory, with what the private pages are.
void benchIdle(AppUnderTest &app)
{
    const pid_t pid = app.pid();
    pause(2500);
    report(QStringLiteral("RSS 2.5 s after launch, OCR running"),
           mib(ProcFigures::memoryOf(pid).rssKiB), QString());
    const int settled = waitUntilQuiet(pid, 90);
    std::fprintf(stderr, "  (start-up work over %d s after the first look)\n", settled);
    // The recognition models are let go 30 s after the last picture: once, not while idle.
    const double beforeRelease = ProcFigures::cpuSeconds(pid);
    pause(30000);
    waitUntilQuiet(pid, 30);
    report(QStringLiteral("start-up OCR: the models' release, once"),
           QStringLiteral("%1 ms CPU").arg((ProcFigures::cpuSeconds(pid) - beforeRelease) * 1000, 0,
                                          'f', 1),
           QString());

    // A look every second: a pool thread that ends meanwhile takes little uncounted with it.
    ProcFigures::ThreadActivity activity;
    for (int second = 0; second <= idleSeconds; ++second) {
        if (second > 0)
            pause(1000);
        activity.look(ProcFigures::sampleThreads(pid));
    }
    const ProcFigures::Memory memory = ProcFigures::memoryOf(pid);
    QFile smapsFile(QStringLiteral("/proc/%1/smaps").arg(pid));
    const QByteArray smaps = smapsFile.open(QIODevice::ReadOnly) ? smapsFile.readAll() : "";

    const double perMinute = 60.0 / idleSeconds;
    QStringList busiest;
    for (const ProcFigures::Wakeups &thread : activity.wakeups()) {
        if (thread.count > 0 && busiest.size() < 4)
            busiest << QStringLiteral("%1 %2 (%3 ms CPU)")
                           .arg(thread.thread)
                           .arg(double(thread.count) * perMinute)
                           .arg(double(thread.runNs) * perMinute / 1e6, 0, 'f', 1);
    }
    report(QStringLiteral("idle wake-ups per minute, all threads"),
           QString::number(qRound64(double(activity.totalWakeups()) * perMinute)),
           QStringLiteral("<= 10"));
    report(QStringLiteral("  of which the busiest threads, per minute"),
           busiest.isEmpty() ? QStringLiteral("none") : busiest.join(QStringLiteral(", ")),
           QString());
    report(QStringLiteral("idle CPU"),
           QStringLiteral("%1 CPU-s per minute").arg(activity.cpuSeconds() * perMinute, 0, 'f', 3),
           QStringLiteral("<= 0.01"));
    report(QStringLiteral("idle RSS"), mib(memory.rssKiB), QStringLiteral("<= 60 MiB"));
    report(QStringLiteral("idle PSS"), mib(memory.pssKiB), QString());
    report(QStringLiteral("idle USS (private clean + dirty)"), mib(memory.ussKiB),
           QStringLiteral("<= 30 MiB"));
    // Clean library pages count as private only while no other process maps them (this one
    // is a Qt program too); the dirty ones are the application's own whatever runs beside it.
    report(QStringLiteral("  of which private dirty"), mib(memory.dirtyKiB), QString());
    for (const ProcFigures::PrivatePart &part :
         ProcFigures::privateParts(smaps, app.storeFolder(), ProcFigures::stackPointers(pid), 8))
        report(QStringLiteral("  private: ") + part.kind, mib(part.kib), QString());
}

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
