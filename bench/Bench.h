#pragma once

// The benchmark table shared by every benchmark file. A file registers its suite with
// ULVANE_BENCH_SUITE; main runs the suites in name order and prints one table.

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace Bench {

// One line of the table: what was measured, the figure, the bar it must stay within.
void report(const QString &name, const QString &value, const QString &bar);
double percentile(std::vector<double> samples, double p);
// Resident memory now ("VmRSS:") or at its peak ("VmHWM:"), in KiB.
qint64 rssKiB(const char *field = "VmRSS:");

using Suite = std::function<void(const QStringList &arguments)>;
struct Registration
{
    Registration(const char *name, Suite suite);
};

} // namespace Bench

#define ULVANE_BENCH_SUITE(name, function)                                                         \
    static const Bench::Registration benchRegistration_##function(name, function)
