#include "AppFigures.h"

#include "AppUnderTest.h"
#include "Bench.h"
#include "BenchData.h"
#include "ProcFigures.h"
#include "store/Store.h"

#include <QFile>
#include <QRegularExpression>

#include <chrono>
#include <cstdio>
#include <thread>

namespace AppFigures {

using Bench::percentile;
using Bench::report;

namespace {

constexpr int runs = 10;
constexpr int idleSeconds = 60;

} // namespace

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

namespace {

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

} // namespace

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
           QStringLiteral("%1 ms CPU")
               .arg((ProcFigures::cpuSeconds(pid) - beforeRelease) * 1000, 0, 'f', 1),
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

} // namespace AppFigures
