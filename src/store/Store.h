#pragma once

#include "core/Clip.h"
#include "core/Flavor.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

class ContentFiles;
class DedupeLock;
class StoreDatabase;
class StoreSearch;

// A new history entry as its source knows it; the store adds the id, the content digest, the
// image flag, the byte size and the thumbnail.
struct NewClip
{
    // What add() does when the same content (by digest) is already stored.
    enum class IfStored {
        // Captures: the stored entry moves to this time (to now when it is already the newest)
        // and keeps its id, title and pin; nothing new is stored.
        MoveUp,
        // Imports: nothing changes.
        Skip,
        // Stored again as a second entry.
        StoreAgain,
    };

    ItemList items;
    ClipKind kind = ClipKind::Text;
    QString excerpt;
    QString appId; // stored as app_bundle
    QString appName;
    double created = 0;
    QString title;
    bool pinned = false;
    IfStored ifStored = IfStored::MoveUp;
    // An id from outside (an import file): kept when Store::isUsableId accepts it, otherwise
    // (and when empty) replaced by a fresh one.
    QString id;
    // By default an image clip gets a thumbnail rendered from its first PNG or JPEG. A source
    // that brings its own sets this: those bytes are kept as they are, and empty means none.
    std::optional<QByteArray> ownThumbnail;
};

// The clip history on disk: a folder with store.sqlite (clips table, full-text index),
// Content/<id>.json snapshots and Thumbs/<id>.png thumbnails. Every operation fails soft:
// errors are logged and become false, an empty list, 0 or an absent value. Safe to use from
// any thread (the connection is serialised); changed() is always delivered on the GUI thread.
class Store : public QObject
{
    Q_OBJECT

public:
    // Thumbnails are rendered with their longer side at most this many pixels.
    static constexpr int thumbnailMaxSide = 220;
    // How many unpinned entries trim() keeps until setHistoryCap() says otherwise.
    static constexpr int defaultHistoryCap = 1000;

    explicit Store(const QString &dir);
    ~Store() override;

    // The store in the user's data folder ($XDG_DATA_HOME/Vesk), created on first use.
    static Store &shared();
    static QString defaultDirectory();

    // The cap trim() applies after every add; below 1 keeps everything. Any thread.
    void setHistoryCap(int cap);
    int historyCap() const;

    QString dir() const;
    QString contentPath(const QString &id) const;
    QString thumbPath(const QString &id) const;
    bool ftsAvailable() const;

    // Adds an entry: under the dedupe lock it looks for the content, then writes the content
    // file, the thumbnail and the row (title and pin included), trims to the history cap and
    // announces the change once. Gives the new entry's id; absent when nothing new was stored
    // (the content was there, or a write failed), with *alreadyStored telling which.
    std::optional<QString> add(const NewClip &clip, bool *alreadyStored = nullptr);
    // Adds the rows of entries whose files are written some other way (or not at all) in one
    // transaction, as given but with recognition pending, and checkpoints the log; neither
    // trims nor announces. Fills large histories for measurements and tests.
    bool addRows(const QList<Clip> &clips);
    // Whether an id can name an entry's files: letters, digits, '-', '_' and '.', not starting
    // with a dot, at most 128 characters.
    static bool isUsableId(const QString &id);

    void touchTop(const QString &digest);
    void setTitle(const QString &id, const QString &title);
    void setPinned(const QString &id, bool pinned);
    // The recognised text of an image entry; an empty text leaves it pending.
    void setOcrText(const QString &id, const QString &text);
    void remove(const QString &id);
    void trim();
    void trim(int cap);
    void clearHistory(bool keepPinned);
    // Removes content and thumbnail files that have no row: a kill between an entry's file
    // write and its row insert leaves them behind. Only files named like generated ids and
    // some seconds older than the busy timeout are taken, so a writer that is still waiting
    // to insert its row keeps its files. Returns how many files were removed.
    int removeOrphanFiles();

    // Queries.
    qint64 count();
    qint64 diskSize() const;
    QList<Clip> search(const QString &query, ClipFilter filter, int limit);
    std::optional<Clip> clip(const QString &id);
    bool containsDigest(const QString &digest);
    std::optional<QString> latestDigest();
    // The newest twenty image entries still waiting for text recognition.
    QStringList pendingOCR();
    std::optional<FlavorList> contentFlavors(const QString &id) const;
    std::optional<QImage> image(const QString &id) const;
    std::optional<QString> plainText(const QString &id) const;
    std::optional<QImage> thumbnail(const QString &id) const;

    // Writes bytes to a file readable by the owner only (0600), replacing it. On failure
    // returns false and sets *error to a description.
    static bool writePrivateFile(const QString &path, const QByteArray &bytes,
                                 QString *error = nullptr);

Q_SIGNALS:
    // Rows were added, changed or removed. Emitted at once on the GUI thread; from any other
    // thread it is queued there, and the writer goes on before listeners run.
    void changed();

private:
    void announce();
    bool insertRow(const Clip &clip);
    // Gives the rows of this content the time `created`.
    void moveInTime(const QString &digest, double created);
    void deleteRow(const QString &id);

    std::unique_ptr<ContentFiles> m_files;
    std::unique_ptr<DedupeLock> m_dedupeLock;
    std::unique_ptr<StoreDatabase> m_db;
    std::unique_ptr<StoreSearch> m_search;
    std::atomic<int> m_historyCap{defaultHistoryCap};
};
