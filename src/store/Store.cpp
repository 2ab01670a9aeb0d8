#include "store/Store.h"

#include "core/Log.h"
#include "core/RtfReader.h"
#include "core/Util.h"
#include "store/NotificationCenter.h"
#include "store/PBContent.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The SQL condition that admits the filter's entries.
QString sqlCondition(ClipFilter filter)
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

// SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX
constexpr int openFlags = 0x10006;

const QString insertSql = QStringLiteral(
    "INSERT OR REPLACE INTO clips(id, created, kind, excerpt, title, app_bundle, app_name, "
    "digest, pinned, has_image, byte_size, ocr)\nVALUES(?,?,?,?,?,?,?,?,0,?,?, '')");

std::mutex capProviderMutex;
std::function<int()> capProvider;

// Clipboard history holds secrets: other local users must not list or read it.
void makePrivateDirectory(const QString &path)
{
    QDir().mkpath(path);
    const QByteArray native = QFile::encodeName(path);
    struct stat info;
    if (::stat(native.constData(), &info) == 0 && (info.st_mode & 0777) != 0700)
        ::chmod(native.constData(), 0700);
}

void narrowFile(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info;
    if (::stat(native.constData(), &info) == 0 && (info.st_mode & 0077) != 0)
        ::chmod(native.constData(), info.st_mode & 0600);
}

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

QString columnText(sqlite3_stmt *statement, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(statement, column));
}

// Ids the application generates: 8-4-4-4-12 hexadecimal digits. Anything else in the store's
// folders was not written by the store and is left alone.
bool looksLikeId(const char *name, size_t length)
{
    if (length != 36)
        return false;
    for (size_t i = 0; i < length; ++i) {
        const char c = name[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-')
                return false;
        } else if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

// The ids of the files in `folder` named <id><suffix>. Kept as bytes: a large history lists
// some hundred thousand names at every start.
std::vector<std::string> idsOfFiles(const QString &folder, const char *suffix)
{
    std::vector<std::string> ids;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return ids;
    const size_t suffixLength = std::strlen(suffix);
    while (const dirent *entry = ::readdir(dir)) {
        const size_t length = std::strlen(entry->d_name);
        if (length <= suffixLength ||
            std::strcmp(entry->d_name + length - suffixLength, suffix) != 0)
            continue;
        if (looksLikeId(entry->d_name, length - suffixLength))
            ids.emplace_back(entry->d_name, length - suffixLength);
    }
    ::closedir(dir);
    return ids;
}

} // namespace

Store::Store(const QString &dir) : m_dir(dir)
{
    makePrivateDirectory(m_dir);
    makePrivateDirectory(m_dir + QStringLiteral("/Content"));
    makePrivateDirectory(m_dir + QStringLiteral("/Thumbs"));
    m_dedupeLock.m_folder =
        ::open(QFile::encodeName(m_dir + QStringLiteral("/Content")).constData(),
               O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    open();
    createSchema();
}

Store::~Store()
{
    if (m_db)
        sqlite3_close(m_db);
    if (m_dedupeLock.m_folder >= 0)
        ::close(m_dedupeLock.m_folder);
}

void Store::DedupeLock::lock()
{
    m_mutex.lock();
    // Without the folder (or where the file system has no flock) threads are still excluded;
    // only another process could then race this one.
    if (m_folder >= 0) {
        while (::flock(m_folder, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

void Store::DedupeLock::unlock()
{
    if (m_folder >= 0)
        ::flock(m_folder, LOCK_UN);
    m_mutex.unlock();
}

Store &Store::shared()
{
    static Store *store = new Store(defaultDirectory());
    return *store;
}

QString Store::defaultDirectory()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Vesk");
}

void Store::setHistoryCapProvider(std::function<int()> provider)
{
    std::lock_guard lock(capProviderMutex);
    capProvider = std::move(provider);
}

int Store::defaultHistoryCap()
{
    std::lock_guard lock(capProviderMutex);
    return capProvider ? capProvider() : 1000;
}

QString Store::contentPath(const QString &id) const
{
    return m_dir + QStringLiteral("/Content/") + id + QStringLiteral(".json");
}

QString Store::thumbPath(const QString &id) const
{
    return m_dir + QStringLiteral("/Thumbs/") + id + QStringLiteral(".png");
}

void Store::open()
{
    const QString path = m_dir + QStringLiteral("/store.sqlite");
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

void Store::createSchema()
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

// ---------------------------------------------------------------------------------------------
// Statement layer

bool Store::exec(const QString &sql)
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

namespace {

void bindAll(sqlite3_stmt *statement, const Store::Params &params)
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

} // namespace

sqlite3_stmt *Store::prepare(const QString &sql, bool forRows)
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

bool Store::run(const QString &sql, const Params &params)
{
    sqlite3_stmt *statement = prepare(sql, false);
    if (!statement)
        return false;
    bindAll(statement, params);
    const int rc = sqlite3_step(statement);
    sqlite3_finalize(statement);
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

QList<Store::Row> Store::rows(const QString &sql, const Params &params)
{
    QList<Row> result;
    sqlite3_stmt *statement = prepare(sql, true);
    if (!statement)
        return result;
    bindAll(statement, params);
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

Clip Store::clip(const Row &row)
{
    auto text = [&row](const char *column) {
        const QVariant value = row.value(QLatin1String(column));
        return value.typeId() == QMetaType::QString ? value.toString() : QString();
    };
    auto integer = [&row](const char *column) -> std::optional<qint64> {
        const QVariant value = row.value(QLatin1String(column));
        if (value.typeId() == QMetaType::LongLong)
            return value.toLongLong();
        return std::nullopt;
    };
    Clip c;
    c.id = text("id");
    const QVariant created = row.value(QStringLiteral("created"));
    c.created = created.typeId() == QMetaType::Double ? created.toDouble() : 0.0;
    c.kind = ClipKinds::fromRawValue(text("kind")).value_or(ClipKind::Text);
    c.excerpt = text("excerpt");
    c.title = text("title");
    c.appBundle = text("app_bundle");
    c.appName = text("app_name");
    c.digest = text("digest");
    c.pinned = integer("pinned") == 1;
    c.hasImage = integer("has_image") == 1;
    c.byteSize = integer("byte_size").value_or(0);
    c.ocr = text("ocr");
    return c;
}

// The same decoding as clip(from: row) without building row maps: searches decode up to
// several hundred rows on every keystroke.
QList<Clip> Store::clips(const QString &sql, const Params &params)
{
    QList<Clip> result;
    sqlite3_stmt *statement = prepare(sql, true);
    if (!statement)
        return result;
    bindAll(statement, params);

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
        c.appBundle = repeatedText(AppBundle);
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

qint64 Store::count()
{
    const QList<Row> result = rows(QStringLiteral("SELECT COUNT(*) AS n FROM clips"));
    if (result.isEmpty())
        return 0;
    const QVariant n = result.first().value(QStringLiteral("n"));
    return n.typeId() == QMetaType::LongLong ? n.toLongLong() : 0;
}

qint64 Store::diskSize() const
{
    qint64 total = 0;
    QDirIterator it(m_dir, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

void Store::notifyChanged()
{
    NotificationCenter::shared().postOnMainThread(NotificationCenter::storeChangedName);
}

// ---------------------------------------------------------------------------------------------
// Writes

bool Store::writePrivateFile(const QString &path, const QByteArray &bytes, QString *error)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    auto fail = [&](int code) {
        if (error)
            *error = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(code));
        return false;
    };
    if (fd < 0)
        return fail(errno);
    ::fchmod(fd, 0600); // a file replaced in place keeps its old mode otherwise
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            const int code = errno;
            ::close(fd);
            ::unlink(native.constData()); // never leave a truncated file behind
            return fail(code);
        }
        data += written;
        left -= written;
    }
    if (::close(fd) != 0) {
        const int code = errno;
        ::unlink(native.constData());
        return fail(code);
    }
    return true;
}

void Store::removeFiles(const QString &id)
{
    QFile::remove(contentPath(id));
    QFile::remove(thumbPath(id));
}

std::optional<QString> Store::insert(const ItemList &items, ClipKind kind, const QString &excerpt,
                                     const QString &appBundle, const QString &appName,
                                     double created, const std::optional<QByteArray> &thumbnailPNG,
                                     bool dedupe, const QString &id)
{
    const FlavorList flat = Flavors::flatten(items);
    const QString digest = Util::digest(flat);

    std::unique_lock lock(m_dedupeLock);
    if (dedupe) {
        if (latestDigest() == digest) {
            touchTop(digest);
            return std::nullopt;
        }
        if (!rows(QStringLiteral("SELECT 1 FROM clips WHERE digest=? LIMIT 1"), {digest})
                 .isEmpty()) {
            moveInTime(digest, created);
            notifyChanged();
            return std::nullopt;
        }
    }

    Clip entry;
    entry.id = id;
    entry.created = created;
    entry.kind = kind;
    entry.excerpt = excerpt;
    entry.appBundle = appBundle;
    entry.appName = appName;
    entry.digest = digest;
    if (!addEntry(entry, items, thumbnailPNG))
        return std::nullopt;
    lock.unlock();
    trim();
    notifyChanged();
    return id;
}

bool Store::isUsableId(const QString &id)
{
    if (id.isEmpty() || id.size() > 128 || id.startsWith(u'.'))
        return false;
    return std::all_of(id.cbegin(), id.cend(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               c == u'-' || c == u'_' || c == u'.';
    });
}

bool Store::addEntry(Clip clip, const ItemList &items,
                     const std::optional<QByteArray> &thumbnailPNG)
{
    // The id becomes a file name in the store folder: a "../x" must never get that far.
    if (!isUsableId(clip.id)) {
        Log::line(QStringLiteral("[Store] refused an entry with an unusable id"));
        return false;
    }
    clip.hasImage = false;
    clip.byteSize = 0;
    for (const FlavorList &item : items) {
        for (const Flavor &f : item) {
            clip.hasImage = clip.hasImage || Uti::isStoredImage(f.uti);
            clip.byteSize += f.data.size();
        }
    }
    QString error;
    if (!writePrivateFile(contentPath(clip.id), PBContent::from(items).toJson(), &error)) {
        Log::line(QStringLiteral("[Store] content write failed: ") + error);
        return false;
    }
    // The entry is whole without its thumbnail (the picker draws none), so this only logs.
    if (thumbnailPNG && !writePrivateFile(thumbPath(clip.id), *thumbnailPNG, &error))
        Log::line(QStringLiteral("[Store] thumbnail write failed: ") + error);
    if (!insertRow(clip)) {
        // Without its row the entry does not exist: report that, and leave no orphan files.
        Log::line(QStringLiteral("[Store] row insert failed: ") +
                  QString::fromUtf8(sqlite3_errmsg(m_db)));
        removeFiles(clip.id);
        return false;
    }
    return true;
}

bool Store::insertRow(const Clip &c)
{
    return run(insertSql,
               {c.id, c.created, ClipKinds::rawValue(c.kind), c.excerpt, QStringLiteral(""),
                c.appBundle, c.appName, c.digest, qint64(c.hasImage ? 1 : 0), c.byteSize});
}

void Store::touchTop(const QString &digest)
{
    moveInTime(digest, Util::now());
    notifyChanged();
}

// The moved row takes the next rowid too, so rowid order keeps following time order and
// full-text searches find it at the top of the index. Copies stored twice (imports without
// deduplication) cannot share one new rowid; they are moved in place.
void Store::moveInTime(const QString &digest, double created)
{
    if (!run(QStringLiteral("UPDATE clips SET created=?, rowid=(SELECT max(rowid)+1 FROM clips) "
                            "WHERE digest=?"),
             {created, digest}))
        run(QStringLiteral("UPDATE clips SET created=? WHERE digest=?"), {created, digest});
}

void Store::setTitle(const QString &id, const QString &title)
{
    run(QStringLiteral("UPDATE clips SET title=? WHERE id=?"), {title, id});
    notifyChanged();
}

void Store::setPinned(const QString &id, bool pinned)
{
    run(QStringLiteral("UPDATE clips SET pinned=? WHERE id=?"), {qint64(pinned ? 1 : 0), id});
    notifyChanged();
}

void Store::remove(const QString &id)
{
    // A row whose delete failed (the database locked, the disk full) still needs its files.
    if (run(QStringLiteral("DELETE FROM clips WHERE id=?"), {id}))
        removeFiles(id);
    notifyChanged();
}

void Store::trim(std::optional<int> cap)
{
    const int limit = cap.value_or(defaultHistoryCap());
    if (limit < 1)
        return;
    const QList<Row> old =
        rows(QStringLiteral(
                 "SELECT id FROM clips WHERE pinned=0\nORDER BY created DESC LIMIT -1 OFFSET ?"),
             {qint64(limit)});
    for (const Row &row : old) {
        const QVariant id = row.value(QStringLiteral("id"));
        if (id.typeId() != QMetaType::QString)
            continue;
        if (run(QStringLiteral("DELETE FROM clips WHERE id=?"), {id}))
            removeFiles(id.toString());
    }
}

void Store::clearHistory(bool keepPinned)
{
    const QString condition = keepPinned ? QStringLiteral("WHERE pinned=0") : QString();
    const QList<Row> doomed = rows(QStringLiteral("SELECT id FROM clips ") + condition);
    if (!run(QStringLiteral("DELETE FROM clips ") + condition)) {
        notifyChanged();
        return;
    }
    for (const Row &row : doomed) {
        const QVariant id = row.value(QStringLiteral("id"));
        if (id.typeId() == QMetaType::QString)
            removeFiles(id.toString());
    }
    notifyChanged();
}

int Store::removeOrphanFiles()
{
    // Listed before the query: a file whose row commits in between is seen with its row.
    const QString contentFolder = m_dir + QStringLiteral("/Content");
    const QString thumbFolder = m_dir + QStringLiteral("/Thumbs");
    const std::vector<std::string> contentIds = idsOfFiles(contentFolder, ".json");
    const std::vector<std::string> thumbIds = idsOfFiles(thumbFolder, ".png");
    if (contentIds.empty() && thumbIds.empty())
        return 0;

    // An unreadable table must never read as an empty one: that would take every file.
    sqlite3_stmt *statement = prepare(QStringLiteral("SELECT id FROM clips"), true);
    if (!statement)
        return 0;
    std::unordered_set<std::string> rowIds;
    rowIds.reserve(contentIds.size());
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        if (sqlite3_column_type(statement, 0) == SQLITE_TEXT)
            rowIds.emplace(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)),
                           size_t(sqlite3_column_bytes(statement, 0)));
    }
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE) {
        Log::line(QStringLiteral("[Store] orphan check failed: ") +
                  QString::fromUtf8(sqlite3_errmsg(m_db)));
        return 0;
    }

    // A writer in another process may have written its files and still wait, up to the busy
    // timeout, to insert the row; younger files are left for the next start.
    const auto now = std::chrono::system_clock::now();
    const auto settled = std::chrono::milliseconds(busyTimeoutMs + 2000);
    int removed = 0;
    auto sweep = [&](const QString &folder, const std::vector<std::string> &ids,
                     const char *suffix) {
        for (const std::string &id : ids) {
            if (rowIds.count(id) != 0)
                continue;
            const QByteArray native =
                QFile::encodeName(folder) + '/' + QByteArray::fromStdString(id) + suffix;
            struct stat info;
            if (::stat(native.constData(), &info) != 0)
                continue;
            const auto modified = std::chrono::system_clock::time_point(
                std::chrono::seconds(info.st_mtim.tv_sec) +
                std::chrono::nanoseconds(info.st_mtim.tv_nsec));
            if (now - modified < settled)
                continue;
            if (::unlink(native.constData()) == 0)
                ++removed;
        }
    };
    sweep(contentFolder, contentIds, ".json");
    sweep(thumbFolder, thumbIds, ".png");
    if (removed > 0)
        Log::line(QStringLiteral("[Store] removed %1 orphan files").arg(removed));
    return removed;
}

// ---------------------------------------------------------------------------------------------
// Queries

QList<Clip> Store::search(const QString &query, ClipFilter filter, int limit)
{
    const QString condition = sqlCondition(filter);
    const QString q = trimBlanks(query);
    const qint64 max = limit;
    if (q.isEmpty()) {
        return clips(QStringLiteral("SELECT * FROM clips WHERE ") + condition +
                         QStringLiteral(" ORDER BY created DESC LIMIT ?"),
                     {max});
    }

    if (m_ftsAvailable) {
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

struct Statement
{
    sqlite3_stmt *handle = nullptr;
    ~Statement() { sqlite3_finalize(handle); }
};

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
QList<Clip> Store::newestRows(const QList<qint64> &rowids, qint64 limit)
{
    QList<Clip> found =
        clips(QStringLiteral("SELECT * FROM clips WHERE rowid IN (SELECT value FROM json_each(?))"),
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
QList<Clip> Store::substringSearch(const QString &pattern, const QString &condition, qint64 limit)
{
    Statement scan{prepare(QStringLiteral("SELECT rowid, created FROM clips NOT INDEXED WHERE ") +
                               condition +
                               QStringLiteral(" AND\n  (excerpt LIKE ?1 OR title LIKE ?1 OR "
                                              "app_name LIKE ?1 OR ocr LIKE ?1)"),
                           true)};
    if (!scan.handle || limit <= 0)
        return {};
    const QByteArray utf8 = pattern.toUtf8();
    sqlite3_bind_text(scan.handle, 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    std::vector<std::pair<double, qint64>> matches;
    while (sqlite3_step(scan.handle) == SQLITE_ROW)
        matches.emplace_back(sqlite3_column_double(scan.handle, 1),
                             sqlite3_column_int64(scan.handle, 0));
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
QList<Clip> Store::fullTextSearch(const QString &expression, ClipFilter filter, qint64 limit)
{
    const QString condition = sqlCondition(filter);
    if (filter != ClipFilter::All) {
        return clips(QStringLiteral("SELECT c.* FROM clips c JOIN fts f ON c.rowid=f.rowid\n"
                                    "WHERE fts MATCH ? AND ") +
                         condition + QStringLiteral("\nORDER BY c.created DESC LIMIT ?"),
                     {expression, limit});
    }
    if (limit <= 0)
        return {};

    Statement matches{prepare(
        QStringLiteral("SELECT rowid FROM fts WHERE fts MATCH ? ORDER BY rowid DESC"), true)};
    if (!matches.handle)
        return {};
    const QByteArray utf8 = expression.toUtf8();
    sqlite3_bind_text(matches.handle, 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    std::unordered_set<qint64> matched;
    QList<qint64> readInOrder;
    qint64 lowestRead = std::numeric_limits<qint64>::max();
    bool exhausted = false;
    auto readOne = [&] {
        if (exhausted)
            return;
        if (sqlite3_step(matches.handle) != SQLITE_ROW) {
            exhausted = true;
            return;
        }
        lowestRead = sqlite3_column_int64(matches.handle, 0);
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
        rows(QStringLiteral("SELECT 1 FROM clips INDEXED BY idx_clips_created\n"
                            "WHERE created > ? AND rowid < ? LIMIT 1"),
             {found.last().created, candidates.last()})
            .isEmpty())
        return found;

    Statement newest{prepare(QStringLiteral("SELECT rowid FROM clips INDEXED BY "
                                            "idx_clips_created ORDER BY created DESC"),
                             true)};
    if (!newest.handle)
        return {};
    QList<qint64> rowids;
    while (qint64(rowids.size()) < limit && sqlite3_step(newest.handle) == SQLITE_ROW) {
        const qint64 rowid = sqlite3_column_int64(newest.handle, 0);
        while (!exhausted && rowid < lowestRead)
            readOne();
        if (matched.count(rowid) != 0)
            rowids.append(rowid);
    }
    return newestRows(rowids, limit);
}

std::optional<QString> Store::latestDigest()
{
    const QList<Row> result =
        rows(QStringLiteral("SELECT digest FROM clips ORDER BY created DESC LIMIT 1"));
    if (result.isEmpty())
        return std::nullopt;
    const QVariant digest = result.first().value(QStringLiteral("digest"));
    if (digest.typeId() != QMetaType::QString)
        return std::nullopt;
    return digest.toString();
}

QStringList Store::pendingOCR()
{
    QStringList ids;
    const QList<Row> result = rows(QStringLiteral(
        "SELECT id FROM clips WHERE has_image=1 AND ocr='' ORDER BY created DESC LIMIT 20"));
    for (const Row &row : result) {
        const QVariant id = row.value(QStringLiteral("id"));
        if (id.typeId() == QMetaType::QString)
            ids.append(id.toString());
    }
    return ids;
}

std::optional<FlavorList> Store::contentFlavors(const QString &id) const
{
    QFile file(contentPath(id));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<PBContent> content = PBContent::fromJson(file.readAll());
    if (!content)
        return std::nullopt;
    return content->decodedFlavors();
}

std::optional<QImage> Store::image(const QString &id) const
{
    const std::optional<FlavorList> flavors = contentFlavors(id);
    if (!flavors)
        return std::nullopt;
    for (const Flavor &f : *flavors) {
        if (!Uti::isStoredImage(f.uti))
            continue;
        QImage image = QImage::fromData(f.data);
        if (!image.isNull())
            return image;
    }
    return std::nullopt;
}

std::optional<QString> Store::plainText(const QString &id) const
{
    const std::optional<FlavorList> flavors = contentFlavors(id);
    if (!flavors)
        return std::nullopt;
    if (const Flavor *text = Flavors::first(*flavors, Uti::plainText))
        return Util::decodeUtf8(text->data);
    if (const Flavor *rtf = Flavors::first(*flavors, Uti::rtf)) {
        if (std::optional<QString> text = Rtf::toPlainText(rtf->data))
            return text;
    }
    if (const Flavor *file = Flavors::first(*flavors, Uti::fileUrl))
        return Util::decodeUtf8(file->data);
    return std::nullopt;
}

std::optional<QImage> Store::thumbnail(const QString &id) const
{
    QImage image(thumbPath(id));
    if (image.isNull())
        return std::nullopt;
    return image;
}
