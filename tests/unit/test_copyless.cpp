#include "StderrCapture.h"
#include "TestMain.h"

#include "exchange/CopyLessImporter.h"
#include "ocr/OCRService.h"
#include "store/PBContent.h"
#include "store/Store.h"

#include <QBuffer>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QImage>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <sqlite3.h>
#include <sys/stat.h>

#include <limits>
#include <memory>

namespace {

constexpr double kReferenceDate = 978307200.0; // 2001-01-01, where Core Data dates start
const QVariant null;
const auto kPrivate = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;

// run()'s outcome as text, so that a failure shows it.
QString outcome(const std::optional<CopyLessImporter::Result> &result)
{
    return result ? u"imported %1, skipped %2"_qs.arg(result->imported).arg(result->skipped)
                  : u"store not found"_qs;
}

QByteArray png(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QBuffer buffer;
    image.save(&buffer, "PNG");
    return buffer.data();
}

ItemList textItems(const QString &text)
{
    return {{{Uti::plainText, text.toUtf8()}}};
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every file under a folder with its bytes, by path.
QMap<QString, QByteArray> filesUnder(const QString &folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path, readAll(path));
    }
    return files;
}

// A CopyLess 2 store folder as the other application lays it out: a Core Data database and
// its content cache, written with SQLite's C API. The connection stays open while it lives.
class Fixture
{
public:
    explicit Fixture(const QString &folder, const char *pragmas = "")
        : folder(folder), cache(folder + u"/SnapshotContentFiles/Cache/"_qs)
    {
        QDir().mkpath(cache);
        ok = sqlite3_open(QFile::encodeName(databasePath()).constData(), &m_db) == SQLITE_OK;
        exec(pragmas);
        exec("CREATE TABLE ZMANAGEDSNAPSHOT(Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT "
             "INTEGER, ZIDENTIFIERVALUE TEXT, ZCONTENTEXCERPT TEXT, ZTITLE TEXT, "
             "ZSOURCEAPPBUNDLEIDENTIFIER TEXT, ZSOURCEAPPLOCALIZEDNAME TEXT, ZCREATIONDATEVALUE "
             "REAL, ZTHUMBNAILDATAVALUE BLOB, ZPINNED INTEGER)");
    }
    ~Fixture() { sqlite3_close(m_db); }

    const QString folder;
    const QString cache;
    bool ok = false;

    QString databasePath() const { return folder + u"/Store.sqlite"_qs; }
    QString contentPath(const QString &id) const { return cache + id + u".pbdata"_qs; }
    void exec(const char *sql)
    {
        ok = ok && sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    // identifier, excerpt, title, bundle, app name, created, thumbnail, pinned; each value binds
    // by what it holds (invalid: NULL, text, bytes: blob, double, integer).
    void addRow(const QVariantList &values)
    {
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(
            m_db, "INSERT INTO ZMANAGEDSNAPSHOT VALUES(NULL, 7, 1, ?, ?, ?, ?, ?, ?, ?, ?)", -1,
            &st, nullptr);
        for (int i = 1; i <= 8; ++i) {
            const QVariant value = values.value(i - 1);
            const QByteArray bytes = value.toByteArray(); // text as UTF-8
            if (value.typeId() == QMetaType::UnknownType)
                sqlite3_bind_null(st, i);
            else if (value.typeId() == QMetaType::QString)
                sqlite3_bind_text(st, i, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
            else if (value.typeId() == QMetaType::QByteArray)
                sqlite3_bind_blob(st, i, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
            else if (value.typeId() == QMetaType::Double)
                sqlite3_bind_double(st, i, value.toDouble());
            else
                sqlite3_bind_int64(st, i, value.toLongLong());
        }
        ok = ok && sqlite3_step(st) == SQLITE_DONE;
        sqlite3_finalize(st);
    }
    // A row and its snapshot, filed under the row's identifier.
    void add(const QVariantList &values, const ItemList &items)
    {
        addRow(values);
        ok = ok &&
             writeFile(contentPath(values.value(0).toString()), PBContent::from(items).toJson());
    }
    void addText(const QString &id, const QString &text, double created,
                 const QString &title = QString())
    {
        add({id, text, title, u"org.example.editor"_qs, u"Editor"_qs, created}, textItems(text));
    }

private:
    sqlite3 *m_db = nullptr;
};

} // namespace

class TestCopyLess : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_folders = 0;
    std::unique_ptr<Store> m_store;

    QString newFolder() { return m_root.path() + QStringLiteral("/f%1").arg(++m_folders); }

    // Imports the fixture into m_store; false, with the failure recorded, on another outcome.
    bool imports(const Fixture &fx, int imported, int skipped = 0, OCRService *ocr = nullptr)
    {
        return QTest::qVerify(fx.ok, "fx.ok", "", __FILE__, __LINE__) &&
               QTest::qCompare(outcome(CopyLessImporter::run(*m_store, fx.folder, ocr)),
                               outcome(CopyLessImporter::Result{imported, skipped}), "run()",
                               "expected", __FILE__, __LINE__);
    }

    QList<Clip> clips() const
    {
        QList<Clip> clips;
        for (const Store::Row &row : m_store->rows(u"SELECT * FROM clips ORDER BY rowid"_qs))
            clips.append(Store::clip(row));
        return clips;
    }

    qsizetype filesIn(const QString &folder) const
    {
        return QDir(m_store->dir() + folder).entryList(QDir::Files | QDir::Hidden).size();
    }

private Q_SLOTS:
    void init()
    {
        Store::setHistoryCapProvider([] { return 0; });
        m_store = std::make_unique<Store>(newFolder());
    }

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
        row("file url beats image", {{Uti::png, "p"}, {Uti::fileUrl, "file:///tmp/a.png"}},
            u"https://x"_qs, ClipKind::File);
        for (const QString &uti : {Uti::png, Uti::tiff, Uti::jpeg})
            QTest::addRow("image %s", qPrintable(uti))
                << FlavorList{text, {uti, "i"}} << u"http://x"_qs << ClipKind::Image;
        row("gif is no stored image", {{u"com.compuserve.gif"_qs, "g"}}, u"gif"_qs, ClipKind::Text);
        row("link after spaces", {text}, u"  https://example.org"_qs, ClipKind::Link);
        row("link after tabs, before spaces", {text}, u"\t http://example.org \t"_qs,
            ClipKind::Link);
        row("line break is not trimmed", {text}, u"\nhttps://example.org"_qs, ClipKind::Text);
        row("scheme is case-sensitive", {text}, u"HTTPS://example.org"_qs, ClipKind::Text);
        row("no slashes", {text}, u"https:example"_qs, ClipKind::Text);
        row("url flavor alone", {{Uti::url, "https://x"}}, u"example"_qs, ClipKind::Text);
        row("never color", {text}, u"#ff8800"_qs, ClipKind::Text);
        row("never code", {text}, u"int main() { return 0; }"_qs, ClipKind::Text);
        row("nothing", {}, QString(), ClipKind::Text);
    }

    void inferKind()
    {
        QFETCH(FlavorList, flat);
        QFETCH(QString, excerpt);
        QFETCH(ClipKind, kind);
        QCOMPARE(CopyLessImporter::inferKind(flat, excerpt), kind);
    }

    void importsEveryField()
    {
        Fixture fx(newFolder());
        const QByteArray thumbnail = png(40, 20) + "trailing bytes kept as they are";
        const QList<ItemList> items{textItems(u"hello   world"_qs),
                                    {{{Uti::png, png(64, 32)}, {Uti::tiff, "tiff bytes"}}},
                                    textItems(u"https://example.org/a"_qs),
                                    {{{Uti::fileUrl, "file:///home/a.png"}, {Uti::png, "p"}}}};
        // Table order is not time order: the import goes oldest first.
        fx.add({u"LINK"_qs, u"  https://example.org/a"_qs, null, null, null, 700000002.0},
               items[2]);
        fx.add({u"TEXT"_qs, u"hello   world"_qs, u"Greeting"_qs, u"com.apple.Safari"_qs,
                u"Safari"_qs, 700000000.5, null, 1},
               items[0]);
        fx.add({u"IMAGE"_qs, null, null, null, null, 700000001.0, thumbnail}, items[1]);
        fx.add({u"FILE"_qs, u""_qs, null, null, null, 700000003.0}, items[3]);
        const auto before = filesUnder(fx.folder);
        StderrCapture log;
        QVERIFY(imports(fx, 4));
        QVERIFY(log.text().contains("[CopyLessImport] imported 4, skipped 0\n"));

        const QList<Clip> clips = this->clips();
        QCOMPARE(clips.size(), 4);
        const QStringList excerpts{u"hello world"_qs, u"Image"_qs, u"https://example.org/a"_qs,
                                   u"Clip"_qs};
        const QList<ClipKind> kinds{ClipKind::Text, ClipKind::Image, ClipKind::Link,
                                    ClipKind::File};
        const QRegularExpression uuid(
            u"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"_qs);
        for (int i = 0; i < 4; ++i) {
            const Clip &clip = clips[i];
            QVERIFY2(uuid.match(clip.id).hasMatch(), qPrintable(clip.id));
            QVERIFY(!clip.pinned); // pins are not taken over
            QCOMPARE(clip.kind, kinds[i]);
            QCOMPARE(clip.excerpt, excerpts[i]);
            QCOMPARE(clip.hasImage, i == 1 || i == 3);
            QCOMPARE(readAll(m_store->contentPath(clip.id)), PBContent::from(items[i]).toJson());
            QCOMPARE(QFile::permissions(m_store->contentPath(clip.id)), kPrivate);
            QCOMPARE(QFile::exists(m_store->thumbPath(clip.id)), i == 1);
        }
        QCOMPARE(clips[1].byteSize, png(64, 32).size() + 10); // every flavor counts
        QCOMPARE(clips[0].created, 700000000.5 + kReferenceDate);
        QCOMPARE(clips[3].created, 700000003.0 + kReferenceDate);
        QCOMPARE((QStringList{clips[0].title, clips[0].appBundle, clips[0].appName, clips[1].title,
                              clips[1].appBundle, clips[1].appName}),
                 (QStringList{u"Greeting"_qs, u"com.apple.Safari"_qs, u"Safari"_qs, {}, {}, {}}));
        QCOMPARE(readAll(m_store->thumbPath(clips[1].id)), thumbnail);
        QCOMPARE(QFile::permissions(m_store->thumbPath(clips[1].id)), kPrivate);
        // Without a recognition service the image rows wait in the backlog.
        QCOMPARE(m_store->pendingOCR(), QStringList({clips[3].id, clips[1].id}));

        QVERIFY(imports(fx, 0, 4));
        QCOMPARE(m_store->count(), 4);
        QCOMPARE(filesUnder(fx.folder), before);
    }

    void duplicatesGoByContent()
    {
        m_store->insert(textItems(u"already here"_qs), ClipKind::Text, u"already here"_qs, {}, {},
                        1, std::nullopt, true, u"MINE"_qs);
        Fixture fx(newFolder());
        fx.addText(u"A"_qs, u"already here"_qs, 1);
        fx.addText(u"B"_qs, u"twice"_qs, 2);
        fx.addText(u"C"_qs, u"twice"_qs, 3, u"Other title"_qs);
        QVERIFY(imports(fx, 1, 2));
        QCOMPARE(m_store->count(), 2);
    }

    // A tag naming a folder, a pipe, or a missing or oversized file says what the file is.
    void rowsDroppedUncounted_data()
    {
        QTest::addColumn<QVariant>("identifier");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray valid = PBContent::from(textItems(u"lost"_qs)).toJson();
        const auto row = [](const char *name, const QByteArray &bytes,
                            const QVariant &id = u"X"_qs) { QTest::newRow(name) << id << bytes; };
        for (const char *tag :
             {"file missing", "file is a folder", "file is a pipe", "past the size bound"})
            row(tag, valid);
        row("empty file", {});
        row("not json", QByteArray("PK\x03\x04\0\0 zip"));
        row("huge, not json", QByteArray(30 * 1024 * 1024, '{'));
        row("json array", "[]");
        row("flavor without data", "{\"items\":[{\"flavors\":[{\"uti\":\"t\"}]}]}");
        row("no items", "{\"items\":[]}");
        row("only empty items", "{\"items\":[{\"flavors\":[]},{\"flavors\":[]}]}");
        row("no valid base64", "{\"items\":[{\"flavors\":[{\"uti\":\"t\",\"data\":\"a@==\"},"
                               "{\"uti\":\"u\",\"data\":\"YWJj\\n\"}]}]}");
        row("identifier null", valid, null);
        row("identifier empty", valid, u""_qs);
        // The file the identifier would reach does exist, outside the cache.
        row("identifier leaves the cache", valid, u"../../Outside"_qs);
    }

    void rowsDroppedUncounted()
    {
        QFETCH(QVariant, identifier);
        QFETCH(QByteArray, bytes);
        const QByteArray tag = QTest::currentDataTag();
        Fixture fx(newFolder());
        fx.addText(u"KEEP"_qs, u"kept"_qs, 1);
        fx.addRow({identifier, u"lost"_qs, null, null, null, 2.0});
        QFile file(fx.contentPath(identifier.toString()));
        if (tag == "file is a folder")
            QVERIFY(QDir().mkpath(file.fileName()));
        else if (tag == "file is a pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(file.fileName()).constData(), 0600), 0);
        else if (tag == "past the size bound") // sparse: costs no disk
            QVERIFY(file.open(QIODevice::WriteOnly) &&
                    file.resize(CopyLessImporter::maxContentFileSize + 1));
        else if (tag != "file missing")
            QVERIFY(writeFile(file.fileName(), bytes));
        QVERIFY(imports(fx, 1));
        QCOMPARE(filesIn(u"/Content"_qs), 1);
    }

    void undecodableFlavorsAreDropped()
    {
        Fixture fx(newFolder());
        fx.addRow({u"P"_qs, u"partial"_qs, null, null, null, 5.0});
        QVERIFY(writeFile(fx.contentPath(u"P"_qs),
                          "{\"items\":[{\"flavors\":[{\"uti\":\"a\",\"data\":\"!!\"}]},"
                          "{\"flavors\":[{\"uti\":\"public.utf8-plain-text\",\"data\":"
                          "\"cGFydGlhbA==\"},{\"uti\":\"public.png\",\"data\":\"x\"}]}]}"));
        QVERIFY(imports(fx, 1));
        const Clip clip = clips().first();
        QCOMPARE(m_store->contentFlavors(clip.id), FlavorList({{Uti::plainText, "partial"}}));
        QCOMPARE(clip.kind, ClipKind::Text); // the broken image flavor does not count
        QVERIFY(!clip.hasImage);
        QCOMPARE(clip.byteSize, 7);
    }

    void largeSnapshotImports()
    {
        Fixture fx(newFolder());
        const QByteArray big(22 * 1024 * 1024, 'b'); // about 30 MB as Base64
        fx.add({u"BIG"_qs, u"big"_qs, null, null, null, 1.0}, {{{Uti::plainText, big}}});
        QVERIFY(imports(fx, 1));
        QCOMPARE(clips().first().byteSize, big.size());
    }

    void emptyStoreIsASuccess() { QVERIFY(imports(Fixture(newFolder()), 0)); }

    // The tag names the setup; "bytes" is the database file's content or, for a tag starting
    // with "sql", the statement that builds it.
    void storeNotFound_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        for (const char *tag : {"no folder", "no database", "empty file", "database is a folder",
                                "database is a pipe"})
            QTest::newRow(tag) << QByteArray();
        QByteArray noise(64 * 1024, '\0');
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(noise.data()),
                                              noise.size() / 4);
        QTest::newRow("random bytes") << noise;
        QTest::newRow("sql: another schema")
            << QByteArray("CREATE TABLE ZSNAPSHOT(ZIDENTIFIERVALUE TEXT, ZCREATIONDATEVALUE REAL)");
        QTest::newRow("sql: endless view")
            << QByteArray("CREATE VIEW ZMANAGEDSNAPSHOT AS WITH RECURSIVE n(x) AS (SELECT 1 UNION "
                          "ALL SELECT x+1 FROM n) SELECT 'A' AS ZIDENTIFIERVALUE, '' AS "
                          "ZCONTENTEXCERPT, '' AS ZTITLE, '' AS ZSOURCEAPPBUNDLEIDENTIFIER, '' AS "
                          "ZSOURCEAPPLOCALIZEDNAME, x AS ZCREATIONDATEVALUE, NULL AS "
                          "ZTHUMBNAILDATAVALUE FROM n");
    }

    void storeNotFound()
    {
        QFETCH(QByteArray, bytes);
        const QByteArray tag = QTest::currentDataTag();
        const QString folder = newFolder();
        const QString database = folder + u"/Store.sqlite"_qs;
        const QString cache = folder + u"/SnapshotContentFiles/Cache"_qs;
        if (tag != "no folder")
            QVERIFY(QDir().mkpath(cache) && writeFile(cache + u"/A.pbdata"_qs, {}));
        if (tag == "database is a folder") {
            QVERIFY(QDir().mkpath(database));
        } else if (tag == "database is a pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(database).constData(), 0600), 0);
        } else if (tag.startsWith("sql")) {
            sqlite3 *db = nullptr;
            sqlite3_open(QFile::encodeName(database).constData(), &db);
            QCOMPARE(sqlite3_exec(db, bytes.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        } else if (tag != "no folder" && tag != "no database") {
            QVERIFY(writeFile(database, bytes));
        }
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!CopyLessImporter::run(*m_store, folder, nullptr));
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(m_store->count(), 0);
    }

    // Columns of unexpected types, and the excerpt's fallbacks and length limit.
    void rowValues_data()
    {
        QTest::addColumn<QVariantList>("row");
        QTest::addColumn<ItemList>("items");
        QTest::addColumn<QString>("excerpt");
        QTest::addColumn<QString>("title");
        QTest::addColumn<double>("created");
        QTest::addColumn<bool>("thumbnail");
        const auto row = [](const char *name, const QVariantList &values, double created,
                            const QString &excerpt = u"n"_qs, const QString &title = {},
                            bool thumbnail = false,
                            const ItemList &items = textItems(u"content"_qs)) {
            QTest::newRow(name) << values << items << excerpt << title << kReferenceDate + created
                                << thumbnail;
        };
        const QString n = u"n"_qs;
        row("integer identifier", {42, n, null, null, null, 1.0}, 1);
        row("blob identifier", {QByteArray("B1"), n, null, null, null, 1.0}, 1);
        row("date as words", {u"D"_qs, n, null, null, null, u"yesterday"_qs}, 0);
        row("date as numeric text", {u"D"_qs, n, null, null, null, u"12.5"_qs}, 12.5);
        row("date as integer", {u"D"_qs, n, null, null, null, 10}, 10);
        row("date null", {u"D"_qs, n}, 0);
        row("date infinite",
            {u"D"_qs, n, null, null, null, std::numeric_limits<double>::infinity()}, 0);
        row("excerpt blob", {u"E"_qs, QByteArray("from a blob"), null, null, null, 3.0}, 3,
            u"from a blob"_qs);
        row("excerpt not utf-8", {u"E"_qs, QByteArray("\xff\xfeok"), null, null, null, 3.0}, 3,
            u"\uFFFD\uFFFDok"_qs);
        row("excerpt number", {u"E"_qs, 3.5, null, null, null, 3.0}, 3, u"3.5"_qs);
        row("title integer", {u"T"_qs, n, 7, null, null, 3.0}, 3, n, u"7"_qs);
        row("title blob", {u"T"_qs, n, QByteArray("named"), null, null, 3.0}, 3, n, u"named"_qs);
        row("thumbnail as text", {u"H"_qs, n, null, null, null, 3.0, u"not bytes"_qs}, 3);
        row("thumbnail empty blob", {u"H"_qs, n, null, null, null, 3.0, QByteArray("")}, 3);
        row("thumbnail blob", {u"H"_qs, n, null, null, null, 3.0, QByteArray("\x01zz")}, 3, n, {},
            true);
        const ItemList image{{{Uti::jpeg, "j"}}};
        const ItemList file{{{Uti::fileUrl, "file:///a"}, {Uti::png, "p"}}};
        row("empty image", {u"X"_qs, u""_qs}, 0, u"Image"_qs, {}, false, image);
        row("null image", {u"X"_qs}, 0, u"Image"_qs, {}, false, image);
        row("empty text", {u"X"_qs, u""_qs}, 0, u"Clip"_qs);
        row("empty file", {u"X"_qs}, 0, u"Clip"_qs, {}, false, file);
        row("excerpt limit", {u"X"_qs, QString(300, u'x')}, 0, QString(240, u'x'));
    }

    void rowValues()
    {
        QFETCH(QVariantList, row);
        QFETCH(ItemList, items);
        QFETCH(QString, excerpt);
        QFETCH(QString, title);
        QFETCH(double, created);
        QFETCH(bool, thumbnail);
        Fixture fx(newFolder());
        fx.add(row, items);
        QVERIFY(imports(fx, 1));
        const Clip clip = clips().first();
        QCOMPARE(clip.excerpt, excerpt);
        QCOMPARE(clip.title, title);
        QCOMPARE(clip.created, created);
        QCOMPARE(QFile::exists(m_store->thumbPath(clip.id)), thumbnail);
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
        Fixture fx(newFolder(), pragmas.constData());
        fx.addText(u"W1"_qs, u"one"_qs, 1);
        fx.addText(u"W2"_qs, u"two"_qs, 2, u"Titled"_qs);
        if (pragmas.isEmpty()) {
            fx.exec("BEGIN EXCLUSIVE");
            fx.addText(u"C"_qs, u"not yet committed"_qs, 3);
        } else {
            QVERIFY(QFileInfo(fx.databasePath() + u"-wal"_qs).size() > 0);
            QCOMPARE(QFileInfo::exists(fx.databasePath() + u"-shm"_qs),
                     !pragmas.contains("EXCLUSIVE"));
            // The main file alone does not even have the table yet.
            const QString alone = newFolder();
            QVERIFY(QDir().mkpath(alone) &&
                    QFile::copy(fx.databasePath(), alone + u"/Store.sqlite"_qs));
            QVERIFY(!CopyLessImporter::run(*m_store, alone, nullptr));
        }
        const auto before = filesUnder(fx.folder);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(imports(fx, 2));
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(clips().last().title, u"Titled"_qs);
        QCOMPARE(filesUnder(fx.folder), before);
    }

    // An empty "logged" means the database refuses the row.
    void failedInsertLeavesNoFiles_data()
    {
        QTest::addColumn<QByteArray>("logged");
        QTest::newRow("row refused") << QByteArray();
        QTest::newRow("content folder gone") << QByteArray("[Store] content write failed: ");
    }

    void failedInsertLeavesNoFiles()
    {
        QFETCH(QByteArray, logged);
        Fixture fx(newFolder());
        fx.add({u"I"_qs, null, null, null, null, 1.0, png(4, 4)}, {{{Uti::png, png(8, 8)}}});
        if (logged.isEmpty())
            QVERIFY(m_store->exec(u"CREATE TRIGGER refuse BEFORE INSERT ON clips BEGIN "
                                  "SELECT RAISE(ABORT, 'refused'); END"_qs));
        else
            QVERIFY(QDir(m_store->dir() + u"/Content"_qs).removeRecursively());
        StderrCapture log;
        QVERIFY(imports(fx, 0));
        QVERIFY(log.text().contains(logged));
        QCOMPARE(m_store->count(), 0);
        QCOMPARE(filesIn(u"/Content"_qs) + filesIn(u"/Thumbs"_qs), 0);
    }

    void trimKeepsTheNewestTitled()
    {
        Store::setHistoryCapProvider([] { return 2; });
        Fixture fx(newFolder());
        fx.addText(u"A"_qs, u"oldest"_qs, 1, u"First"_qs);
        fx.addText(u"B"_qs, u"middle"_qs, 2, u"Second"_qs);
        fx.addText(u"C"_qs, u"newest"_qs, 3, u"Third"_qs);
        QVERIFY(imports(fx, 3));
        const QList<Clip> clips = this->clips();
        QCOMPARE(clips.size(), 2);
        QCOMPARE(clips[0].title, u"Second"_qs);
        QCOMPARE(clips[1].title, u"Third"_qs);
        QCOMPARE(filesIn(u"/Content"_qs), 2);
    }

    void imagesAreHandedToRecognition()
    {
        Fixture fx(newFolder());
        fx.addText(u"T"_qs, u"words"_qs, 1);
        fx.add({u"I"_qs, null, null, null, null, 2.0}, {{{Uti::png, png(30, 10)}}});
        OCRService ocr(*m_store);
        QVERIFY(imports(fx, 2, 0, &ocr));
        ocr.waitUntilIdle();
        const QList<Clip> clips = this->clips();
        QCOMPARE(clips[0].ocr, QString()); // text is never recognised
        QVERIFY(!clips[1].ocr.isEmpty());  // processed, whatever it read
        QCOMPARE(m_store->pendingOCR(), QStringList());
    }

    void defaultRunReadsTheContainer()
    {
        Fixture fx(CopyLessImporter::containerStore());
        fx.addText(u"A"_qs, u"from the container"_qs, 1);
        QVERIFY(fx.ok);
        const QString result = outcome(CopyLessImporter::run(*m_store));
        QDir(QDir::homePath() + u"/Library"_qs).removeRecursively();
        QCOMPARE(result, u"imported 1, skipped 0"_qs);
        QVERIFY(!CopyLessImporter::run(*m_store));
    }
};

ULVANE_TEST_MAIN(TestCopyLess)
#include "test_copyless.moc"
