#include "store/StoreDatabase.h"

#include "core/Log.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX
constexpr int openFlags = 0x10006;

void narrowFile(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info;
    if (::stat(native.constData(), &info) == 0 && (info.st_mode & 0077) != 0)
        ::chmod(native.constData(), info.st_mode & 0600);
}

QString columnText(sqlite3_stmt *statement, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(statement, column));
}

} // namespace

StoreDatabase::Statement::~Statement()
{
    sqlite3_finalize(m_handle);
}

StoreDatabase::StoreDatabase(const QString &path)
{
    open(path);
    createSchema();
}

StoreDatabase::~StoreDatabase()
{
    if (m_db)
        sqlite3_close(m_db);
}

QString StoreDatabase::lastError() const
{
    return QString::fromUtf8(sqlite3_errmsg(m_db));
}

void StoreDatabase::open(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    // Create the file ourselves so it never exists with the umask's wider mode; SQLite gives
    // its -wal and -shm companions the database file's permissions.
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    narrowFile(path);
    narrowFile(path + QStringLiteral("-wal"));
    narrowFile(path + QStringLiteral("-shm"));

    const int rc = sqlite3_open_v2(native.constData(), &m_db, openFlags, nullptr);
    if (rc != SQLITE_OK)
        Log::line(QStringLiteral("[Store] open failed: ") +
                  QString::fromUtf8(sqlite3_errmsg(m_db)));
    exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    exec(QStringLiteral("PRAGMA busy_timeout=3000"));
    // INSERT OR REPLACE deletes the row it replaces; only with recursive triggers does that
    // delete reach the full-text index, which otherwise keeps the old words of a stale rowid.
    sqlite3_exec(m_db, "PRAGMA recursive_triggers=ON", nullptr, nullptr, nullptr);
    // In WAL mode NORMAL still never corrupts the database; it only lets a power cut take
    // back the last commits, and it spares a disk flush on every single-statement write.
    sqlite3_exec(m_db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    // Searches read rows all over the file; mapping it spares a copy per page.
    sqlite3_exec(m_db, "PRAGMA mmap_size=134217728", nullptr, nullptr, nullptr);
}

void StoreDatabase::createSchema()
{
    exec(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS clips(\n  id TEXT PRIMARY KEY, created REAL, kind TEXT, "
        "excerpt TEXT, title TEXT DEFAULT '',\n  app_bundle TEXT DEFAULT '', app_name TEXT "
        "DEFAULT '', digest TEXT,\n  pinned INTEGER DEFAULT 0, has_image INTEGER DEFAULT 0,\n  "
        "byte_size INTEGER DEFAULT 0, ocr TEXT DEFAULT ''\n)"));
    exec(QStringLiteral("CREATE INDEX IF NOT EXISTS idx_clips_created ON clips(created DESC)"));
    exec(QStringLiteral("CREATE INDEX IF NOT EXISTS idx_clips_digest ON clips(digest)"));
    // Prefix indexes of two and three letters: the first keystrokes of a search are the
    // widest prefixes, and without them each costs a merge of every term it starts.
    const QString ftsSql = QStringLiteral(
        "CREATE VIRTUAL TABLE IF NOT EXISTS fts USING fts5(\n  excerpt, title, app_name, ocr, "
        "content='clips', content_rowid='rowid', prefix='2 3'\n)");
    const QList<Row> existing =
        rows(QStringLiteral("SELECT sql FROM sqlite_master WHERE type='table' AND name='fts'"));
    const QString existingSql = existing.value(0).value(QStringLiteral("sql")).toString();
    if (!existingSql.isEmpty() && !existingSql.contains(QLatin1String("prefix="))) {
        // A store made before the prefix indexes: the index is derived from the rows, so it
        // is rebuilt once, in one transaction so a failure leaves the old one.
        // Another process holding the database keeps the old index for this run.
        if (exec(QStringLiteral("BEGIN IMMEDIATE"))) {
            const bool rebuilt = exec(QStringLiteral("DROP TABLE fts")) && exec(ftsSql) &&
                                 exec(QStringLiteral("INSERT INTO fts(fts) VALUES('rebuild')"));
            exec(rebuilt ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"));
            if (rebuilt)
                Log::line(QStringLiteral("[Store] full-text index rebuilt with prefix indexes"));
        }
    }
    m_ftsAvailable = exec(ftsSql);
    if (!m_ftsAvailable)
        return;
    exec(QStringLiteral(
        "CREATE TRIGGER IF NOT EXISTS clips_ai AFTER INSERT ON clips BEGIN\n  INSERT INTO "
        "fts(rowid, excerpt, title, app_name, ocr)\n  VALUES (new.rowid, new.excerpt, "
        "new.title, new.app_name, new.ocr);\nEND"));
    exec(QStringLiteral(
        "CREATE TRIGGER IF NOT EXISTS clips_ad AFTER DELETE ON clips BEGIN\n  INSERT INTO "
        "fts(fts, rowid, excerpt, title, app_name, ocr)\n  VALUES ('delete', old.rowid, "
        "old.excerpt, old.title, old.app_name, old.ocr);\nEND"));
    exec(QStringLiteral(
        "CREATE TRIGGER IF NOT EXISTS clips_au AFTER UPDATE ON clips BEGIN\n  INSERT INTO "
        "fts(fts, rowid, excerpt, title, app_name, ocr)\n  VALUES ('delete', old.rowid, "
        "old.excerpt, old.title, old.app_name, old.ocr);\n  INSERT INTO fts(rowid, excerpt, "
        "title, app_name, ocr)\n  VALUES (new.rowid, new.excerpt, new.title, new.app_name, "
        "new.ocr);\nEND"));
}

bool StoreDatabase::exec(const QString &sql)
{
    char *error = nullptr;
    const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &error);
    if (rc == SQLITE_OK)
        return true;
    Log::line(QStringLiteral("[Store] exec error: ") +
              (error ? QString::fromUtf8(error) : QStringLiteral("?")) +
              QStringLiteral(" \u2014 sql: ") + sql.left(60));
    sqlite3_free(error);
    return false;
}

void StoreDatabase::bind(sqlite3_stmt *statement, const Params &params)
{
    for (int i = 0; i < params.size(); ++i) {
        const QVariant &value = params[i];
        const int position = i + 1;
        switch (value.typeId()) {
        case QMetaType::QString: {
            const QByteArray utf8 = value.toString().toUtf8();
            sqlite3_bind_text(statement, position, utf8.constData(), int(utf8.size()),
                              SQLITE_TRANSIENT);
            break;
        }
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::LongLong:
            sqlite3_bind_int64(statement, position, value.toLongLong());
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            sqlite3_bind_double(statement, position, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            sqlite3_bind_blob(statement, position, bytes.constData(), int(bytes.size()),
                              SQLITE_TRANSIENT);
            break;
        }
        default:
            sqlite3_bind_null(statement, position);
        }
    }
}

sqlite3_stmt *StoreDatabase::prepare(const QString &sql, bool forRows)
{
    sqlite3_stmt *statement = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(m_db, utf8.constData(), int(utf8.size()), &statement, nullptr) ==
            SQLITE_OK &&
        statement)
        return statement;
    sqlite3_finalize(statement);
    QString message =
        QStringLiteral("[Store] prepare failed: ") + QString::fromUtf8(sqlite3_errmsg(m_db));
    if (forRows)
        message += QStringLiteral(" \u2014 ") + sql.left(80);
    Log::line(message);
    return nullptr;
}

bool StoreDatabase::run(const QString &sql, const Params &params)
{
    sqlite3_stmt *statement = prepare(sql, false);
    if (!statement)
        return false;
    bind(statement, params);
    const int rc = sqlite3_step(statement);
    sqlite3_finalize(statement);
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

QList<StoreDatabase::Row> StoreDatabase::rows(const QString &sql, const Params &params)
{
    QList<Row> result;
    sqlite3_stmt *statement = prepare(sql, true);
    if (!statement)
        return result;
    bind(statement, params);
    const int columns = sqlite3_column_count(statement);
    QStringList names;
    for (int i = 0; i < columns; ++i)
        names.append(QString::fromUtf8(sqlite3_column_name(statement, i)));
    while (sqlite3_step(statement) == SQLITE_ROW) {
        Row row;
        for (int i = 0; i < columns; ++i) {
            switch (sqlite3_column_type(statement, i)) {
            case SQLITE_INTEGER:
                row.insert(names[i], qint64(sqlite3_column_int64(statement, i)));
                break;
            case SQLITE_FLOAT:
                row.insert(names[i], sqlite3_column_double(statement, i));
                break;
            case SQLITE_TEXT:
                row.insert(names[i], columnText(statement, i));
                break;
            default:
                break; // BLOB and NULL columns are left out
            }
        }
        result.append(std::move(row));
    }
    sqlite3_finalize(statement);
    return result;
}

// Decoded straight from the statement rather than through row maps: searches decode up to
// several hundred rows on every keystroke.
QList<Clip> StoreDatabase::clips(const QString &sql, const Params &params)
{
    QList<Clip> result;
    sqlite3_stmt *statement = prepare(sql, true);
    if (!statement)
        return result;
    bind(statement, params);

    enum Field {
        Id,
        Created,
        Kind,
        Excerpt,
        Title,
        AppBundle,
        AppName,
        Digest,
        Pinned,
        HasImage,
        ByteSize,
        Ocr,
        Other
    };
    static const char *const fieldNames[] = {"id",     "created",    "kind",      "excerpt",
                                             "title",  "app_bundle", "app_name",  "digest",
                                             "pinned", "has_image",  "byte_size", "ocr"};
    const int columns = sqlite3_column_count(statement);
    // A later column of the same name wins, as in a row map.
    int columnOf[Other];
    std::fill(std::begin(columnOf), std::end(columnOf), -1);
    for (int i = 0; i < columns; ++i) {
        const char *name = sqlite3_column_name(statement, i);
        for (int f = 0; f < Other; ++f) {
            if (std::strcmp(name, fieldNames[f]) == 0)
                columnOf[f] = i;
        }
    }
    auto text = [&](Field f) {
        const int i = columnOf[f];
        return i >= 0 && sqlite3_column_type(statement, i) == SQLITE_TEXT ? columnText(statement, i)
                                                                          : QString();
    };
    auto integer = [&](Field f) -> std::optional<qint64> {
        const int i = columnOf[f];
        if (i >= 0 && sqlite3_column_type(statement, i) == SQLITE_INTEGER)
            return sqlite3_column_int64(statement, i);
        return std::nullopt;
    };
    // Rows repeat a handful of kinds and applications; decoding each from its bytes once
    // spares two allocations a row.
    auto kind = [&]() -> ClipKind {
        static const std::array<std::pair<QByteArray, ClipKind>, 6> kinds = [] {
            std::array<std::pair<QByteArray, ClipKind>, 6> table;
            const QList<ClipKind> all = ClipKinds::allCases();
            for (size_t i = 0; i < table.size(); ++i)
                table[i] = {ClipKinds::rawValue(all[qsizetype(i)]).toUtf8(), all[qsizetype(i)]};
            return table;
        }();
        const int i = columnOf[Kind];
        if (i < 0 || sqlite3_column_type(statement, i) != SQLITE_TEXT)
            return ClipKind::Text;
        const QByteArrayView raw(sqlite3_column_text(statement, i),
                                 sqlite3_column_bytes(statement, i));
        for (const auto &[name, value] : kinds) {
            if (raw == name)
                return value;
        }
        return ClipKind::Text;
    };
    std::vector<std::pair<QByteArray, QString>> seen;
    auto repeatedText = [&](Field f) {
        const int i = columnOf[f];
        if (i < 0 || sqlite3_column_type(statement, i) != SQLITE_TEXT)
            return QString();
        const QByteArrayView raw(sqlite3_column_text(statement, i),
                                 sqlite3_column_bytes(statement, i));
        for (const auto &[bytes, string] : seen) {
            if (raw == bytes)
                return string;
        }
        QString string = QString::fromUtf8(raw);
        if (seen.size() < 64)
            seen.emplace_back(raw.toByteArray(), string);
        return string;
    };
    while (sqlite3_step(statement) == SQLITE_ROW) {
        Clip c;
        c.id = text(Id);
        const int createdColumn = columnOf[Created];
        c.created =
            createdColumn >= 0 && sqlite3_column_type(statement, createdColumn) == SQLITE_FLOAT
                ? sqlite3_column_double(statement, createdColumn)
                : 0.0;
        c.kind = kind();
        c.excerpt = text(Excerpt);
        c.title = text(Title);
        c.appId = repeatedText(AppBundle);
        c.appName = repeatedText(AppName);
        c.digest = text(Digest);
        c.pinned = integer(Pinned) == 1;
        c.hasImage = integer(HasImage) == 1;
        c.byteSize = integer(ByteSize).value_or(0);
        c.ocr = text(Ocr);
        result.append(std::move(c));
    }
    sqlite3_finalize(statement);
    return result;
}
