// `make bench`: every registered suite, one table. `--quick` skips the 100 000-clip store;
// `--only <suite>` runs one suite.
#include "Bench.h"

#include <QApplication>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <map>

namespace Bench {

namespace {
std::map<QString, Suite> &suites()
{
    static std::map<QString, Suite> all;
    return all;
}
} // namespace

Registration::Registration(const char *name, Suite suite)
{
    suites()[QString::fromLatin1(name)] = std::move(suite);
}

void report(const QString &name, const QString &value, const QString &bar)
{
    std::printf("  %-50s %-28s %s\n", qPrintable(name), qPrintable(value), qPrintable(bar));
    std::fflush(stdout);
}

double percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const size_t index =
        std::min(samples.size() - 1, size_t(p * double(samples.size() - 1) + 0.5));
    return samples[index];
}

qint64 rssKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

} // namespace Bench

int main(int argc, char **argv)
{
    // The capture suite talks to a real X server; everything else needs none.
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Widgets for the picker suite; the others need only the GUI types.
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qsizetype only = args.indexOf(QStringLiteral("--only"));
    const QString wanted = only >= 0 && only + 1 < args.size() ? args[only + 1] : QString();
    std::printf("Ulvane benchmarks%s\n",
                args.contains(QStringLiteral("--quick")) ? " (quick)" : "");
    std::printf("  %-50s %-28s %s\n", "benchmark", "figure", "bar");
    for (const auto &[name, suite] : Bench::suites()) {
        if (wanted.isEmpty() || wanted == name)
            suite(args);
    }
    return 0;
}
