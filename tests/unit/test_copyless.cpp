#include "ContentBuilders.h"
#include "CopyLessFolder.h"
#include "StoreFile.h"
#include "TestFiles.h"
#include "TestMain.h"

#include "exchange/CopyLessImporter.h"

#include <QDirIterator>

#include <sqlite3.h>
#include <sys/stat.h>

#include <limits>
#include <memory>

namespace {

const QVariant null;

// Every file under a folder with its bytes, by path.
QMap<QString, QByteArray> filesUnder(const QString &folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path, fileText(path));
    }
    return files;
}

} // namespace

class TestCopyLess : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_folders = 0;
    std::unique_ptr<Store> m_store;

    QString newFolder() { return m_root.path() + QStringLiteral("/f%1").arg(++m_folders); }

    // run()'s outcome as text, so that a failure shows it.
    QString import(const CopyLessFolder &fx)
    {
        if (!fx.ok)
            return u"fixture not written"_qs;
        const auto result = CopyLessImporter::run(*m_store, fx.folder, nullptr);
        return result ? u"imported %1, skipped %2"_qs.arg(result->imported).arg(result->skipped)
                      : u"store not found"_qs;
    }

    QList<Clip> clips() const
    {
        QList<Clip> clips;
        for (const QVariant &id :
             StoreFile(m_store->dir()).column(u"SELECT id FROM clips ORDER BY rowid"_qs))
            clips.append(*m_store->clip(id.toString()));
        return clips;
    }

    qsizetype filesIn(const QString &folder) const
    {
        return QDir(m_store->dir() + folder).entryList(QDir::Files | QDir::Hidden).size();
    }

private Q_SLOTS:
    void init() { m_store = std::make_unique<Store>(newFolder()); }

    void cleanup() // no temporary copy of a database outlives its run
    {
        QCOMPARE(QDir(QDir::tempPath())
                     .entryList({u"copyless-import-*"_qs}, QDir::AllEntries | QDir::Hidden),
                 QStringList());
    }

    void inferKind_data()
    {
        QTest::addColumn<FlavorList>("flat");
        QTest::addColumn<QString>("excerpt");
        QTest::addColumn<ClipKind>("kind");
        const auto row = [](const char *name, const FlavorList &flat, const QString &excerpt,
                            ClipKind kind) { QTest::newRow(name) << flat << excerpt << kind; };
        const Flavor text{Uti::plainText, "x"};
        row("image wins over a link", {text, {Uti::tiff, "i"}}, u"http://x"_qs, ClipKind::Image);
        row("gif is no stored image", {{u"com.compuserve.gif"_qs, "g"}}, u"gif"_qs, ClipKind::Text);
        row("link between tabs and spaces", {text}, u"\t http://example.org \t"_qs, ClipKind::Link);
        row("line break is not trimmed", {text}, u"\nhttps://example.org"_qs, ClipKind::Text);
        row("scheme is case-sensitive", {text}, u"HTTPS://example.org"_qs, ClipKind::Text);
        row("url flavor alone", {{Uti::url, "https://x"}}, u"example"_qs, ClipKind::Text);
        row("never color", {text}, u"#ff8800"_qs, ClipKind::Text);
    }

    void inferKind()
    {
        QFETCH(FlavorList, flat);
        QFETCH(QString, excerpt);
        QFETCH(ClipKind, kind);
        QCOMPARE(CopyLessImporter::inferKind(flat, excerpt), kind);
    }

    // Table order is not time order: the import goes oldest first. A second run skips every row.
    void importsEveryField()
    {
        CopyLessFolder fx(newFolder());
        QCOMPARE(import(fx), u"imported 0, skipped 0"_qs); // an empty store is no failure
        const QByteArray thumbnail = filledPng(40, 20) + "trailing bytes kept as they are";
        const QList<ItemList> items{textItems(u"hello   world"_qs),
                                    {{{Uti::png, filledPng(64, 32)}, {Uti::tiff, "tiff bytes"}}},
                                    textItems(u"https://example.org/a"_qs),
                                    {{{Uti::fileUrl, "file:///home/a.png"}, {Uti::png, "p"}}}};
        fx.add({u"LINK"_qs, u"  https://example.org/a"_qs, null, null, null, 700000002.0},
               items[2]);
        fx.add({u"TEXT"_qs, u"hello   world"_qs, u"Greeting"_qs, u"com.apple.Safari"_qs,
                u"Safari"_qs, 700000000.5},
               items[0]);
        fx.add({u"IMAGE"_qs, null, null, null, null, 700000001.0, thumbnail}, items[1]);
        fx.add({u"FILE"_qs, u""_qs, null, null, null, 700000003.0}, items[3]);
        QCOMPARE(import(fx), u"imported 4, skipped 0"_qs);

        const QList<Clip> clips = this->clips();
        QCOMPARE(clips.size(), 4);
        const QStringList excerpts{u"hello world"_qs, u"Image"_qs, u"https://example.org/a"_qs,
                                   u"Clip"_qs};
        const QList<ClipKind> kinds{ClipKind::Text, ClipKind::Image, ClipKind::Link,
                                    ClipKind::File};
        for (int i = 0; i < 4; ++i) {
            const Clip &clip = clips[i];
            QCOMPARE(clip.kind, kinds[i]);
            QCOMPARE(clip.excerpt, excerpts[i]);
            QCOMPARE(fileText(m_store->contentPath(clip.id)), PBContent::from(items[i]).toJson());
            QCOMPARE(QFile::exists(m_store->thumbPath(clip.id)), i == 1);
        }
        QCOMPARE(clips[0].created, 700000000.5 + CopyLessFolder::referenceDate);
        QCOMPARE((QStringList{clips[0].title, clips[0].appId, clips[0].appName, clips[1].title,
                              clips[1].appId, clips[1].appName}),
                 (QStringList{u"Greeting"_qs, u"com.apple.Safari"_qs, u"Safari"_qs, {}, {}, {}}));
        QCOMPARE(fileText(m_store->thumbPath(clips[1].id)), thumbnail);
        // Without a recognition service the image rows wait in the backlog.
        QCOMPARE(m_store->pendingOCR(), QStringList({clips[3].id, clips[1].id}));

        QCOMPARE(import(fx), u"imported 0, skipped 4"_qs);
        QCOMPARE(m_store->count(), 4);
    }

    // A clip the history already holds is skipped whatever its title; the cap then keeps the
    // newest, titles and all.
    void duplicatesSkippedAndTrimKeepsTheNewest()
    {
        m_store->setHistoryCap(2);
        QVERIFY(m_store->add(newClip(textItems(u"already here"_qs), 1)));
        CopyLessFolder fx(newFolder());
        fx.addText(u"A"_qs, u"already here"_qs, 1, u"Other title"_qs);
        fx.addText(u"B"_qs, u"oldest"_qs, 2, u"First"_qs);
        fx.addText(u"C"_qs, u"middle"_qs, 3, u"Second"_qs);
        fx.addText(u"D"_qs, u"newest"_qs, 4, u"Third"_qs);
        QCOMPARE(import(fx), u"imported 3, skipped 1"_qs);
        const QList<Clip> clips = this->clips();
        QCOMPARE(clips.size(), 2);
        QCOMPARE(clips[0].title, u"Second"_qs);
        QCOMPARE(clips[1].title, u"Third"_qs);
        QCOMPARE(filesIn(u"/Content"_qs), 2);
    }

    // Counted neither as imported nor as skipped, and no content file left behind. A tag naming
    // a pipe, or a missing or oversized file says what the file is (a folder fails the pipe's
    // regular-file check).
    void rowsDroppedUncounted_data()
    {
        QTest::addColumn<QVariant>("identifier");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray valid = PBContent::from(textItems(u"lost"_qs)).toJson();
        const auto row = [](const char *name, const QByteArray &bytes,
                            const QVariant &id = u"X"_qs) { QTest::newRow(name) << id << bytes; };
        for (const char *tag : {"file missing", "file is a pipe", "past the size bound"})
            row(tag, valid);
        row("not json", QByteArray("PK\x03\x04\0\0 zip"));
        row("no valid base64", "{\"items\":[{\"flavors\":[{\"uti\":\"t\",\"data\":\"a@==\"},"
                               "{\"uti\":\"u\",\"data\":\"YWJj\\n\"}]}]}");
        row("store refuses the row", valid);
        row("identifier null", valid, null);
        // The file the identifier would reach does exist, outside the cache.
        row("identifier leaves the cache", valid, u"../../Outside"_qs);
    }

    void rowsDroppedUncounted()
    {
        QFETCH(QVariant, identifier);
        QFETCH(QByteArray, bytes);
        const QByteArray tag = QTest::currentDataTag();
        CopyLessFolder fx(newFolder());
        fx.addText(u"KEEP"_qs, u"kept"_qs, 1);
        fx.addRow({identifier, u"lost"_qs, null, null, null, 2.0});
        QFile file(fx.contentPath(identifier.toString()));
        if (tag == "store refuses the row")
            QVERIFY(StoreFile(m_store->dir()).refuse(u"INSERT"_qs, u"NEW.excerpt = 'lost'"_qs));
        if (tag == "file is a pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(file.fileName()).constData(), 0600), 0);
        else if (tag == "past the size bound") // sparse: costs no disk
            QVERIFY(file.open(QIODevice::WriteOnly) &&
                    file.resize(CopyLessImporter::maxContentFileSize + 1));
        else if (tag != "file missing")
            writeText(file.fileName(), bytes);
        QCOMPARE(import(fx), u"imported 1, skipped 0"_qs);
        QCOMPARE(filesIn(u"/Content"_qs), 1);
    }

    // A flavor that does not decode is left out, and does not count towards the kind.
    void undecodableFlavorsAreDropped()
    {
        CopyLessFolder fx(newFolder());
        fx.addRow({u"P"_qs, u"partial"_qs, null, null, null, 5.0});
        writeText(fx.contentPath(u"P"_qs),
                  "{\"items\":[{\"flavors\":[{\"uti\":\"a\",\"data\":\"!!\"}]},"
                  "{\"flavors\":[{\"uti\":\"public.utf8-plain-text\",\"data\":"
                  "\"cGFydGlhbA==\"},{\"uti\":\"public.png\",\"data\":\"x\"}]}]}");
        QCOMPARE(import(fx), u"imported 1, skipped 0"_qs);
        const Clip clip = clips().first();
        QCOMPARE(m_store->contentFlavors(clip.id), FlavorList({{Uti::plainText, "partial"}}));
        QCOMPARE(clip.kind, ClipKind::Text);
    }

    void largeSnapshotImports()
    {
        CopyLessFolder fx(newFolder());
        const QByteArray big(22 * 1024 * 1024, 'b'); // about 30 MB as Base64
        fx.add({u"BIG"_qs, u"big"_qs, null, null, null, 1.0}, {{{Uti::plainText, big}}});
        QCOMPARE(import(fx), u"imported 1, skipped 0"_qs);
        QCOMPARE(clips().first().byteSize, big.size());
    }

    // "bytes" is the database file's content or, for a tag starting with "sql", the statement
    // that builds it. None may hang the import.
    void storeNotFound_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        for (const char *tag : {"no database", "database is a pipe"})
            QTest::newRow(tag) << QByteArray();
        // Not a database, and the wrong schema, fail in the same place.
        QTest::newRow("not a database") << QByteArray(64 * 1024, 'x');
        QTest::newRow("sql: endless view") << QByteArray(
            "CREATE VIEW ZMANAGEDSNAPSHOT(ZIDENTIFIERVALUE, ZCONTENTEXCERPT, ZTITLE, "
            "ZSOURCEAPPBUNDLEIDENTIFIER, ZSOURCEAPPLOCALIZEDNAME, ZCREATIONDATEVALUE, "
            "ZTHUMBNAILDATAVALUE) AS WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL "
            "SELECT x+1 FROM n) SELECT 'A', '', '', '', '', x, NULL FROM n");
    }

    void storeNotFound()
    {
        QFETCH(QByteArray, bytes);
        const QByteArray tag = QTest::currentDataTag();
        const QString folder = newFolder();
        const QString database = folder + u"/Store.sqlite"_qs;
        QVERIFY(QDir().mkpath(folder + u"/SnapshotContentFiles/Cache"_qs));
        if (tag == "database is a pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(database).constData(), 0600), 0);
        } else if (tag.startsWith("sql")) {
            sqlite3 *db = nullptr;
            sqlite3_open(QFile::encodeName(database).constData(), &db);
            const int built = sqlite3_exec(db, bytes.constData(), nullptr, nullptr, nullptr);
            sqlite3_close(db);
            QCOMPARE(built, SQLITE_OK);
        } else if (tag != "no database") {
            writeText(database, bytes);
        }
        QVERIFY(!CopyLessImporter::run(*m_store, folder, nullptr));
        QCOMPARE(m_store->count(), 0);
    }

    // Values of a storage class their column's affinity does not convert, and the excerpt's
    // length limit. A date that is not a finite number reads as the reference date.
    void rowValues_data()
    {
        QTest::addColumn<QVariantList>("row");
        QTest::addColumn<QString>("excerpt");
        const auto row = [](const char *name, const QVariantList &values,
                            const QString &excerpt = u"n"_qs) {
            QTest::newRow(name) << values << excerpt;
        };
        const QString n = u"n"_qs;
        row("date as words", {u"D"_qs, n, null, null, null, u"yesterday"_qs});
        row("date infinite",
            {u"D"_qs, n, null, null, null, std::numeric_limits<double>::infinity()});
        row("thumbnail as text", {u"H"_qs, n, null, null, null, null, u"not bytes"_qs});
        row("thumbnail empty blob", {u"H"_qs, n, null, null, null, null, QByteArray("")});
        row("excerpt not utf-8", {u"E"_qs, QByteArray("\xff\xfeok")}, u"\uFFFD\uFFFDok"_qs);
        row("excerpt limit", {u"X"_qs, QString(300, u'x')}, QString(240, u'x'));
    }

    void rowValues()
    {
        QFETCH(QVariantList, row);
        QFETCH(QString, excerpt);
        CopyLessFolder fx(newFolder());
        fx.add(row, textItems(u"content"_qs));
        QCOMPARE(import(fx), u"imported 1, skipped 0"_qs);
        const Clip clip = clips().first();
        QCOMPARE(clip.excerpt, excerpt);
        QCOMPARE(clip.created, CopyLessFolder::referenceDate);
        QVERIFY(!QFile::exists(m_store->thumbPath(clip.id)));
    }

    // The other application still has its database open, mid-write or in write-ahead log mode
    // with nothing checkpointed.
    void originalStillOpen_data()
    {
        QTest::addColumn<QByteArray>("pragmas");
        const QByteArray wal = "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;";
        QTest::newRow("locked mid-write") << QByteArray();
        QTest::newRow("log with shared memory index") << wal;
        QTest::newRow("log, exclusive locking, no -shm") << "PRAGMA locking_mode=EXCLUSIVE;" + wal;
    }

    void originalStillOpen()
    {
        QFETCH(QByteArray, pragmas);
        CopyLessFolder fx(newFolder(), pragmas.constData());
        fx.addText(u"W1"_qs, u"one"_qs, 1);
        fx.addText(u"W2"_qs, u"two"_qs, 2, u"Titled"_qs);
        if (pragmas.isEmpty()) {
            fx.exec("BEGIN EXCLUSIVE");
            fx.addText(u"C"_qs, u"not yet committed"_qs, 3);
        } else {
            QVERIFY(QFileInfo(fx.databasePath() + u"-wal"_qs).size() > 0);
            QCOMPARE(QFileInfo::exists(fx.databasePath() + u"-shm"_qs),
                     !pragmas.contains("EXCLUSIVE"));
        }
        const auto before = filesUnder(fx.folder);
        QCOMPARE(import(fx), u"imported 2, skipped 0"_qs);
        QCOMPARE(clips().last().title, u"Titled"_qs);
        QCOMPARE(filesUnder(fx.folder), before);
    }
};

ULVANE_TEST_MAIN(TestCopyLess)
#include "test_copyless.moc"
