#pragma once

#include "core/Clip.h"
#include "core/Flavor.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QList>
#include <QString>
#include <QVariant>

#include <functional>
#include <mutex>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

// The clip history on disk: a folder with store.sqlite (clips table, full-text index),
// Content/<id>.json snapshots and Thumbs/<id>.png thumbnails. Every operation fails soft:
// errors are logged and become false, an empty list, 0 or an absent value. Safe to use from
// any thread (the connection is serialised); writes post "veskStoreChanged" on the main
// thread.
class Store
{
public:
    // Parameters bind by kind: null, text, integer, double, bytes; anything else binds NULL.
    using Params = QList<QVariant>;
    // Column name to value: qint64, double or QString. BLOB and NULL columns are left out.
    using Row = QHash<QString, QVariant>;

    explicit Store(const QString &dir);
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // The store in the user's data folder ($XDG_DATA_HOME/Vesk), created on first use.
    static Store &shared();
    static QString defaultDirectory();

    // Where trim() with no cap gets the history cap; the application wires this to the
    // preferences. Without a provider the cap is 1000.
    static void setHistoryCapProvider(std::function<int()> provider);
    static int defaultHistoryCap();

    QString dir() const { return m_dir; }
    QString contentPath(const QString &id) const;
    QString thumbPath(const QString &id) const;
    bool ftsAvailable() const { return m_ftsAvailable; }

    // Statement layer.
    bool exec(const QString &sql);
    bool run(const QString &sql, const Params &params = {});
    QList<Row> rows(const QString &sql, const Params &params = {});
    static Clip clip(const Row &row);

    qint64 count();
    qint64 diskSize() const;
    void notifyChanged();

    // Writes.
    std::optional<QString> insert(const ItemList &items, ClipKind kind, const QString &excerpt,
                                  const QString &appBundle, const QString &appName, double created,
                                  const std::optional<QByteArray> &thumbnailPNG, bool dedupe,
                                  const QString &id);
    // Adds (or replaces) the row of a clip whose files are already written: untitled,
    // unpinned, with recognition pending. False when the statement failed.
    bool insertRow(const Clip &clip);
    // Stores a new entry whole: content file, thumbnail, then its row (image flag and byte size
    // are taken from the items). A failed content write is logged; a failed row removes the
    // files again. True when the entry exists afterwards. Neither trims nor notifies.
    bool addEntry(Clip clip, const ItemList &items, const std::optional<QByteArray> &thumbnailPNG);
    // Whether an id can name an entry's files: letters, digits, '-', '_' and '.', not starting
    // with a dot, at most 128 characters. Ids from outside (import files) are checked with it.
    static bool isUsableId(const QString &id);
    void touchTop(const QString &digest);
    void setTitle(const QString &id, const QString &title);
    void setPinned(const QString &id, bool pinned);
    void remove(const QString &id);
    void trim(std::optional<int> cap = std::nullopt);
    void clearHistory(bool keepPinned);
    // Held by every writer from "is this content already stored?" until its row is in, so a
    // capture and an import never both add the same content: a mutex for this process's
    // threads, and an flock on the Content folder for other processes writing the same store
    // (an `ulvane --import-copyless` beside the running application). The flock is held only
    // while the mutex is, and never by SQLite, so it cannot clash with the database's locks.
    class DedupeLock
    {
    public:
        void lock();
        void unlock();

    private:
        friend class Store;
        std::mutex m_mutex;
        int m_folder = -1;
    };
    DedupeLock &dedupeLock() { return m_dedupeLock; }
    // Removes content and thumbnail files that have no row: a kill between an entry's file
    // write and its row insert leaves them behind. Only files named like generated ids and
    // some seconds older than the busy timeout are taken, so a writer that is still waiting
    // to insert its row keeps its files. Returns how many files were removed.
    int removeOrphanFiles();

    // Queries.
    QList<Clip> search(const QString &query, ClipFilter filter, int limit);
    std::optional<QString> latestDigest();
    QStringList pendingOCR();
    std::optional<FlavorList> contentFlavors(const QString &id) const;
    std::optional<QImage> image(const QString &id) const;
    std::optional<QString> plainText(const QString &id) const;
    std::optional<QImage> thumbnail(const QString &id) const;

    // Writes bytes to a file readable by the owner only (0600), replacing it. On failure
    // returns false and sets *error to a description.
    static bool writePrivateFile(const QString &path, const QByteArray &bytes,
                                 QString *error = nullptr);

private:
    void open();
    void createSchema();
    void removeFiles(const QString &id);
    // Gives the rows of this content the time `created`.
    void moveInTime(const QString &digest, double created);
    sqlite3_stmt *prepare(const QString &sql, bool forRows);
    QList<Clip> clips(const QString &sql, const Params &params);
    QList<Clip> fullTextSearch(const QString &expression, ClipFilter filter, qint64 limit);
    QList<Clip> substringSearch(const QString &pattern, const QString &condition, qint64 limit);
    // The rows with these rowids, newest first, at most limit of them.
    QList<Clip> newestRows(const QList<qint64> &rowids, qint64 limit);

    static constexpr int busyTimeoutMs = 3000;

    QString m_dir;
    sqlite3 *m_db = nullptr;
    bool m_ftsAvailable = false;
    DedupeLock m_dedupeLock;
};
