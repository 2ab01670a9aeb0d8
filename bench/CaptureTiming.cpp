#include "CaptureTiming.h"

#include "Bench.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

namespace CaptureTiming {

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

double waitForRows(Store &store, qint64 rows, QElapsedTimer &since)
{
    while (since.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (store.count() >= rows)
            return double(since.nsecsElapsed()) / 1e6;
    }
    return -1;
}

QString latencyFigure(const std::vector<double> &latencies)
{
    return QStringLiteral("med %1 / p95 %2 ms (%3 stored)")
        .arg(Bench::percentile(latencies, 0.5), 0, 'f', 1)
        .arg(Bench::percentile(latencies, 0.95), 0, 'f', 1)
        .arg(latencies.size());
}

void reportIdleMonitorCpu()
{
    const double cpuBefore = cpuSeconds();
    QElapsedTimer idle;
    idle.start();
    QEventLoop loop;
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    const double perMinute = (cpuSeconds() - cpuBefore) * 60000.0 / double(idle.elapsed());
    Bench::report(QStringLiteral("capture: idle monitor CPU (10 s, no copies)"),
                  QStringLiteral("%1 CPU-s per minute").arg(perMinute, 0, 'f', 3),
                  QStringLiteral("<= 0.2"));
}

} // namespace CaptureTiming
