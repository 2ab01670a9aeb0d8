#pragma once

#include "core/Clip.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

struct sqlite3;
struct sqlite3_stmt;

// The store's SQLite file: opening it privately, its schema and the one migration (the
// full-text index with prefix indexes), and statements with their bound parameters. Every call
// fails soft: errors are logged and become false or an empty list. The connection is
// serialised, so any thread may use it.
class StoreDatabase
{
public:
    // Parameters bind by kind: null, text, integer, double, bytes; anything else binds NULL.
    using Params = QList<QVariant>;
    // Column name to value: qint64, double or QString. BLOB and NULL columns are left out.
    using Row = QHash<QString, QVariant>;

    // A prepared statement, finalized when it goes out of scope.
    class Statement
    {
    public:
        explicit Statement(sqlite3_stmt *handle) : m_handle(handle) {}
        ~Statement();
        Statement(const Statement &) = delete;
        Statement &operator=(const Statement &) = delete;
        sqlite3_stmt *handle() const { return m_handle; }
        explicit operator bool() const { return m_handle != nullptr; }

    private:
        sqlite3_stmt *m_handle;
    };

    static constexpr int busyTimeoutMs = 3000;

    // Opens (creating when missing) the file with owner-only permissions, then its schema.
    explicit StoreDatabase(const QString &path);
    ~StoreDatabase();
    StoreDatabase(const StoreDatabase &) = delete;
    StoreDatabase &operator=(const StoreDatabase &) = delete;

    bool ftsAvailable() const { return m_ftsAvailable; }
    QString lastError() const;

    bool exec(const QString &sql);
    bool run(const QString &sql, const Params &params = {});
    QList<Row> rows(const QString &sql, const Params &params = {});
    // The rows as clips, decoded by column name; a row's missing or mistyped column reads as
    // the field's default.
    QList<Clip> clips(const QString &sql, const Params &params = {});
    // forRows adds the statement's start to the logged failure.
    sqlite3_stmt *prepare(const QString &sql, bool forRows);
    static void bind(sqlite3_stmt *statement, const Params &params);

private:
    void open(const QString &path);
    void createSchema();

    sqlite3 *m_db = nullptr;
    bool m_ftsAvailable = false;
};
