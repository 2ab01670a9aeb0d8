#include "ContentBuilders.h"
#include "StderrCapture.h"
#include "StoreFile.h"
#include "TestFiles.h"
#include "TestMain.h"

#include "store/PBContent.h"

#include <QRandomGenerator>
#include <QSet>
#include <QSignalSpy>
#include <QThread>
#include <QUuid>

using IfStored = NewClip::IfStored;

#include <sys/stat.h>
#include <utime.h>

namespace {

int modeOf(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 0777);
}

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// Makes a file look as old as a leftover from an earlier run.
void age(const QString &path)
{
    const struct utimbuf old = {::time(nullptr) - 60, ::time(nullptr) - 60};
    QVERIFY(::utime(QFile::encodeName(path).constData(), &old) == 0);
}

} // namespace

class TestStore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_folder = 0;

    QString freshDir() { return m_root.path() + QStringLiteral("/store%1").arg(++m_folder); }

    static NewClip clipOf(const ItemList &items, double created, ClipKind kind = ClipKind::Text,
                          IfStored ifStored = IfStored::MoveUp)
    {
        NewClip clip = newClip(items, created, kind, ifStored);
        clip.appId = u"org.example.editor"_qs;
        clip.appName = u"Editor"_qs;
        return clip;
    }

    std::optional<QString> add(Store &store, const ItemList &items, double created,
                               ClipKind kind = ClipKind::Text, IfStored ifStored = IfStored::MoveUp)
    {
        return store.add(clipOf(items, created, kind, ifStored));
    }

    // A text entry that brings its own thumbnail.
    std::optional<QString> addWithThumbnail(Store &store, const QString &body, double created,
                                            const QString &id = {})
    {
        NewClip clip = clipOf(textItems(body), created);
        clip.ownThumbnail = filledPng(4, 3);
        clip.id = id;
        return store.add(clip);
    }

private Q_SLOTS:
    void newFolderLayoutAndPermissions()
    {
        const QString dir = freshDir();
        Store store(dir);
        QCOMPARE(store.count(), 0);
        QVERIFY(store.ftsAvailable());
        QVERIFY(QFileInfo(dir + u"/store.sqlite"_qs).isFile());
        QCOMPARE(modeOf(dir), 0700);
        QCOMPARE(modeOf(dir + u"/Content"_qs), 0700);
        QCOMPARE(modeOf(dir + u"/Thumbs"_qs), 0700);
        QCOMPARE(modeOf(dir + u"/store.sqlite"_qs), 0600);

        const auto id = addWithThumbnail(store, u"secret"_qs, 1);
        QVERIFY(id);
        QCOMPARE(modeOf(store.contentPath(*id)), 0600);
        QCOMPARE(modeOf(store.thumbPath(*id)), 0600);
        QCOMPARE(modeOf(dir + u"/store.sqlite-wal"_qs), 0600);
        QVERIFY(store.diskSize() >= QFileInfo(store.contentPath(*id)).size() +
                                        QFileInfo(dir + u"/store.sqlite"_qs).size());
    }

    void existingWideDatabaseIsNarrowed()
    {
        const QString dir = freshDir();
        writeText(dir + u"/store.sqlite"_qs, {});
        QFile::setPermissions(dir + u"/store.sqlite"_qs,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        Store store(dir);
        QCOMPARE(modeOf(dir + u"/store.sqlite"_qs), 0600);
    }

    void schemaTextAndReopeningKeepsData()
    {
        const QString dir = freshDir();
        {
            Store store(dir);
            QVERIFY(add(store, textItems(u"keep me"_qs), 10));
        }
        Store store(dir);
        QCOMPARE(store.count(), 1);
        // The table and the index, text for text: histories written by earlier versions read
        // with the same statements.
        QCOMPARE(
            StoreFile(dir).texts(
                u"SELECT sql FROM sqlite_master WHERE name IN ('clips', 'fts') ORDER BY name"_qs),
            QStringList(
                {u"CREATE TABLE clips(\n  id TEXT PRIMARY KEY, created REAL, kind TEXT, excerpt TEXT, title TEXT DEFAULT '',\n  app_bundle TEXT DEFAULT '', app_name TEXT DEFAULT '', digest TEXT,\n  pinned INTEGER DEFAULT 0, has_image INTEGER DEFAULT 0,\n  byte_size INTEGER DEFAULT 0, ocr TEXT DEFAULT ''\n)"_qs,
                 u"CREATE VIRTUAL TABLE fts USING fts5(\n  excerpt, title, app_name, ocr, content='clips', content_rowid='rowid', prefix='2 3'\n)"_qs}));
    }

    void dedupeMovesContentToTheTop()
    {
        Store store(freshDir());
        const auto a = add(store, textItems(u"A"_qs), 100);
        QVERIFY(a);
        // Same content right away: moved to now, nothing new stored.
        QCOMPARE(add(store, textItems(u"A"_qs), 101), std::nullopt);
        QCOMPARE(store.count(), 1);
        QVERIFY(store.search({}, ClipFilter::All, 10).first().created > 1000);

        store.setTitle(*a, u"Named"_qs);
        store.setPinned(*a, true);
        QVERIFY(add(store, textItems(u"B"_qs), Util::now() + 10));
        // A again, behind B: the old entry moves to the top with its id, title and pin.
        QCOMPARE(add(store, textItems(u"A"_qs), Util::now() + 20), std::nullopt);
        const QList<Clip> list = store.search({}, ClipFilter::All, 10);
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.first().id, *a);
        QCOMPARE(list.first().title, u"Named"_qs);
        QVERIFY(list.first().pinned);

        // Type order does not make new content; dedupe off stores again.
        const ItemList ab{{{u"x"_qs, "1"}, {u"y"_qs, "2"}}};
        const ItemList ba{{{u"y"_qs, "2"}}, {{u"x"_qs, "1"}}};
        QVERIFY(add(store, ab, Util::now() + 30));
        QCOMPARE(add(store, ba, Util::now() + 40), std::nullopt);
        QVERIFY(add(store, ba, Util::now() + 50, ClipKind::Text, IfStored::StoreAgain));
        QCOMPARE(store.count(), 4);
    }

    // Imports skip a stored content: the entry keeps its time and place, nothing is announced.
    void skipLeavesTheStoredEntryAlone()
    {
        Store store(freshDir());
        const auto a = add(store, textItems(u"A"_qs), 100);
        QVERIFY(add(store, textItems(u"B"_qs), 200));
        QSignalSpy changed(&store, &Store::changed);
        bool alreadyStored = false;
        QCOMPARE(store.add(clipOf(textItems(u"A"_qs), 300, ClipKind::Text, IfStored::Skip),
                           &alreadyStored),
                 std::nullopt);
        QVERIFY(alreadyStored);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(store.count(), 2);
        QCOMPARE(store.clip(*a)->created, 100.0);
        QVERIFY(store.add(clipOf(textItems(u"C"_qs), 50, ClipKind::Text, IfStored::Skip),
                          &alreadyStored) &&
                !alreadyStored);
    }

    // Title and pin go in with the row: a store whose rows refuse every update still gets
    // them, and a pinned arrival older than the cap's window survives the trim that follows.
    void titleAndPinAreWrittenWithTheRowThenTrimAnnouncesOnce()
    {
        Store store(freshDir());
        store.setHistoryCap(1);
        QVERIFY(add(store, textItems(u"newest"_qs), 500));
        QVERIFY(StoreFile(store.dir()).refuse(u"UPDATE"_qs));
        QSignalSpy changed(&store, &Store::changed);
        NewClip old = clipOf(textItems(u"old favourite"_qs), 10);
        old.title = u"Kept"_qs;
        old.pinned = true;
        const auto kept = store.add(old);
        QCOMPARE(changed.count(), 1);
        QVERIFY(kept);
        QCOMPARE(store.clip(*kept)->title, u"Kept"_qs);
        QVERIFY(store.clip(*kept)->pinned);
        QCOMPARE(store.search(u"Kept"_qs, ClipFilter::Favorites, 10).size(), 1);

        QVERIFY(add(store, textItems(u"old, unpinned"_qs), 20));
        QCOMPARE(changed.count(), 2);
        QCOMPARE(store.count(), 2); // the cap keeps one unpinned entry, the newest
        QVERIFY(!store.search(u"newest"_qs, ClipFilter::All, 10).isEmpty());
    }

    // A usable id is kept; none, a path, a hidden name or an overlong one gets a new UUID.
    void idsFromOutsideAreKeptOnlyWhenUsable()
    {
        for (const QString &id :
             {u"Import-1_a.b"_qs, QString(), u"a/x"_qs, u".x"_qs, QString(129, u'a')}) {
            Store store(freshDir());
            const auto stored = addWithThumbnail(store, u"x"_qs, 1, id);
            QCOMPARE(*stored == id, id.startsWith(u"Import"));
            if (*stored != id)
                QVERIFY(!QUuid::fromString(*stored).isNull());
            QVERIFY(QFile::exists(store.contentPath(*stored)));
            QVERIFY(QFile::exists(store.thumbPath(*stored)));
            QCOMPARE(QDir(store.dir() + u"/Content"_qs).entryList(QDir::Files).size(), 1);
        }
    }

    // The other fields' way through the row is the export round trip's to check.
    void imageFlagAndSize()
    {
        Store store(freshDir());
        const auto tiff = add(store, {{{Uti::tiff, "II*x"}, {Uti::plainText, "t"}}}, 5);
        const auto gif = add(store, {{{u"com.compuserve.gif"_qs, "GIF89a"}}}, 6);
        QVERIFY(store.clip(*tiff)->hasImage);
        QCOMPARE(store.clip(*tiff)->byteSize, 5);
        QVERIFY(!store.clip(*gif)->hasImage);
    }

    void damagedRowsDecodeWithDefaults()
    {
        Store store(freshDir());
        QVERIFY(
            StoreFile(store.dir())
                .exec(
                    u"INSERT INTO clips(id, created, kind, excerpt, pinned, has_image, byte_size, title) VALUES('r', 'soon', 'Weird', X'00', 2, 1, 'big', NULL)"_qs));
        const Clip c = store.search({}, ClipFilter::All, 10).first();
        QCOMPARE(c.id, u"r"_qs);
        QCOMPARE(c.created, 0.0);
        QCOMPARE(c.kind, ClipKind::Text);
        QVERIFY(c.excerpt.isEmpty() && c.title.isEmpty());
        QVERIFY(!c.pinned);
        QVERIFY(c.hasImage);
        QCOMPARE(c.byteSize, 0);
        QCOMPARE(store.clip(u"nothing"_qs), std::nullopt);
    }

    void trimKeepsTheNewestUnpinnedAndEveryPinned()
    {
        Store store(freshDir());
        QStringList ids;
        for (int i = 0; i < 8; ++i) {
            const auto id = addWithThumbnail(store, QString::number(i), 100 + i);
            ids << *id;
        }
        store.setPinned(ids[0], true);
        store.setPinned(ids[1], true);
        store.trim(5);
        QCOMPARE(store.count(), 7);
        for (int i = 0; i < 8; ++i) {
            const bool kept = i < 2 || i >= 3;
            QCOMPARE(QFile::exists(store.contentPath(ids[i])), kept);
            QCOMPARE(QFile::exists(store.thumbPath(ids[i])), kept);
        }
        store.trim(0);
        QCOMPARE(store.count(), 7);
    }

    void deleteAndClear()
    {
        Store store(freshDir());
        const auto a = add(store, textItems(u"a"_qs), 1);
        const auto b = add(store, textItems(u"b"_qs), 2);
        const auto c = add(store, textItems(u"c"_qs), 3);
        store.setPinned(*b, true);
        QFile::remove(store.contentPath(*c)); // a missing file never blocks a delete
        store.remove(*c);
        QCOMPARE(store.count(), 2);
        store.clearHistory(true);
        QCOMPARE(store.count(), 1);
        QVERIFY(!QFile::exists(store.contentPath(*a)));
        QVERIFY(QFile::exists(store.contentPath(*b)));
        store.clearHistory(false);
        QCOMPARE(store.count(), 0);
        QVERIFY(!QFile::exists(store.contentPath(*b)));
    }

    void failedRowInsertLeavesNoFilesAndNoId()
    {
        Store store(freshDir());
        QVERIFY(StoreFile(store.dir()).refuse(u"INSERT"_qs));
        const QString id = newId();
        StderrCapture quiet;
        QCOMPARE(addWithThumbnail(store, u"x"_qs, 1, id), std::nullopt);
        QVERIFY(!QFile::exists(store.contentPath(id)));
        QVERIFY(!QFile::exists(store.thumbPath(id)));
    }

    // A delete that fails leaves the row, so it must leave the row's files too.
    void failedDeletesKeepTheFiles()
    {
        Store store(freshDir());
        const auto a = add(store, textItems(u"a"_qs), 1);
        const auto b = add(store, textItems(u"b"_qs), 2);
        QVERIFY(StoreFile(store.dir()).refuse(u"DELETE"_qs));
        store.remove(*a);
        store.trim(1);
        store.clearHistory(false);
        QCOMPARE(store.count(), 2);
        QVERIFY(QFile::exists(store.contentPath(*a)));
        QVERIFY(QFile::exists(store.contentPath(*b)));
    }

    void replacedRowLeavesNoWordsInTheIndex()
    {
        Store store(freshDir());
        Clip clip;
        clip.id = newId();
        clip.excerpt = u"walrus"_qs;
        QVERIFY(store.addRows({clip}));
        clip.excerpt = u"pelican"_qs;
        QVERIFY(store.addRows({clip}));
        QCOMPARE(
            StoreFile(store.dir()).integer(u"SELECT count(*) FROM fts WHERE fts MATCH 'walrus'"_qs),
            0);
        QCOMPARE(store.search(u"pelican"_qs, ClipFilter::All, 10).size(), 1);
    }

    void unwritableThumbnailKeepsTheEntry()
    {
        Store store(freshDir());
        QDir(store.dir() + u"/Thumbs"_qs).removeRecursively();
        const QString id = newId();
        StderrCapture quiet;
        NewClip image = clipOf({{{Uti::png, filledPng(4, 3)}}}, 1, ClipKind::Image);
        image.id = id;
        QVERIFY(store.add(image));
        QVERIFY(store.image(id));
        QCOMPARE(store.thumbnail(id), std::nullopt);
    }

    void orphanFilesAreRemovedAndNothingElse()
    {
        Store store(freshDir());
        const QString kept = newId();
        QVERIFY(addWithThumbnail(store, u"kept"_qs, 1, kept));
        const QString orphan = newId();
        const QString young = newId();
        const QString foreign = store.dir() + u"/Content/notes.json"_qs;
        for (const QString &path : {store.contentPath(orphan), store.thumbPath(orphan),
                                    store.contentPath(young), foreign})
            writeText(path, "{}");
        for (const QString &path : {store.contentPath(kept), store.thumbPath(kept),
                                    store.contentPath(orphan), store.thumbPath(orphan), foreign})
            age(path);

        StderrCapture quiet;
        QCOMPARE(store.removeOrphanFiles(), 2);
        QVERIFY(!QFile::exists(store.contentPath(orphan)));
        QVERIFY(!QFile::exists(store.thumbPath(orphan)));
        QVERIFY(QFile::exists(store.contentPath(kept)));
        QVERIFY(QFile::exists(store.thumbPath(kept)));
        // Possibly a writer in another process still waiting to insert its row.
        QVERIFY(QFile::exists(store.contentPath(young)));
        QVERIFY(QFile::exists(foreign));
        QCOMPARE(store.removeOrphanFiles(), 0);

        // A table that cannot be read is not an empty one.
        age(store.contentPath(young));
        QVERIFY(StoreFile(store.dir()).exec(u"DROP TABLE clips"_qs));
        QCOMPARE(store.removeOrphanFiles(), 0);
        QVERIFY(QFile::exists(store.contentPath(young)));
        QVERIFY(QFile::exists(store.contentPath(kept)));
    }

    void notADatabaseFailsSoftAndIsLeftAlone()
    {
        const QString dir = freshDir();
        const QByteArray garbage(4096, 'Z');
        writeText(dir + u"/store.sqlite"_qs, garbage);
        StderrCapture quiet;
        {
            Store store(dir);
            QCOMPARE(store.count(), 0);
            QVERIFY(!store.ftsAvailable());
            QCOMPARE(add(store, textItems(u"x"_qs), 1), std::nullopt);
            QVERIFY(store.search(u"x"_qs, ClipFilter::All, 10).isEmpty());
            QCOMPARE(store.latestDigest(), std::nullopt);
        }
        QCOMPARE(fileText(dir + u"/store.sqlite"_qs), garbage);
        QCOMPARE(QDir(dir + u"/Content"_qs).entryList(QDir::Files).size(), 0);
    }

    void search()
    {
        Store store(freshDir());
        const auto report = add(store, textItems(u"quarterly report draft"_qs), 1);
        const auto code = add(store, textItems(u"let reportCount = 5;"_qs), 2, ClipKind::Code);
        const auto color = add(store, textItems(u"#1e90ff"_qs), 3, ClipKind::Color);
        NewClip shot = clipOf({{{Uti::png, filledPng(4, 3)}}}, 4, ClipKind::Image);
        shot.appName = u"Shot"_qs;
        const auto image = store.add(shot);
        const auto quoted = add(store, textItems(u"say \"hi\" 100% done_now"_qs), 5);
        store.setPinned(*report, true);
        store.setTitle(*color, u"Sky Blue"_qs);
        store.setOcrText(*image, u"invoice total рахунок"_qs);

        auto ids = [&store](const QString &query, ClipFilter filter = ClipFilter::All) {
            QStringList found;
            for (const Clip &c : store.search(query, filter, 400))
                found << c.id;
            return found;
        };
        QCOMPARE(ids(u" \t "_qs), QStringList({*quoted, *image, *color, *code, *report}));
        QCOMPARE(store.search({}, ClipFilter::All, 2).size(), 2);
        QCOMPARE(ids(u"report"_qs), QStringList({*code, *report})); // prefix of "reportCount"
        QCOMPARE(ids(u"Editor"_qs).size(), 4);                      // application name
        QCOMPARE(ids(u"sky"_qs), QStringList({*color}));            // title
        QCOMPARE(ids(u"invoice"_qs), QStringList({*image}));        // recognised text
        QCOMPARE(ids(u"рахун"_qs), QStringList({*image}));
        QCOMPARE(ids(u"report zebra"_qs), QStringList());
        QCOMPARE(ids(u"\"hi\""_qs), QStringList({*quoted}));
        QCOMPARE(ids(u"say\"hi"_qs), QStringList());
        QCOMPARE(ids(u"100%"_qs), QStringList({*quoted}));
        QCOMPARE(ids(u"report"_qs, ClipFilter::Favorites), QStringList({*report}));
        QCOMPARE(ids({}, ClipFilter::Text), QStringList({*quoted, *color, *code, *report}));
        QCOMPARE(ids({}, ClipFilter::Images), QStringList({*image}));
        QCOMPARE(ids({}, ClipFilter::Links), QStringList());

        // Nothing the user types can break a query or make it complain.
        for (const QString &hostile :
             {u"AND"_qs, u"a NEAR b"_qs, u"*"_qs, u"-report"_qs, u"\""_qs, u"(("_qs, u"_"_qs,
              u"'; DROP TABLE clips; --"_qs, u"excerpt:foo {title}: bar"_qs,
              u"ab "_qs.repeated(3400), QString::fromUtf16(u"a\0b\u0001\u202e", 5)}) {
            StderrCapture log;
            store.search(hostile, ClipFilter::All, 400);
            QCOMPARE(log.text(), QByteArray());
        }
        QCOMPARE(store.count(), 5);
    }

    // Every search must give what the plain statements give: the join for words, a LIKE scan
    // for text inside words. Checked while the history's rowids follow time, after an import
    // added older entries late, and after repeats moved old entries to the top.
    void searchesGiveThePlainStatementsRows()
    {
        Store store(freshDir());
        QRandomGenerator random(3);
        StoreFile file(store.dir());
        auto addRows = [&](int from, int count, auto created) {
            QList<Clip> rows;
            for (int i = from; i < from + count; ++i) {
                Clip c;
                c.id = QStringLiteral("W%1").arg(i);
                c.created = created(i);
                c.excerpt = i % 3 ? QStringLiteral("common word %1").arg(i) : u"other"_qs;
                if (i % 500 == 7)
                    c.excerpt += u" rare"_qs;
                c.digest = c.id;
                rows << c;
            }
            QVERIFY(store.addRows(rows));
        };
        auto check = [&] {
            const QList<std::pair<QString, QString>> cases = {
                {u"comm"_qs, u"\"comm\"*"_qs},   {u"word comm"_qs, u"\"word\"* \"comm\"*"_qs},
                {u"other"_qs, u"\"other\"*"_qs}, {u"rare"_qs, u"\"rare\"*"_qs},
                {u"ommo"_qs, QString()}, // inside words only
            };
            for (const auto &[query, expression] : cases) {
                for (const int limit : {400, 3}) {
                    const QList<QVariant> expected =
                        expression.isEmpty()
                            ? file.column(u"SELECT created FROM clips WHERE excerpt LIKE ? "
                                          "ORDER BY created DESC LIMIT ?"_qs,
                                          {u'%' + query + u'%', qint64(limit)})
                            : file.column(
                                  u"SELECT c.created FROM clips c JOIN fts f ON c.rowid=f.rowid "
                                  "WHERE fts MATCH ? ORDER BY c.created DESC LIMIT ?"_qs,
                                  {expression, qint64(limit)});
                    QList<QVariant> searched;
                    QSet<QString> ids;
                    for (const Clip &c : store.search(query, ClipFilter::All, limit)) {
                        searched << c.created;
                        ids << c.id;
                    }
                    // Equal times may come in either order: compare times and distinct rows.
                    QVERIFY(!expected.isEmpty());
                    QCOMPARE(searched, expected);
                    QCOMPARE(ids.size(), searched.size());
                }
            }
        };
        addRows(0, 3000, [](int i) { return 1000.0 + i; });
        check();
        addRows(3000, 800, [&](int) { return double(random.bounded(4000)); });
        check(); // older entries imported late
        for (int i = 0; i < 40; ++i)
            store.touchTop(QStringLiteral("W%1").arg(random.bounded(3800)));
        check();
        // Copies stored twice share a digest; moving them must not fail on a shared rowid.
        for (const QString &id : {u"D1"_qs, u"D2"_qs}) {
            Clip twin;
            twin.id = id;
            twin.excerpt = u"twin"_qs;
            twin.digest = u"dup"_qs;
            QVERIFY(store.addRows({twin}));
        }
        store.touchTop(u"dup"_qs);
        QCOMPARE(store.search(u"twin"_qs, ClipFilter::All, 1).first().created,
                 store.search({}, ClipFilter::All, 1).first().created);
        QCOMPARE(store.search(u"twin"_qs, ClipFilter::All, 2).size(), 2);
    }

    void indexWithoutPrefixesIsRebuiltOnce()
    {
        const QString dir = freshDir();
        {
            Store store(dir);
            QVERIFY(add(store, textItems(u"zebra crossing"_qs), 10));
            StoreFile file(dir);
            QVERIFY(file.exec(u"DROP TABLE fts"_qs));
            QVERIFY(file.exec(u"CREATE VIRTUAL TABLE fts USING fts5(excerpt, title, app_name, ocr, "
                              "content='clips', content_rowid='rowid')"_qs));
            QVERIFY(file.exec(u"INSERT INTO fts(fts) VALUES('rebuild')"_qs));
            // Another writer holding the database: this run keeps the old index and searches.
            QVERIFY(file.exec(u"BEGIN IMMEDIATE"_qs));
            StderrCapture quiet;
            Store blocked(dir);
            QCOMPARE(blocked.search(u"ze"_qs, ClipFilter::All, 10).size(), 1);
            QVERIFY(file.exec(u"COMMIT"_qs));
        }
        StderrCapture log;
        {
            Store store(dir);
            QCOMPARE(store.search(u"ze"_qs, ClipFilter::All, 10).size(), 1);
            QVERIFY(StoreFile(dir)
                        .column(u"SELECT sql FROM sqlite_master WHERE name='fts'"_qs)
                        .value(0)
                        .toString()
                        .contains(u"prefix='2 3'"_qs));
        }
        Store again(dir);
        QCOMPARE(log.text().count("[Store] full-text index rebuilt with prefix indexes"), 1);
        QCOMPARE(again.search(u"cross"_qs, ClipFilter::All, 10).size(), 1);
    }

    // Two stores on one folder stand for two processes (the app and a command-line import):
    // each has its own threads' lock, so only the lock between them keeps a content that both
    // store at the same moment from being kept twice.
    void twoWritersOfOneFolderNeverStoreContentTwice()
    {
        const QString dir = freshDir();
        Store first(dir);
        Store second(dir);
        auto writer = [](Store &store) {
            return QThread::create([&store] {
                for (int i = 0; i < 400; ++i) {
                    const QString body = QStringLiteral("shared clip %1 ").arg(i).repeated(200);
                    store.add(newClip(textItems(body), 1000 + i));
                }
            });
        };
        std::unique_ptr<QThread> a(writer(first));
        std::unique_ptr<QThread> b(writer(second));
        a->start();
        b->start();
        QVERIFY(a->wait(60000) && b->wait(60000));
        QCOMPARE(first.count(), 400);
        QCOMPARE(StoreFile(dir).integer(u"SELECT COUNT(DISTINCT digest) FROM clips"_qs), 400);
        QCoreApplication::processEvents(); // the writers' change notifications
    }

    void contentReaders()
    {
        Store store(freshDir());
        const QByteArray rtf = "{\\rtf1\\ansi Rich}";
        const auto both = add(store, {{{Uti::rtf, rtf}, {Uti::plainText, "plain"}}}, 1);
        const auto onlyRtf = add(store, {{{Uti::rtf, rtf}}}, 2);
        const auto fileUrl = add(store, {{{Uti::fileUrl, "file:///tmp/a%20b.txt"}}}, 3);
        const auto badUtf8 = add(store, {{{Uti::plainText, "\xff\xfe"}, {Uti::rtf, rtf}}}, 4);
        const auto images =
            add(store, {{{Uti::tiff, "not an image"}, {Uti::png, filledPng(7, 5)}}}, 5);
        QCOMPARE(store.plainText(*both), std::optional<QString>(u"plain"_qs));
        QCOMPARE(store.plainText(*onlyRtf), std::optional<QString>(u"Rich"_qs));
        QCOMPARE(store.plainText(*fileUrl), std::optional<QString>(u"file:///tmp/a%20b.txt"_qs));
        QCOMPARE(store.plainText(*badUtf8), std::nullopt);
        QCOMPARE(store.plainText(*images), std::nullopt);
        QCOMPARE(store.image(*images)->size(), QSize(7, 5));
        QCOMPARE(store.image(*both), std::nullopt);
        QCOMPARE(store.thumbnail(*images), std::nullopt);
        QCOMPARE(store.plainText(u"no-such-id"_qs), std::nullopt);
    }

    void notificationsArriveOnTheMainThread()
    {
        Store store(freshDir());
        QSignalSpy spy(&store, &Store::changed);
        store.setTitle(u"none"_qs, u"x"_qs);
        QCOMPARE(spy.count(), 1); // on the main thread: at once
        QThread *worker = QThread::create([&store] {
            store.touchTop(u"nothing"_qs);
            store.touchTop(u"nothing"_qs);
        });
        QThread *deliveredOn = nullptr;
        connect(&store, &Store::changed, this,
                [&deliveredOn] { deliveredOn = QThread::currentThread(); });
        worker->start();
        worker->wait();
        QCOMPARE(spy.count(), 1); // queued, not yet delivered
        QTRY_COMPARE(spy.count(), 3);
        QCOMPARE(deliveredOn, QThread::currentThread());
        delete worker;
    }
};

ULVANE_TEST_MAIN(TestStore)
#include "test_store.moc"
