#include "exchange/CopyLessImporter.h"

#include "core/Log.h"
#include "core/Util.h"
#include "ocr/OCRService.h"
#include "store/PBContent.h"
#include "store/Store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>

namespace CopyLessImporter {

namespace {

const QString kDatabase = QStringLiteral("Store.sqlite");

// Seconds from 1970-01-01 to 2001-01-01, the reference date Core Data counts from.
constexpr double kReferenceDate = 978307200.0;

const char kSelect[] =
    "SELECT ZIDENTIFIERVALUE, ZCONTENTEXCERPT, ZTITLE, ZSOURCEAPPBUNDLEIDENTIFIER,\n"
    "       ZSOURCEAPPLOCALIZEDNAME, ZCREATIONDATEVALUE, ZTHUMBNAILDATAVALUE\n"
    "FROM ZMANAGEDSNAPSHOT ORDER BY ZCREATIONDATEVALUE ASC";

using Enqueue = std::function<void(const QString &id)>;

QString newUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// The private copy of the other application's database. It holds someone's clipboard history,
// so only the owner may enter it, and it goes away on every way out of a run.
class TempFolder
{
public:
    TempFolder() : m_path(QDir::tempPath() + QStringLiteral("/copyless-import-") + newUuid())
    {
        QDir().mkpath(m_path); // a failure shows up when the copy will not open
        QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
    }
    ~TempFolder() { QDir(m_path).removeRecursively(); }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    QString path() const { return m_path; }

private:
    QString m_path;
};

// Copies the database and whichever sidecars exist. Without its "-wal" file a database in
// write-ahead mode would lose every row not yet checkpointed. Only regular files are copied:
// reading a named pipe would block the import for good.
void copyDatabase(const QString &from, const QString &to)
{
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        const QString source = from + QLatin1Char('/') + kDatabase + suffix;
        if (!QFileInfo(source).isFile())
            continue;
        const QString target = to + QLatin1Char('/') + kDatabase + suffix;
        if (QFile::copy(source, target)) // the copy is ours: writable, and private
            QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
}

// The opened copy and its one statement; closed and finalized on every way out.
class SourceDatabase
{
public:
    SourceDatabase() = default;
    ~SourceDatabase()
    {
        sqlite3_finalize(m_statement);
        sqlite3_close(m_db);
    }
    SourceDatabase(const SourceDatabase &) = delete;
    SourceDatabase &operator=(const SourceDatabase &) = delete;

    bool open(const QString &path)
    {
        // No SQLITE_OPEN_CREATE: a copy that is not there must not open as an empty database.
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
            return false;
        // Nobody else knows the copy, so nothing should ever be busy; never wait long anyway.
        sqlite3_busy_timeout(m_db, 2000);
        // The schema comes from another program: its views and triggers get no functions with
        // side effects.
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        return true;
    }

    // Core Data keeps entities in tables. A view under that name is not CopyLess 2's, and it
    // could compute rows without end (a recursive query), so it counts as no store at all.
    bool prepare()
    {
        sqlite3_stmt *probe = nullptr;
        if (sqlite3_prepare_v2(m_db,
                               "SELECT 1 FROM sqlite_master WHERE type='view' AND "
                               "name='ZMANAGEDSNAPSHOT' COLLATE NOCASE",
                               -1, &probe, nullptr) != SQLITE_OK) {
            sqlite3_finalize(probe);
            return false;
        }
        const bool isView = sqlite3_step(probe) == SQLITE_ROW;
        sqlite3_finalize(probe);
        if (isView)
            return false;
        return sqlite3_prepare_v2(m_db, kSelect, -1, &m_statement, nullptr) == SQLITE_OK;
    }

    sqlite3 *db() const { return m_db; }
    sqlite3_stmt *statement() const { return m_statement; }

private:
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_statement = nullptr;
};

struct SourceRow
{
    QString identifier;
    QString excerpt;
    QString title;
    QString appId;
    QString appName;
    double created = 0; // seconds since 2001
    QByteArray thumbnail;
};

// SQLite does not enforce declared column types, so every value is read by what it holds:
// NULL gives empty text; text, numbers and blobs give SQLite's text form of the value, with
// bytes that are not UTF-8 decoded as U+FFFD.
QString textColumn(sqlite3_stmt *statement, int column)
{
    if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        return QString();
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    const int size = sqlite3_column_bytes(statement, column); // after the text, as SQLite asks
    return text ? QString::fromUtf8(text, size) : QString();
}

SourceRow readRow(sqlite3_stmt *statement)
{
    SourceRow row;
    row.identifier = textColumn(statement, 0);
    // The identifier names a file inside the content cache; one that could name a file
    // elsewhere is treated like a missing identifier.
    if (row.identifier.contains(QLatin1Char('/')) || row.identifier.contains(QChar(0)))
        row.identifier.clear();
    row.excerpt = textColumn(statement, 1);
    row.title = textColumn(statement, 2);
    row.appId = textColumn(statement, 3);
    row.appName = textColumn(statement, 4);
    // Text that is not a number reads as 0 (SQLite's conversion); infinities do too, so the
    // history never holds a time that cannot be sorted or exported.
    const double created = sqlite3_column_double(statement, 5);
    row.created = std::isfinite(created) ? created : 0;
    // Only a blob is a thumbnail; text or a number in that column is not image data.
    if (sqlite3_column_type(statement, 6) == SQLITE_BLOB) {
        const void *bytes = sqlite3_column_blob(statement, 6);
        const int size = sqlite3_column_bytes(statement, 6);
        if (bytes && size > 0)
            row.thumbnail = QByteArray(static_cast<const char *>(bytes), size);
    }
    return row;
}

// The snapshot's items with their decodable flavors; absent when the file is missing, not a
// regular file, too large, not a snapshot, or has no decodable flavor left.
std::optional<ItemList> readContent(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > maxContentFileSize)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<PBContent> content = PBContent::fromJson(file.readAll());
    if (!content)
        return std::nullopt;
    ItemList items = content->decodedItems(/*dropEmptyItems=*/true);
    if (items.isEmpty())
        return std::nullopt;
    return items;
}

void importRow(Store &store, const SourceRow &row, const QString &cacheFolder,
               const Enqueue &enqueue, Result &result)
{
    if (row.identifier.isEmpty())
        return;
    // The content files are read where they are: only the database needs a copy.
    std::optional<ItemList> items =
        readContent(cacheFolder + row.identifier + QStringLiteral(".pbdata"));
    if (!items)
        return;
    NewClip clip;
    clip.created = row.created + kReferenceDate;
    clip.kind = inferKind(Flavors::flatten(*items), row.excerpt);
    clip.items = std::move(*items);
    const QString excerpt =
        !row.excerpt.isEmpty()
            ? row.excerpt
            : (clip.kind == ClipKind::Image ? QStringLiteral("Image") : QStringLiteral("Clip"));
    clip.excerpt = Util::excerpt(excerpt, Util::excerptLimit);
    clip.title = row.title;
    clip.appId = row.appId;
    clip.appName = row.appName;
    clip.ifStored = NewClip::IfStored::Skip;
    // CopyLess 2 made its own thumbnail; it is kept as it is, not rendered again.
    clip.ownThumbnail = row.thumbnail;
    bool alreadyStored = false;
    const std::optional<QString> id = store.add(clip, &alreadyStored);
    if (!id) {
        if (alreadyStored)
            ++result.skipped;
        return; // otherwise no row, no clip: counted nowhere
    }
    if (clip.kind == ClipKind::Image && enqueue)
        enqueue(*id);
    ++result.imported;
}

std::optional<Result> importFrom(Store &store, const QString &storeFolder, const Enqueue &enqueue)
{
    if (!QFileInfo::exists(storeFolder + QLatin1Char('/') + kDatabase))
        return std::nullopt;
    const TempFolder temp;
    copyDatabase(storeFolder, temp.path());
    SourceDatabase source;
    if (!source.open(temp.path() + QLatin1Char('/') + kDatabase) || !source.prepare())
        return std::nullopt;

    const QString cacheFolder = storeFolder + QStringLiteral("/SnapshotContentFiles/Cache/");
    Result result;
    int status = SQLITE_ROW;
    while ((status = sqlite3_step(source.statement())) == SQLITE_ROW) {
        try {
            importRow(store, readRow(source.statement()), cacheFolder, enqueue, result);
        } catch (const std::exception &e) {
            // Out of memory on one huge snapshot: that row is lost, the others still come.
            Log::line(QStringLiteral("[CopyLessImport] row dropped: ") +
                      QString::fromLocal8Bit(e.what()));
        }
    }
    if (status != SQLITE_DONE) // a damaged database: keep what was read before the damage
        Log::line(QStringLiteral("[CopyLessImport] reading stopped: ") +
                  QString::fromUtf8(sqlite3_errmsg(source.db())));
    Log::line(QStringLiteral("[CopyLessImport] imported %1, skipped %2")
                  .arg(result.imported)
                  .arg(result.skipped));
    return result;
}

void printLine(const QString &line)
{
    const QByteArray utf8 = line.toUtf8() + '\n';
    std::fwrite(utf8.constData(), 1, static_cast<size_t>(utf8.size()), stdout);
    std::fflush(stdout);
}

} // namespace

QString containerIdentifier()
{
    return QStringLiteral("com.fiplab.copyless2");
}

QString containerStore()
{
    static const QString path =
        QDir::homePath() + QStringLiteral("/Library/Containers/") + containerIdentifier() +
        QStringLiteral("/Data/Library/Application Support/CopyLess/Stores/LocalStore");
    return path;
}

std::optional<Result> run(Store &store, const QString &storeFolder, OCRService *ocr)
{
    Enqueue enqueue;
    if (ocr)
        enqueue = [ocr](const QString &id) { ocr->enqueue(id); };
    return importFrom(store, storeFolder, enqueue);
}

std::optional<Result> run(Store &store)
{
    // The recognition service starts only when an image arrives: a text-only import never
    // loads the recognition engine.
    return importFrom(store, containerStore(),
                      [](const QString &id) { OCRService::shared().enqueue(id); });
}

int runCLI()
{
    Store &store = Store::shared();
    const std::optional<Result> result = run(store);
    if (!result) {
        printLine(QStringLiteral("copyless-import: store not found at ") + containerStore());
        return 1;
    }
    printLine(QStringLiteral("copyless-import: imported=%1 skipped=%2 total_now=%3")
                  .arg(result->imported)
                  .arg(result->skipped)
                  .arg(store.count()));
    return 0;
}

ClipKind inferKind(const FlavorList &flat, const QString &excerpt)
{
    if (Flavors::contains(flat, Uti::fileUrl))
        return ClipKind::File;
    for (const Flavor &f : flat) {
        if (Uti::isStoredImage(f.uti))
            return ClipKind::Image;
    }
    // Spaces and tabs only: a link on the second line of a text is not a link clip.
    qsizetype begin = 0;
    qsizetype end = excerpt.size();
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (begin < end && blank(excerpt[begin]))
        ++begin;
    while (end > begin && blank(excerpt[end - 1]))
        --end;
    const QStringView trimmed = QStringView(excerpt).mid(begin, end - begin);
    if (trimmed.startsWith(u"http://") || trimmed.startsWith(u"https://"))
        return ClipKind::Link;
    return ClipKind::Text;
}

} // namespace CopyLessImporter
