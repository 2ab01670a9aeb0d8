#include "store/StoreSearch.h"

#include "store/StoreDatabase.h"

#include <algorithm>
#include <limits>
#include <unordered_set>
#include <utility>
#include <vector>

#include <sqlite3.h>

namespace {

bool isBlank(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

QString StoreSearch::condition(ClipFilter filter)
{
    switch (filter) {
    case ClipFilter::All:
        return QStringLiteral("1=1");
    case ClipFilter::Favorites:
        return QStringLiteral("pinned=1");
    case ClipFilter::Text:
        return QStringLiteral("kind IN ('text','code','color')");
    case ClipFilter::Images:
        return QStringLiteral("kind='image'");
    case ClipFilter::Files:
        return QStringLiteral("kind='file'");
    case ClipFilter::Links:
        return QStringLiteral("kind='link'");
    }
    return QStringLiteral("1=1");
}

QList<Clip> StoreSearch::search(const QString &query, ClipFilter filter, int limit)
{
    const QString condition = StoreSearch::condition(filter);
    const QString q = trimBlanks(query);
    const qint64 max = limit;
    if (q.isEmpty()) {
        return m_db.clips(QStringLiteral("SELECT * FROM clips WHERE ") + condition +
                              QStringLiteral(" ORDER BY created DESC LIMIT ?"),
                          {max});
    }

    if (m_db.ftsAvailable()) {
        QStringList phrases;
        for (const QString &piece : q.split(u' ', Qt::SkipEmptyParts)) {
            QString phrase = piece;
            phrase.remove(u'"');
            phrase = u'"' + phrase + QStringLiteral("\"*");
            // Repeating a phrase cannot change an AND; it only costs time.
            if (!phrases.contains(phrase))
                phrases.append(phrase);
        }
        const QString expression = phrases.join(u' ');
        if (!expression.isEmpty()) {
            QList<Clip> found = fullTextSearch(expression, filter, max);
            if (!found.isEmpty())
                return found;
        }
    }

    return substringSearch(u'%' + q + u'%', condition, max);
}

namespace {

QString jsonArray(const QList<qint64> &values)
{
    QString json = QStringLiteral("[");
    for (const qint64 value : values) {
        if (json.size() > 1)
            json += u',';
        json += QString::number(value);
    }
    return json + u']';
}

} // namespace

// SQLite would sort whole rows through a temporary b-tree, several times the cost of reading
// them; a few hundred values sort here in microseconds.
QList<Clip> StoreSearch::newestRows(const QList<qint64> &rowids, qint64 limit)
{
    QList<Clip> found = m_db.clips(
        QStringLiteral("SELECT * FROM clips WHERE rowid IN (SELECT value FROM json_each(?))"),
        {jsonArray(rowids)});
    std::stable_sort(found.begin(), found.end(),
                     [](const Clip &a, const Clip &b) { return a.created > b.created; });
    if (qint64(found.size()) > limit)
        found.resize(limit);
    return found;
}

// The fallback runs when no word starts with the query, so few rows match and nearly every
// row is read. Reading the table in storage order and sorting the matches' times here is a
// good deal cheaper than following the time index to each row in turn.
QList<Clip> StoreSearch::substringSearch(const QString &pattern, const QString &condition,
                                         qint64 limit)
{
    const StoreDatabase::Statement scan(m_db.prepare(
        QStringLiteral("SELECT rowid, created FROM clips NOT INDEXED WHERE ") + condition +
            QStringLiteral(" AND\n  (excerpt LIKE ?1 OR title LIKE ?1 OR "
                           "app_name LIKE ?1 OR ocr LIKE ?1)"),
        true));
    if (!scan.handle() || limit <= 0)
        return {};
    const QByteArray utf8 = pattern.toUtf8();
    sqlite3_bind_text(scan.handle(), 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    std::vector<std::pair<double, qint64>> matches;
    while (sqlite3_step(scan.handle()) == SQLITE_ROW)
        matches.emplace_back(sqlite3_column_double(scan.handle(), 1),
                             sqlite3_column_int64(scan.handle(), 0));
    const auto newest = matches.begin() + std::min<qsizetype>(qsizetype(matches.size()), limit);
    std::partial_sort(matches.begin(), newest, matches.end(),
                      [](const auto &a, const auto &b) { return a.first > b.first; });
    QList<qint64> rowids;
    for (auto it = matches.begin(); it != newest; ++it)
        rowids.append(it->second);
    return newestRows(rowids, limit);
}

// Joining every match and sorting them all by time costs about a microsecond a match: fine for
// a precise query, tens of milliseconds for a two-letter prefix that matches a fifth of a large
// history. Rows mostly carry rowids in time order (new rows take the next rowid, and touchTop
// renumbers the row it moves), and the index yields matches newest rowid first, so the first
// `limit` matches are almost always the answer: they are taken when no row below them in
// rowid order is newer than the oldest of them. Otherwise (a history import added older
// entries late) the history is walked newest first, each row tested against the matches read
// so far, reading further only when the walk passes below them. Same rows, same order as the
// join in every case.
QList<Clip> StoreSearch::fullTextSearch(const QString &expression, ClipFilter filter, qint64 limit)
{
    const QString condition = StoreSearch::condition(filter);
    if (filter != ClipFilter::All) {
        return m_db.clips(QStringLiteral("SELECT c.* FROM clips c JOIN fts f ON c.rowid=f.rowid\n"
                                         "WHERE fts MATCH ? AND ") +
                              condition + QStringLiteral("\nORDER BY c.created DESC LIMIT ?"),
                          {expression, limit});
    }
    if (limit <= 0)
        return {};

    const StoreDatabase::Statement matches(m_db.prepare(
        QStringLiteral("SELECT rowid FROM fts WHERE fts MATCH ? ORDER BY rowid DESC"), true));
    if (!matches.handle())
        return {};
    const QByteArray utf8 = expression.toUtf8();
    sqlite3_bind_text(matches.handle(), 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    std::unordered_set<qint64> matched;
    QList<qint64> readInOrder;
    qint64 lowestRead = std::numeric_limits<qint64>::max();
    bool exhausted = false;
    auto readOne = [&] {
        if (exhausted)
            return;
        if (sqlite3_step(matches.handle()) != SQLITE_ROW) {
            exhausted = true;
            return;
        }
        lowestRead = sqlite3_column_int64(matches.handle(), 0);
        matched.insert(lowestRead);
        readInOrder.append(lowestRead);
    };
    while (!exhausted && qint64(readInOrder.size()) <= limit)
        readOne();
    if (readInOrder.isEmpty())
        return {};

    if (exhausted)
        return newestRows(readInOrder, limit);

    const QList<qint64> candidates = readInOrder.first(limit);
    QList<Clip> found = newestRows(candidates, limit);
    if (qint64(found.size()) == limit &&
        m_db.rows(QStringLiteral("SELECT 1 FROM clips INDEXED BY idx_clips_created\n"
                                 "WHERE created > ? AND rowid < ? LIMIT 1"),
                  {found.last().created, candidates.last()})
            .isEmpty())
        return found;

    const StoreDatabase::Statement newest(
        m_db.prepare(QStringLiteral("SELECT rowid FROM clips INDEXED BY "
                                    "idx_clips_created ORDER BY created DESC"),
                     true));
    if (!newest.handle())
        return {};
    QList<qint64> rowids;
    while (qint64(rowids.size()) < limit && sqlite3_step(newest.handle()) == SQLITE_ROW) {
        const qint64 rowid = sqlite3_column_int64(newest.handle(), 0);
        while (!exhausted && rowid < lowestRead)
            readOne();
        if (matched.count(rowid) != 0)
            rowids.append(rowid);
    }
    return newestRows(rowids, limit);
}
