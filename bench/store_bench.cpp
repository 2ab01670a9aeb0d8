// Benchmarks of the store and the history exchange. Prints one table; see README.md here.
#include "Bench.h"
#include "BenchData.h"
#include "core/Util.h"
#include "exchange/ExportImport.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUuid>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Bench::percentile;
using Bench::report;
using Bench::rssKiB;
using BenchData::newId;
using BenchData::populate;
using BenchData::TextGenerator;

// The bare full-text match on a second connection to the store's file (the store keeps its
// statements to itself), set up as the store sets up its own.
class FtsFloor
{
public:
    explicit FtsFloor(const QString &storeDir)
    {
        sqlite3_open_v2(QFile::encodeName(storeDir + QStringLiteral("/store.sqlite")).constData(),
                        &m_db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_exec(m_db, "PRAGMA mmap_size=134217728", nullptr, nullptr, nullptr);
    }
    ~FtsFloor() { sqlite3_close(m_db); }
    FtsFloor(const FtsFloor &) = delete;
    FtsFloor &operator=(const FtsFloor &) = delete;

    qsizetype count(const QString &expression)
    {
        sqlite3_stmt *statement = nullptr;
        qsizetype n = 0;
        const QByteArray utf8 = expression.toUtf8();
        if (sqlite3_prepare_v2(m_db, "SELECT count(*) FROM fts WHERE fts MATCH ?", -1, &statement,
                               nullptr) == SQLITE_OK) {
            sqlite3_bind_text(statement, 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
            if (sqlite3_step(statement) == SQLITE_ROW)
                n = qsizetype(sqlite3_column_int64(statement, 0));
        }
        sqlite3_finalize(statement);
        return n;
    }

private:
    sqlite3 *m_db = nullptr;
};

void benchSearch(int clips)
{
    QTemporaryDir dir;
    Store store(dir.path() + QStringLiteral("/s"));
    TextGenerator gen;
    QElapsedTimer timer;
    timer.start();
    std::vector<QString> samples;
    populate(store, gen, clips, &samples);
    const QString n = QString::number(clips / 1000) + QStringLiteral("k");
    report(QStringLiteral("populate %1 clips (one transaction)").arg(n),
           QStringLiteral("%1 s").arg(double(timer.elapsed()) / 1000.0, 0, 'f', 1), QString());

    auto measure = [&](const QString &label, const QString &bar, const QStringList &queries,
                       const std::function<qsizetype(const QString &)> &run) {
        std::vector<double> ms;
        for (const QString &q : queries) {
            QElapsedTimer t;
            t.start();
            const qsizetype found = run(q);
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
            if (qEnvironmentVariableIsSet("ULVANE_BENCH_TRACE"))
                std::printf("TRACE %8.2f ms %4d %s\n", ms.back(), int(found), qPrintable(q));
        }
        report(label.arg(n),
               QStringLiteral("med %1 / p95 %2 ms")
                   .arg(percentile(ms, 0.5), 0, 'f', 2)
                   .arg(percentile(ms, 0.95), 0, 'f', 2),
               bar);
    };
    FtsFloor floor(store.dir());
    auto search = [&store](const QString &q) {
        return store.search(q, ClipFilter::All, 400).size();
    };

    measure(QStringLiteral("search %1: empty query (newest 400)"), QStringLiteral("p95 <= 3 ms"),
            QStringList(300, QString()), search);

    // People search for clips they remember: one or two words of one clip, typed partly
    // (2-10 letters).
    QStringList prefixes;
    for (int i = 0; i < 600; ++i) {
        const QStringList words =
            samples[size_t(gen.random().bounded(int(samples.size())))].split(u' ');
        auto prefix = [&gen](const QString &w) { return w.left(2 + int(gen.random().bounded(9))); };
        const QString first = prefix(words[int(gen.random().bounded(words.size()))]);
        prefixes << (i % 3 != 0 || words.size() < 2
                         ? first
                         : first + u' ' + prefix(words[int(gen.random().bounded(words.size()))]));
    }
    measure(QStringLiteral("search %1: full-text, 1-2 word prefixes"),
            QStringLiteral("med <= 1, p95 <= 15 ms"), prefixes, search);
    // SQLite's own cost of merging the index entries of every term with those prefixes, the
    // floor under any statement that uses the full-text index.
    measure(QStringLiteral("  (floor %1: bare FTS5 MATCH count, same queries)"), QString(),
            prefixes, [&floor](const QString &q) {
                QStringList phrases;
                for (const QString &piece : q.split(u' ', Qt::SkipEmptyParts))
                    phrases << u'"' + piece + QStringLiteral("\"*");
                return floor.count(phrases.join(u' '));
            });

    QStringList fragments;
    for (int i = 0; i < 60; ++i) {
        QString w;
        while (w.size() < 6)
            w = gen.word();
        fragments << w.mid(1, 4) + QStringLiteral("q"); // inside a word, matches nothing
    }
    measure(QStringLiteral("search %1: substring fallback (no token match)"),
            QStringLiteral("p95 <= 80 ms"), fragments, search);
}

void benchInsert()
{
    QTemporaryDir dir;
    Store store(dir.path() + QStringLiteral("/s"));
    TextGenerator gen;
    const int count = 3000;
    std::vector<QString> texts;
    for (int i = 0; i < count; ++i)
        texts.push_back(gen.text() + QString::number(i));
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i) {
        const QString &t = texts[size_t(i)];
        NewClip clip;
        clip.items = {{{Uti::plainText, t.toUtf8()}}};
        clip.excerpt = Util::excerpt(t, Util::excerptLimit);
        clip.appId = QStringLiteral("bench");
        clip.appName = QStringLiteral("Bench");
        clip.created = Util::now();
        store.add(clip);
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    report(QStringLiteral("insert with dedupe (cap 1000, 3000 clips)"),
           QStringLiteral("%1 clips/s").arg(int(count / seconds)),
           QStringLiteral(">= 500 clips/s"));
}

void benchExchange()
{
    QTemporaryDir dir;
    TextGenerator gen;
    const int count = 10000;
    qint64 exportedBytes = 0;
    QByteArray document;
    {
        Store source(dir.path() + QStringLiteral("/source"));
        source.setHistoryCap(0);
        for (int i = 0; i < count; ++i) {
            const QString t = gen.text() + QString::number(i);
            NewClip clip;
            clip.items = {{{Uti::plainText, t.toUtf8()}}};
            clip.excerpt = Util::excerpt(t, Util::excerptLimit);
            clip.created = Util::now();
            clip.ifStored = NewClip::IfStored::StoreAgain;
            source.add(clip);
        }
        QElapsedTimer timer;
        timer.start();
        document = ExportImport::exportAll(source).value_or(QByteArray());
        exportedBytes = document.size();
        report(QStringLiteral("export 10k clips"),
               QStringLiteral("%1 s, %2 MB")
                   .arg(double(timer.elapsed()) / 1000.0, 0, 'f', 2)
                   .arg(double(exportedBytes) / 1e6, 0, 'f', 1),
               QString());
    }
    Store target(dir.path() + QStringLiteral("/target"));
    target.setHistoryCap(0);
    const qint64 rssBefore = rssKiB();
    QElapsedTimer timer;
    timer.start();
    const auto result = ExportImport::importData(document, target);
    const double seconds = double(timer.elapsed()) / 1000.0;
    report(QStringLiteral("import 10k clips (%1 imported)").arg(result.imported),
           QStringLiteral("%1 s, %2 clips/s")
               .arg(seconds, 0, 'f', 2)
               .arg(int(result.imported / qMax(seconds, 0.001))),
           QStringLiteral("<= 20 s"));
    report(QStringLiteral("import memory growth (RSS after - before)"),
           QStringLiteral("%1 MiB").arg(double(rssKiB() - rssBefore) / 1024.0, 0, 'f', 1),
           QStringLiteral("reported"));
}

void runStoreSuite(const QStringList &args)
{
    if (args.contains(QStringLiteral("--search-only"))) {
        benchSearch(100000);
        return;
    }
    benchInsert();
    benchSearch(10000);
    if (!args.contains(QStringLiteral("--quick")))
        benchSearch(100000);
    benchExchange();
}

} // namespace

ULVANE_BENCH_SUITE("store", runStoreSuite);
