#pragma once

#include "core/Clip.h"

#include <QList>
#include <QString>

class StoreDatabase;

// Finds clips for what the user types: every word as a prefix in the full-text index, and when
// no word matches that way, the text anywhere inside excerpt, title, application name or
// recognised text. Newest first, restricted by the picker's filter.
class StoreSearch
{
public:
    explicit StoreSearch(StoreDatabase &database) : m_db(database) {}

    QList<Clip> search(const QString &query, ClipFilter filter, int limit);

    // The SQL condition that admits the filter's entries.
    static QString condition(ClipFilter filter);

private:
    QList<Clip> fullTextSearch(const QString &expression, ClipFilter filter, qint64 limit);
    QList<Clip> substringSearch(const QString &pattern, const QString &condition, qint64 limit);
    // The rows with these rowids, newest first, at most limit of them.
    QList<Clip> newestRows(const QList<qint64> &rowids, qint64 limit);

    StoreDatabase &m_db;
};
