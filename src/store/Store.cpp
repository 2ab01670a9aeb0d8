#include "store/Store.h"

#include "core/ImageUtil.h"
#include "core/Log.h"
#include "core/Util.h"
#include "store/ContentFiles.h"
#include "store/DedupeLock.h"
#include "store/StoreDatabase.h"
#include "store/StoreSearch.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <mutex>
#include <string>
#include <unordered_set>

#include <sqlite3.h>

namespace {

const QString insertSql = QStringLiteral(
    "INSERT OR REPLACE INTO clips(id, created, kind, excerpt, title, app_bundle, app_name, "
    "digest, pinned, has_image, byte_size, ocr)\nVALUES(?,?,?,?,?,?,?,?,?,?,?, '')");

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// The thumbnail of an image clip, from its first PNG or JPEG; none when that does not decode.
std::optional<QByteArray> renderThumbnail(const FlavorList &flat)
{
    const auto image = std::find_if(flat.cbegin(), flat.cend(), [](const Flavor &f) {
        return f.uti == Uti::png || f.uti == Uti::jpeg;
    });
    if (image == flat.cend())
        return std::nullopt;
    return ImageUtil::thumbnailPNG(ImageUtil::decode(image->data), Store::thumbnailMaxSide);
}

} // namespace

Store::Store(const QString &dir)
    : m_files(std::make_unique<ContentFiles>(dir)),
      m_dedupeLock(std::make_unique<DedupeLock>(m_files->contentFolder())),
      m_db(std::make_unique<StoreDatabase>(dir + QStringLiteral("/store.sqlite"))),
      m_search(std::make_unique<StoreSearch>(*m_db))
{
    // Queued announcements must land on the GUI thread, whichever thread made the store.
    if (QCoreApplication *app = QCoreApplication::instance())
        moveToThread(app->thread());
}

Store::~Store() = default;

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

void Store::setHistoryCap(int cap)
{
    m_historyCap.store(cap, std::memory_order_relaxed);
}

int Store::historyCap() const
{
    return m_historyCap.load(std::memory_order_relaxed);
}

QString Store::dir() const
{
    return m_files->dir();
}

QString Store::contentPath(const QString &id) const
{
    return m_files->contentPath(id);
}

QString Store::thumbPath(const QString &id) const
{
    return m_files->thumbPath(id);
}

bool Store::ftsAvailable() const
{
    return m_db->ftsAvailable();
}

void Store::announce()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        Q_EMIT changed();
        return;
    }
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT changed(); }, Qt::QueuedConnection);
}

bool Store::writePrivateFile(const QString &path, const QByteArray &bytes, QString *error)
{
    return ContentFiles::writePrivateFile(path, bytes, error);
}

// ---------------------------------------------------------------------------------------------
// Writes

std::optional<QString> Store::add(const NewClip &clip, bool *alreadyStored)
{
    if (alreadyStored)
        *alreadyStored = false;
    const FlavorList flat = Flavors::flatten(clip.items);
    const QString digest = Util::digest(flat);

    std::optional<QByteArray> thumbnail = clip.ownThumbnail;
    if (thumbnail && thumbnail->isEmpty())
        thumbnail.reset();
    if (!clip.ownThumbnail && clip.kind == ClipKind::Image) {
        // An import skips a stored image before rendering it. Rendering happens outside the
        // lock, so a capture never waits for an imported image; the check is repeated under it.
        if (clip.ifStored == NewClip::IfStored::Skip && containsDigest(digest)) {
            if (alreadyStored)
                *alreadyStored = true;
            return std::nullopt;
        }
        thumbnail = renderThumbnail(flat);
    }

    std::unique_lock lock(*m_dedupeLock);
    switch (clip.ifStored) {
    case NewClip::IfStored::MoveUp:
        if (latestDigest() == digest) {
            if (alreadyStored)
                *alreadyStored = true;
            touchTop(digest);
            return std::nullopt;
        }
        if (containsDigest(digest)) {
            if (alreadyStored)
                *alreadyStored = true;
            moveInTime(digest, clip.created);
            announce();
            return std::nullopt;
        }
        break;
    case NewClip::IfStored::Skip:
        if (containsDigest(digest)) {
            if (alreadyStored)
                *alreadyStored = true;
            return std::nullopt;
        }
        break;
    case NewClip::IfStored::StoreAgain:
        break;
    }

    Clip row;
    // The id becomes a file name in the store folder: a "../x" from a hostile or hand-edited
    // import file gets a fresh one rather than a write outside the store.
    row.id = isUsableId(clip.id) ? clip.id : newId();
    row.created = clip.created;
    row.kind = clip.kind;
    row.excerpt = clip.excerpt;
    row.title = clip.title;
    row.appId = clip.appId;
    row.appName = clip.appName;
    row.digest = digest;
    row.pinned = clip.pinned;
    for (const Flavor &f : flat) {
        row.hasImage = row.hasImage || Uti::isStoredImage(f.uti);
        row.byteSize += f.data.size();
    }
    if (!m_files->write(row.id, clip.items, thumbnail))
        return std::nullopt;
    if (!insertRow(row)) {
        // Without its row the entry does not exist: report that, and leave no orphan files.
        Log::line(QStringLiteral("[Store] row insert failed: ") + m_db->lastError());
        m_files->remove(row.id);
        return std::nullopt;
    }
    lock.unlock();
    // Title and pin are in the row before the trim, so a pinned favourite older than the cap's
    // window is kept rather than deleted the moment it arrives.
    trim();
    announce();
    return row.id;
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

bool Store::insertRow(const Clip &c)
{
    return m_db->run(insertSql, {c.id, c.created, ClipKinds::rawValue(c.kind), c.excerpt, c.title,
                                 c.appId, c.appName, c.digest, qint64(c.pinned ? 1 : 0),
                                 qint64(c.hasImage ? 1 : 0), c.byteSize});
}

bool Store::addRows(const QList<Clip> &clips)
{
    if (!m_db->exec(QStringLiteral("BEGIN")))
        return false;
    bool inserted = true;
    for (const Clip &c : clips)
        inserted = insertRow(c) && inserted;
    if (!m_db->exec(QStringLiteral("COMMIT")))
        return false;
    // A history that grew over months has its log checkpointed; so does a filled one.
    m_db->exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    return inserted;
}

void Store::touchTop(const QString &digest)
{
    moveInTime(digest, Util::now());
    announce();
}

// The moved row takes the next rowid too, so rowid order keeps following time order and
// full-text searches find it at the top of the index. Copies stored twice (imports without
// deduplication) cannot share one new rowid; they are moved in place.
void Store::moveInTime(const QString &digest, double created)
{
    if (!m_db->run(QStringLiteral("UPDATE clips SET created=?, rowid=(SELECT max(rowid)+1 FROM "
                                  "clips) WHERE digest=?"),
                   {created, digest}))
        m_db->run(QStringLiteral("UPDATE clips SET created=? WHERE digest=?"), {created, digest});
}

void Store::setTitle(const QString &id, const QString &title)
{
    m_db->run(QStringLiteral("UPDATE clips SET title=? WHERE id=?"), {title, id});
    announce();
}

void Store::setPinned(const QString &id, bool pinned)
{
    m_db->run(QStringLiteral("UPDATE clips SET pinned=? WHERE id=?"), {qint64(pinned ? 1 : 0), id});
    announce();
}

void Store::setOcrText(const QString &id, const QString &text)
{
    m_db->run(QStringLiteral("UPDATE clips SET ocr=? WHERE id=?"), {text, id});
    announce();
}

void Store::deleteRow(const QString &id)
{
    // A row whose delete failed (the database locked, the disk full) still needs its files.
    if (m_db->run(QStringLiteral("DELETE FROM clips WHERE id=?"), {id}))
        m_files->remove(id);
}

void Store::remove(const QString &id)
{
    deleteRow(id);
    announce();
}

void Store::trim()
{
    trim(historyCap());
}

void Store::trim(int cap)
{
    if (cap < 1)
        return;
    const QList<StoreDatabase::Row> old = m_db->rows(
        QStringLiteral(
            "SELECT id FROM clips WHERE pinned=0\nORDER BY created DESC LIMIT -1 OFFSET ?"),
        {qint64(cap)});
    for (const StoreDatabase::Row &row : old) {
        const QVariant id = row.value(QStringLiteral("id"));
        if (id.typeId() == QMetaType::QString)
            deleteRow(id.toString());
    }
}

void Store::clearHistory(bool keepPinned)
{
    const QString condition = keepPinned ? QStringLiteral("WHERE pinned=0") : QString();
    const QList<StoreDatabase::Row> doomed =
        m_db->rows(QStringLiteral("SELECT id FROM clips ") + condition);
    if (m_db->run(QStringLiteral("DELETE FROM clips ") + condition)) {
        for (const StoreDatabase::Row &row : doomed) {
            const QVariant id = row.value(QStringLiteral("id"));
            if (id.typeId() == QMetaType::QString)
                m_files->remove(id.toString());
        }
    }
    announce();
}

int Store::removeOrphanFiles()
{
    // Listed before the query: a file whose row commits in between is seen with its row.
    const ContentFiles::Listing listing = m_files->list();
    if (listing.isEmpty())
        return 0;

    // An unreadable table must never read as an empty one: that would take every file.
    const StoreDatabase::Statement statement(
        m_db->prepare(QStringLiteral("SELECT id FROM clips"), true));
    if (!statement)
        return 0;
    std::unordered_set<std::string> rowIds;
    rowIds.reserve(listing.contentIds.size());
    int rc;
    while ((rc = sqlite3_step(statement.handle())) == SQLITE_ROW) {
        if (sqlite3_column_type(statement.handle(), 0) == SQLITE_TEXT)
            rowIds.emplace(
                reinterpret_cast<const char *>(sqlite3_column_text(statement.handle(), 0)),
                size_t(sqlite3_column_bytes(statement.handle(), 0)));
    }
    if (rc != SQLITE_DONE) {
        Log::line(QStringLiteral("[Store] orphan check failed: ") + m_db->lastError());
        return 0;
    }

    // A writer in another process may have written its files and still wait, up to the busy
    // timeout, to insert the row; younger files are left for the next start.
    const int removed = m_files->removeUnlisted(
        listing, rowIds, std::chrono::milliseconds(StoreDatabase::busyTimeoutMs + 2000));
    if (removed > 0)
        Log::line(QStringLiteral("[Store] removed %1 orphan files").arg(removed));
    return removed;
}

// ---------------------------------------------------------------------------------------------
// Queries

qint64 Store::count()
{
    const QList<StoreDatabase::Row> result =
        m_db->rows(QStringLiteral("SELECT COUNT(*) AS n FROM clips"));
    if (result.isEmpty())
        return 0;
    const QVariant n = result.first().value(QStringLiteral("n"));
    return n.typeId() == QMetaType::LongLong ? n.toLongLong() : 0;
}

qint64 Store::diskSize() const
{
    return m_files->diskSize();
}

QList<Clip> Store::search(const QString &query, ClipFilter filter, int limit)
{
    return m_search->search(query, filter, limit);
}

std::optional<Clip> Store::clip(const QString &id)
{
    const QList<Clip> found =
        m_db->clips(QStringLiteral("SELECT * FROM clips WHERE id=? LIMIT 1"), {id});
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

bool Store::containsDigest(const QString &digest)
{
    return !m_db->rows(QStringLiteral("SELECT 1 FROM clips WHERE digest=? LIMIT 1"), {digest})
                .isEmpty();
}

std::optional<QString> Store::latestDigest()
{
    const QList<StoreDatabase::Row> result =
        m_db->rows(QStringLiteral("SELECT digest FROM clips ORDER BY created DESC LIMIT 1"));
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
    const QList<StoreDatabase::Row> result = m_db->rows(QStringLiteral(
        "SELECT id FROM clips WHERE has_image=1 AND ocr='' ORDER BY created DESC LIMIT 20"));
    for (const StoreDatabase::Row &row : result) {
        const QVariant id = row.value(QStringLiteral("id"));
        if (id.typeId() == QMetaType::QString)
            ids.append(id.toString());
    }
    return ids;
}

std::optional<FlavorList> Store::contentFlavors(const QString &id) const
{
    return m_files->flavors(id);
}

std::optional<QImage> Store::image(const QString &id) const
{
    return m_files->image(id);
}

std::optional<QString> Store::plainText(const QString &id) const
{
    return m_files->plainText(id);
}

std::optional<QImage> Store::thumbnail(const QString &id) const
{
    return m_files->thumbnail(id);
}
