// `make bench`: every registered suite, one table. `--quick` skips the 100 000-clip store;
// `--only <suite>` runs one suite. Each figure is echoed to stderr as it is measured (a full
// run takes minutes); the table, aligned and grouped by suite, follows on stdout at the end.
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

struct Row
{
    QString suite, name, value, bar;
};
std::vector<Row> &rows()
{
    static std::vector<Row> all;
    return all;
}
QString currentSuite;

// Pads by characters, not bytes: the names hold arrows and multiplication signs.
QString padded(const QString &text, qsizetype width)
{
    return text + QString(qMax<qsizetype>(0, width - text.size()), u' ');
}

void printTable()
{
    qsizetype suiteWidth = 5, nameWidth = 9, valueWidth = 6;
    for (const Row &row : rows()) {
        suiteWidth = qMax(suiteWidth, row.suite.size());
        nameWidth = qMax(nameWidth, row.name.size());
        valueWidth = qMax(valueWidth, row.value.size());
    }
    auto line = [&](const QString &suite, const QString &name, const QString &value,
                    const QString &bar) {
        const QString gap = QStringLiteral("  ");
        const QString text = padded(suite, suiteWidth) + gap + padded(name, nameWidth) + gap +
                             padded(value, valueWidth) + gap + bar;
        qsizetype end = text.size();
        while (end > 0 && text.at(end - 1) == u' ')
            --end;
        std::printf("%s\n", text.left(end).toUtf8().constData());
    };
    line(u"suite"_qs, u"benchmark"_qs, u"figure"_qs, u"bar"_qs);
    line(QString(suiteWidth, u'-'), QString(nameWidth, u'-'), QString(valueWidth, u'-'),
         QString(12, u'-'));
    QString previous;
    for (const Row &row : rows()) {
        line(row.suite == previous ? QString() : row.suite, row.name, row.value,
             row.bar.isEmpty() ? u"(reference)"_qs : row.bar);
        previous = row.suite;
    }
    std::fflush(stdout);
}
} // namespace

Registration::Registration(const char *name, Suite suite)
{
    suites()[QString::fromLatin1(name)] = std::move(suite);
}

void report(const QString &name, const QString &value, const QString &bar)
{
    rows().push_back({currentSuite, name, value, bar});
    std::fprintf(stderr, "  %s: %s\n", qPrintable(name.trimmed()), qPrintable(value));
    std::fflush(stderr);
}

double percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const size_t index = std::min(samples.size() - 1, size_t(p * double(samples.size() - 1) + 0.5));
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
    for (const auto &[name, suite] : Bench::suites()) {
        if (!wanted.isEmpty() && wanted != name)
            continue;
        std::fprintf(stderr, "%s…\n", qPrintable(name));
        Bench::currentSuite = name;
        suite(args);
    }
    std::printf("Ulvane benchmarks%s\n",
                args.contains(QStringLiteral("--quick")) ? " (quick)" : "");
    Bench::printTable();
    return 0;
}
