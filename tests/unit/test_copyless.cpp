#include "StderrCapture.h"
#include "TestMain.h"

#include "exchange/CopyLessImporter.h"
#include "ocr/OCRService.h"
#include "store/PBContent.h"
#include "store/Store.h"
#include "store/Util.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QImage>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <sqlite3.h>
#include <sys/stat.h>

#include <cmath>
#include <limits>
#include <memory>

using CopyLessImporter::Result;

namespace CopyLessImporter {
// Readable failure messages for run()'s outcome.
char *toString(const std::optional<Result> &result)
{
    return qstrdup(
        result ? qPrintable(QStringLiteral("(%1, %2)").arg(result->imported).arg(result->skipped))
               : "store not found");
}
} // namespace CopyLessImporter

namespace {

constexpr double kReferenceDate = 978307200.0;

std::optional<Result> counts(int imported, int skipped)
{
    return Result{imported, skipped};
}

int modeOf(const QString &path)
{
    struct stat info = {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return int(info.st_mode & 07777);
}

QByteArray png(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

ItemList textItems(const QString &text)
{
    return {{{Uti::plainText, text.toUtf8()}}};
}

// Every file under a folder with the SHA-256 of its bytes, by relative path.
QMap<QString, QByteArray> fileHashes(const QString &folder)
{
    QMap<QString, QByteArray> hashes;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        hashes.insert(path.mid(folder.size()),
                      QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256));
    }
    return hashes;
}

QStringList leftoverTempFolders()
{
    return QDir(QDir::tempPath())
        .entryList({u"copyless-import-*"_qs}, QDir::AllEntries | QDir::Hidden);
}

// A CopyLess 2 store folder as the other application lays it out: a Core Data database and
// its content cache, written with SQLite's C API.
class Fixture
{
public:
    enum class Journal { Rollback, Wal, WalExclusiveLocking };

    explicit Fixture(const QString &folder, Journal journal = Journal::Rollback) : m_folder(folder)
    {
        QDir().mkpath(cacheFolder());
        m_ok = sqlite3_open(QFile::encodeName(databasePath()).constData(), &m_db) == SQLITE_OK;
        if (journal == Journal::WalExclusiveLocking)
            exec("PRAGMA locking_mode=EXCLUSIVE");
        if (journal != Journal::Rollback) {
            // Nothing is checkpointed: every row stays in the "-wal" file.
            exec("PRAGMA journal_mode=WAL");
            exec("PRAGMA wal_autocheckpoint=0");
        }
        exec("CREATE TABLE ZMANAGEDSNAPSHOT(Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT "
             "INTEGER, ZIDENTIFIERVALUE TEXT, ZCONTENTEXCERPT TEXT, ZTITLE TEXT, "
             "ZSOURCEAPPBUNDLEIDENTIFIER TEXT, ZSOURCEAPPLOCALIZEDNAME TEXT, ZCREATIONDATEVALUE "
             "REAL, ZTHUMBNAILDATAVALUE BLOB, ZPINNED INTEGER)");
    }
    ~Fixture() { close(); }

    bool ok() const { return m_ok; }
    sqlite3 *db() const { return m_db; }
    QString folder() const { return m_folder; }
    QString databasePath() const { return m_folder + u"/Store.sqlite"_qs; }
    QString cacheFolder() const { return m_folder + u"/SnapshotContentFiles/Cache"_qs; }
    QString contentPath(const QString &id) const
    {
        return cacheFolder() + u'/' + id + u".pbdata"_qs;
    }
    void close()
    {
        sqlite3_close(m_db);
        m_db = nullptr;
    }

    bool exec(const char *sql)
    {
        m_ok = m_ok && sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
        return m_ok;
    }

    // identifier, excerpt, title, bundle, app name, created, thumbnail, pinned; each value binds
    // by what it holds (invalid: NULL, text, bytes: blob, double, integer).
    void addRow(const QVariantList &values)
    {
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(m_db,
                           "INSERT INTO ZMANAGEDSNAPSHOT(Z_ENT, Z_OPT, ZIDENTIFIERVALUE, "
                           "ZCONTENTEXCERPT, ZTITLE, ZSOURCEAPPBUNDLEIDENTIFIER, "
                           "ZSOURCEAPPLOCALIZEDNAME, ZCREATIONDATEVALUE, ZTHUMBNAILDATAVALUE, "
                           "ZPINNED) VALUES(7, 1, ?, ?, ?, ?, ?, ?, ?, ?)",
                           -1, &st, nullptr);
        for (int i = 0; i < 8; ++i)
            bind(st, i + 1, values.value(i));
        m_ok = m_ok && sqlite3_step(st) == SQLITE_DONE;
        sqlite3_finalize(st);
    }

    void writeContent(const QString &id, const ItemList &items)
    {
        writeFile(id, PBContent::from(items).toJson());
    }
    void writeFile(const QString &id, const QByteArray &bytes)
    {
        QFile file(contentPath(id));
        m_ok = m_ok && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

    // A row and its text snapshot.
    void addText(const QString &id, const QString &text, double created,
                 const QString &title = QString())
    {
        addRow({id, text, title, u"org.example.editor"_qs, u"Editor"_qs, created});
        writeContent(id, textItems(text));
    }

private:
    static void bind(sqlite3_stmt *st, int index, const QVariant &value)
    {
        switch (value.typeId()) {
        case QMetaType::UnknownType:
            sqlite3_bind_null(st, index);
            break;
        case QMetaType::QString: {
            const QByteArray utf8 = value.toString().toUtf8();
            sqlite3_bind_text(st, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
            break;
        }
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            sqlite3_bind_blob(st, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        case QMetaType::Double:
            sqlite3_bind_double(st, index, value.toDouble());
            break;
        default:
            sqlite3_bind_int64(st, index, value.toLongLong());
        }
    }

    QString m_folder;
    sqlite3 *m_db = nullptr;
    bool m_ok = false;
};

enum class FileShape { Regular, Missing, Directory, Pipe };

} // namespace

Q_DECLARE_METATYPE(FileShape)

class TestCopyLess : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_folders = 0;

    QString newFolder() { return m_root.path() + QStringLiteral("/f%1").arg(++m_folders); }
    std::unique_ptr<Store> freshStore() { return std::make_unique<Store>(newFolder()); }

    static QList<Clip> oldestFirst(Store &store)
    {
        QList<Clip> clips;
        for (const Store::Row &row : store.rows(u"SELECT * FROM clips ORDER BY rowid"_qs))
            clips.append(Store::clip(row));
        return clips;
    }

    static QStringList filesIn(const QString &folder)
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden);
    }

private Q_SLOTS:
    void init()
    {
        Store::setHistoryCapProvider([] { return 0; });
    }

    void cleanup() { QCOMPARE(leftoverTempFolders(), QStringList()); }

    void inferKind_data()
    {
        QTest::addColumn<FlavorList>("flat");
        QTest::addColumn<QString>("excerpt");
        QTest::addColumn<ClipKind>("kind");
        const Flavor text{Uti::plainText, "x"};
        const Flavor file{Uti::fileUrl, "file:///tmp/a.png"};
        QTest::newRow("file url beats image")
            << FlavorList{{Uti::png, "p"}, file} << u"https://x"_qs << ClipKind::File;
        for (const QString &uti : {Uti::png, Uti::tiff, Uti::jpeg})
            QTest::addRow("image %s", qPrintable(uti))
                << FlavorList{text, {uti, "i"}} << u"http://x"_qs << ClipKind::Image;
        QTest::newRow("gif is no stored image")
            << FlavorList{{u"com.compuserve.gif"_qs, "g"}} << u"gif"_qs << ClipKind::Text;
        QTest::newRow("link after spaces")
            << FlavorList{text} << u"  https://example.org"_qs << ClipKind::Link;
        QTest::newRow("link after tabs, before spaces")
            << FlavorList{text} << u"\t http://example.org \t"_qs << ClipKind::Link;
        QTest::newRow("line break is not trimmed")
            << FlavorList{text} << u"\nhttps://example.org"_qs << ClipKind::Text;
        QTest::newRow("scheme is case-sensitive")
            << FlavorList{text} << u"HTTPS://example.org"_qs << ClipKind::Text;
        QTest::newRow("no slashes") << FlavorList{text} << u"https:example"_qs << ClipKind::Text;
        QTest::newRow("url flavor alone")
            << FlavorList{{Uti::url, "https://x"}} << u"example"_qs << ClipKind::Text;
        QTest::newRow("never color") << FlavorList{text} << u"#ff8800"_qs << ClipKind::Text;
        QTest::newRow("never code")
            << FlavorList{text} << u"int main() { return 0; }"_qs << ClipKind::Text;
        QTest::newRow("nothing") << FlavorList{} << QString() << ClipKind::Text;
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
        const QByteArray thumbnail = png(40, 20) + QByteArray("trailing bytes kept as they are");
        const ItemList image{{{Uti::png, png(64, 32)}, {Uti::tiff, "tiff bytes"}}};
        const ItemList file{{{Uti::fileUrl, "file:///home/a.png"}, {Uti::png, "p"}}};
        // Table order is not time order: the import goes oldest first.
        fx.addRow({u"LINK"_qs, u"  https://example.org/a"_qs, QVariant(), QVariant(), QVariant(),
                   700000002.0});
        fx.writeContent(u"LINK"_qs, textItems(u"https://example.org/a"_qs));
        fx.addRow({u"TEXT"_qs, u"hello   world"_qs, u"Greeting"_qs, u"com.apple.Safari"_qs,
                   u"Safari"_qs, 700000000.5, QVariant(), 1});
        fx.writeContent(u"TEXT"_qs, textItems(u"hello   world"_qs));
        fx.addRow(
            {u"IMAGE"_qs, QVariant(), QVariant(), QVariant(), QVariant(), 700000001.0, thumbnail});
        fx.writeContent(u"IMAGE"_qs, image);
        fx.addRow({u"FILE"_qs, u""_qs, QVariant(), QVariant(), QVariant(), 700000003.0});
        fx.writeContent(u"FILE"_qs, file);
        QVERIFY(fx.ok());
        fx.close();
        const auto before = fileHashes(fx.folder());

        auto store = freshStore();
        StderrCapture log;
        QCOMPARE(CopyLessImporter::run(*store, fx.folder(), nullptr), counts(4, 0));
        QVERIFY(log.text().contains("[CopyLessImport] imported 4, skipped 0\n"));
        QCOMPARE(fileHashes(fx.folder()), before);

        const QList<Clip> clips = oldestFirst(*store);
        QCOMPARE(clips.size(), 4);
        const QRegularExpression uuid(
            u"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"_qs);
        for (const Clip &c : clips) {
            QVERIFY2(uuid.match(c.id).hasMatch(), qPrintable(c.id));
            QVERIFY(!c.pinned);
            QVERIFY(c.ocr.isEmpty());
            QCOMPARE(modeOf(store->contentPath(c.id)), 0600);
        }
        const QList<ItemList> items{textItems(u"hello   world"_qs), image,
                                    textItems(u"https://example.org/a"_qs), file};
        const QStringList excerpts{u"hello world"_qs, u"Image"_qs, u"https://example.org/a"_qs,
                                   u"Clip"_qs};
        const QList<ClipKind> kinds{ClipKind::Text, ClipKind::Image, ClipKind::Link,
                                    ClipKind::File};
        for (int i = 0; i < 4; ++i) {
            const FlavorList flat = Flavors::flatten(items[i]);
            QCOMPARE(clips[i].kind, kinds[i]);
            QCOMPARE(clips[i].excerpt, excerpts[i]);
            QCOMPARE(clips[i].digest, Util::digest(flat));
            QCOMPARE(clips[i].hasImage, i == 1 || i == 3);
            qint64 size = 0;
            for (const Flavor &f : flat)
                size += f.data.size();
            QCOMPARE(clips[i].byteSize, size);
            QFile content(store->contentPath(clips[i].id));
            QVERIFY(content.open(QIODevice::ReadOnly));
            QCOMPARE(content.readAll(), PBContent::from(items[i]).toJson());
            QCOMPARE(QFile::exists(store->thumbPath(clips[i].id)), i == 1);
        }
        QCOMPARE(clips[0].created, 700000000.5 + kReferenceDate);
        QCOMPARE(clips[3].created, 700000003.0 + kReferenceDate);
        QCOMPARE(clips[0].title, u"Greeting"_qs);
        QCOMPARE(clips[0].appBundle, u"com.apple.Safari"_qs);
        QCOMPARE(clips[0].appName, u"Safari"_qs);
        QCOMPARE(clips[1].title, QString());
        QCOMPARE(clips[1].appName, QString());
        QFile thumb(store->thumbPath(clips[1].id));
        QVERIFY(thumb.open(QIODevice::ReadOnly));
        QCOMPARE(thumb.readAll(), thumbnail);
        QCOMPARE(modeOf(thumb.fileName()), 0600);
        // Without a recognition service the image rows wait in the backlog.
        QCOMPARE(store->pendingOCR(), QStringList({clips[3].id, clips[1].id}));

        // A second run finds every snapshot present.
        StderrCapture again;
        QCOMPARE(CopyLessImporter::run(*store, fx.folder(), nullptr), counts(0, 4));
        QVERIFY(again.text().contains("[CopyLessImport] imported 0, skipped 4\n"));
        QCOMPARE(store->count(), 4);
        QCOMPARE(fileHashes(fx.folder()), before);
    }

    void duplicatesGoByContent()
    {
        auto store = freshStore();
        store->insert(textItems(u"already here"_qs), ClipKind::Text, u"already here"_qs, {}, {}, 1,
                      std::nullopt, true, u"MINE"_qs);
        Fixture fx(newFolder());
        fx.addText(u"A"_qs, u"already here"_qs, 1);
        fx.addText(u"B"_qs, u"twice"_qs, 2);
        fx.addText(u"C"_qs, u"twice"_qs, 3, u"Other title"_qs);
        QVERIFY(fx.ok());
        QCOMPARE(CopyLessImporter::run(*store, fx.folder(), nullptr), counts(1, 2));
        QCOMPARE(store->count(), 2);
    }

    void rowsDroppedUncounted_data()
    {
        QTest::addColumn<QVariant>("identifier");
        QTest::addColumn<FileShape>("shape");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray valid = PBContent::from(textItems(u"lost"_qs)).toJson();
        QTest::newRow("file missing") << QVariant(u"X"_qs) << FileShape::Missing << valid;
        QTest::newRow("file is a folder") << QVariant(u"X"_qs) << FileShape::Directory << valid;
        QTest::newRow("file is a pipe") << QVariant(u"X"_qs) << FileShape::Pipe << valid;
        QTest::newRow("empty file") << QVariant(u"X"_qs) << FileShape::Regular << QByteArray();
        QTest::newRow("not json") << QVariant(u"X"_qs) << FileShape::Regular
                                  << QByteArray("PK\x03\x04\0\0 zip");
        QTest::newRow("huge, not json")
            << QVariant(u"X"_qs) << FileShape::Regular << QByteArray(30 * 1024 * 1024, '{');
        QTest::newRow("json array") << QVariant(u"X"_qs) << FileShape::Regular << QByteArray("[]");
        QTest::newRow("flavor without data")
            << QVariant(u"X"_qs) << FileShape::Regular
            << QByteArray("{\"items\":[{\"flavors\":[{\"uti\":\"t\"}]}]}");
        QTest::newRow("no items") << QVariant(u"X"_qs) << FileShape::Regular
                                  << QByteArray("{\"items\":[]}");
        QTest::newRow("only empty items")
            << QVariant(u"X"_qs) << FileShape::Regular
            << QByteArray("{\"items\":[{\"flavors\":[]},{\"flavors\":[]}]}");
        QTest::newRow("no valid base64")
            << QVariant(u"X"_qs) << FileShape::Regular
            << QByteArray("{\"items\":[{\"flavors\":[{\"uti\":\"t\",\"data\":\"a@==\"},"
                          "{\"uti\":\"u\",\"data\":\"YWJj\\n\"}]}]}");
        QTest::newRow("identifier null") << QVariant() << FileShape::Regular << valid;
        QTest::newRow("identifier empty") << QVariant(u""_qs) << FileShape::Regular << valid;
        // The file the identifier would reach does exist, outside the cache.
        QTest::newRow("identifier leaves the cache")
            << QVariant(u"../../Outside"_qs) << FileShape::Regular << valid;
    }

    void rowsDroppedUncounted()
    {
        QFETCH(QVariant, identifier);
        QFETCH(FileShape, shape);
        QFETCH(QByteArray, bytes);
        Fixture fx(newFolder());
        fx.addText(u"KEEP"_qs, u"kept"_qs, 1);
        fx.addRow({identifier, u"lost"_qs, QVariant(), QVariant(), QVariant(), 2.0});
        const QString id = identifier.toString();
        const QString path = fx.contentPath(id);
        switch (shape) {
        case FileShape::Regular:
            fx.writeFile(id, bytes);
            break;
        case FileShape::Directory:
            QVERIFY(QDir().mkpath(path));
            break;
        case FileShape::Pipe:
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            break;
        case FileShape::Missing:
            break;
        }
        QVERIFY(fx.ok());
        auto store = freshStore();
        QCOMPARE(CopyLessImporter::run(*store, fx.folder(), nullptr), counts(1, 0));
        QCOMPARE(store->count(), 1);
        QCOMPARE(filesIn(store->dir() + u"/Content"_qs).size(), 1);
    }

    void undecodableFlavorsAreDropped()
    {
        Fixture fx(newFolder());
        fx.addRow({u"P"_qs, u"partial"_qs, QVariant(), QVariant(), QVariant(), 5.0});
        fx.writeFile(u"P"_qs, "{\"items\":[{\"flavors\":[{\"uti\":\"a\",\"data\":\"!!\"}]},"
                              "{\"flavors\":[{\"uti\":\"public.utf8-plain-text\",\"data\":"
                              "\"cGFydGlhbA==\"},{\"uti\":\"public.png\",\"data\":\"x\"}]}]}");
        QVERIFY(fx.ok());
        auto store = freshStore();
        QCOMPARE(CopyLessImporter::run(*store, fx.folder(), nullptr), counts(1, 0));
        const Clip clip = oldestFirst(*store).first();
        QCOMPARE(store->contentFlavors(clip.id), FlavorList({{Uti::plainText, "partial"}}));
        QCOMPARE(clip.kind, ClipKind::Text); // the broken image flavor does not count
        QVERIFY(!clip.hasImage);
        QCOMPARE(clip.byteSize, 7);
    }

    void largeSnapshots()
    {
        Fixture fx(newFolder());
        const QByteArray big(22 * 1024 * 1024, 'b'); // about 30 MB as Base64
        fx.addRow({u"BIG"_qs, u"big"_qs, QVariant(), QVariant(), QVariant(), 1.0});
        fx.writeContent(u"BIG"_qs, {{{Uti::plainText, big}}});
        // Past the size bound a file is dropped (a sparse file costs no disk).
        fx.addRow({u"HUGE"_qs, u"huge"_qs, QVariant(), QVariant(), QVariant(), 2.0});
        QFile huge(fx.contentPath(u"HUGE"_qs));
        QVERIFY(huge.open(QIODevice::WriteOnly));
        QVERIFY(huge.resize(CopyLessImporter::maxContentFileSize + 1));
        huge.close();
        QVERIFY(fx.ok());
        auto store = freshStore();
        QCOMPARE(CopyLessImporter::run(*store, fx.folder(), nullptr), counts(1, 0));
        QCOMPARE(oldestFirst(*store).first().byteSize, big.size());
    }

    void storeNotFound_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("no folder") << u"none"_qs;
        QTest::newRow("no database") << u"cache only"_qs;
        QTest::newRow("random bytes") << u"random"_qs;
        QTest::newRow("empty file") << u"empty"_qs;
        QTest::newRow("database is a folder") << u"folder"_qs;
        QTest::newRow("database is a pipe") << u"pipe"_qs;
        QTest::newRow("another schema") << u"schema"_qs;
        QTest::newRow("endless view") << u"view"_qs;
    }

    void storeNotFound()
    {
        QFETCH(QString, setup);
        const QString folder = newFolder();
        const QString database = folder + u"/Store.sqlite"_qs;
        if (setup != u"none") {
            QVERIFY(QDir().mkpath(folder + u"/SnapshotContentFiles/Cache"_qs));
            QFile(folder + u"/SnapshotContentFiles/Cache/A.pbdata"_qs).open(QIODevice::WriteOnly);
        }
        if (setup == u"random") {
            QFile file(database);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QByteArray noise(64 * 1024, '\0');
            for (char &c : noise)
                c = char(QRandomGenerator::global()->bounded(256));
            file.write(noise);
        } else if (setup == u"empty") {
            QVERIFY(QFile(database).open(QIODevice::WriteOnly));
        } else if (setup == u"folder") {
            QVERIFY(QDir().mkpath(database));
        } else if (setup == u"pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(database).constData(), 0600), 0);
        } else if (setup == u"schema" || setup == u"view") {
            sqlite3 *db = nullptr;
            sqlite3_open(QFile::encodeName(database).constData(), &db);
            const char *sql =
                setup == u"schema"
                    ? "CREATE TABLE ZSNAPSHOT(ZIDENTIFIERVALUE TEXT, ZCREATIONDATEVALUE REAL)"
                    : "CREATE VIEW ZMANAGEDSNAPSHOT AS WITH RECURSIVE n(x) AS (SELECT 1 UNION "
                      "ALL SELECT x+1 FROM n) SELECT 'A' AS ZIDENTIFIERVALUE, '' AS "
                      "ZCONTENTEXCERPT, '' AS ZTITLE, '' AS ZSOURCEAPPBUNDLEIDENTIFIER, '' AS "
                      "ZSOURCEAPPLOCALIZEDNAME, x AS ZCREATIONDATEVALUE, NULL AS "
                      "ZTHUMBNAILDATAVALUE FROM n";
            QCOMPARE(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        auto store = freshStore();
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!CopyLessImporter::run(*store, folder, nullptr));
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(store->count(), 0);
    }

    void emptyStoreIsASuccess()
    {
        Fixture fx(newFolder());
        QVERIFY(fx.ok());
        fx.close();
        auto store = freshStore();
        QCOMPARE(CopyLessImporter::run(*store, fx.folder(), nullptr), counts(0, 0));
    }

    void columnsOfUnexpectedTypes_data()
    {
        QTest::addColumn<QVariantList>("row");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("excerpt");
        QTest::addColumn<QString>("title");
        QTest::addColumn<double>("created");
        QTest::addColumn<bool>("thumbnail");
        const QVariant null;
        const double base = kReferenceDate;
        QTest::newRow("integer identifier")
            << QVariantList{42, u"n"_qs, null, null, null, 1.0} << u"42"_qs << u"n"_qs << QString()
            << base + 1 << false;
        QTest::newRow("blob identifier")
            << QVariantList{QByteArray("B1"), u"n"_qs, null, null, null, 1.0} << u"B1"_qs << u"n"_qs
            << QString() << base + 1 << false;
        QTest::newRow("date as words")
            << QVariantList{u"D"_qs, u"n"_qs, null, null, null, u"yesterday"_qs} << u"D"_qs
            << u"n"_qs << QString() << base << false;
        QTest::newRow("date as numeric text")
            << QVariantList{u"D"_qs, u"n"_qs, null, null, null, u"12.5"_qs} << u"D"_qs << u"n"_qs
            << QString() << base + 12.5 << false;
        QTest::newRow("date as integer") << QVariantList{u"D"_qs, u"n"_qs, null, null, null, 10}
                                         << u"D"_qs << u"n"_qs << QString() << base + 10 << false;
        QTest::newRow("date null")
            << QVariantList{u"D"_qs, u"n"_qs} << u"D"_qs << u"n"_qs << QString() << base << false;
        QTest::newRow("date infinite")
            << QVariantList{u"D"_qs, u"n"_qs, null,
                            null,    null,    std::numeric_limits<double>::infinity()}
            << u"D"_qs << u"n"_qs << QString() << base << false;
        QTest::newRow("excerpt blob")
            << QVariantList{u"E"_qs, QByteArray("from a blob"), null, null, null, 3.0} << u"E"_qs
            << u"from a blob"_qs << QString() << base + 3 << false;
        QTest::newRow("excerpt not utf-8")
            << QVariantList{u"E"_qs, QByteArray("\xff\xfeok"), null, null, null, 3.0} << u"E"_qs
            << u"\uFFFD\uFFFDok"_qs << QString() << base + 3 << false;
        QTest::newRow("excerpt number") << QVariantList{u"E"_qs, 3.5, null, null, null, 3.0}
                                        << u"E"_qs << u"3.5"_qs << QString() << base + 3 << false;
        QTest::newRow("title integer") << QVariantList{u"T"_qs, u"n"_qs, 7, null, null, 3.0}
                                       << u"T"_qs << u"n"_qs << u"7"_qs << base + 3 << false;
        QTest::newRow("title blob")
            << QVariantList{u"T"_qs, u"n"_qs, QByteArray("named"), null, null, 3.0} << u"T"_qs
            << u"n"_qs << u"named"_qs << base + 3 << false;
        QTest::newRow("thumbnail as text")
            << QVariantList{u"H"_qs, u"n"_qs, null, null, null, 3.0, u"not bytes"_qs} << u"H"_qs
            << u"n"_qs << QString() << base + 3 << false;
        QTest::newRow("thumbnail empty blob")
            << QVariantList{u"H"_qs, u"n"_qs, null, null, null, 3.0, QByteArray("")} << u"H"_qs
            << u"n"_qs << QString() << base + 3 << false;
        QTest::newRow("thumbnail blob")
            << QVariantList{u"H"_qs, u"n"_qs, null, null, null, 3.0, QByteArray("\x01zz")}
            << u"H"_qs << u"n"_qs << QString() << base + 3 << true;
    }

    void columnsOfUnexpectedTypes()
    {
        QFETCH(QVariantList, row);
        QFETCH(QString, file);
        QFETCH(QString, excerpt);
        QFETCH(QString, title);
        QFETCH(double, created);
        QFETCH(bool, thumbnail);
        Fixture fx(newFolder());
        fx.addRow(row);
        fx.writeContent(file, textItems(u"content"_qs));
        QVERIFY(fx.ok());
        auto store = freshStore();
        QCOMPARE(CopyLessImporter::run(*store, fx.folder(), nullptr), counts(1, 0));
        const Clip clip = oldestFirst(*store).first();
        QCOMPARE(clip.excerpt, excerpt);
        QCOMPARE(clip.title, title);
        QCOMPARE(clip.created, created);
        QCOMPARE(clip.appBundle, QString());
        QCOMPARE(QFile::exists(store->thumbPath(clip.id)), thumbnail);
    }

    void excerptFallbackAndLimit_data()
    {
        QTest::addColumn<QVariant>("excerpt");
        QTest::addColumn<ItemList>("items");
        QTest::addColumn<QString>("expected");
        const ItemList image{{{Uti::jpeg, "j"}}};
        QTest::newRow("empty image") << QVariant(u""_qs) << image << u"Image"_qs;
        QTest::newRow("null image") << QVariant() << image << u"Image"_qs;
        QTest::newRow("empty text") << QVariant(u""_qs) << textItems(u"t"_qs) << u"Clip"_qs;
        QTest::newRow("empty file")
            << QVariant() << ItemList{{{Uti::fileUrl, "file:///a"}, {Uti::png, "p"}}} << u"Clip"_qs;
        QTest::newRow("limit") << QVariant(QString(300, u'x')) << textItems(u"t"_qs)
                               << QString(240, u'x');
    }

    void excerptFallbackAndLimit()
    {
        QFETCH(QVariant, excerpt);
        QFETCH(ItemList, items);
        QFETCH(QString, expected);
        Fixture fx(newFolder());
        fx.addRow({u"X"_qs, excerpt, QVariant(), QVariant(), QVariant(), 1.0});
        fx.writeContent(u"X"_qs, items);
        QVERIFY(fx.ok());
        auto store = freshStore();
        QCOMPARE(CopyLessImporter::run(*store, fx.folder(), nullptr), counts(1, 0));
        QCOMPARE(oldestFirst(*store).first().excerpt, expected);
    }

    void lockedOriginalStillImports()
    {
        Fixture fx(newFolder());
        fx.addText(u"A"_qs, u"committed one"_qs, 1);
        fx.addText(u"B"_qs, u"committed two"_qs, 2);
        // The other application is in the middle of a write and holds the database exclusively.
        fx.exec("BEGIN EXCLUSIVE");
        fx.addText(u"C"_qs, u"not yet committed"_qs, 3);
        QVERIFY(fx.ok());
        auto store = freshStore();
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(CopyLessImporter::run(*store, fx.folder(), nullptr), counts(2, 0));
        QVERIFY(timer.elapsed() < 5000);
        fx.exec("ROLLBACK");
    }

    void rowsStillInTheWriteAheadLog_data()
    {
        QTest::addColumn<Fixture::Journal>("journal");
        QTest::newRow("shared memory index") << Fixture::Journal::Wal;
        QTest::newRow("exclusive locking, no -shm") << Fixture::Journal::WalExclusiveLocking;
    }

    void rowsStillInTheWriteAheadLog()
    {
        QFETCH(Fixture::Journal, journal);
        Fixture fx(newFolder(), journal);
        fx.addText(u"W1"_qs, u"only in the log"_qs, 1);
        fx.addText(u"W2"_qs, u"also only there"_qs, 2, u"Titled"_qs);
        QVERIFY(fx.ok());
        // The connection stays open: nothing is checkpointed into Store.sqlite.
        QVERIFY(QFileInfo(fx.databasePath() + u"-wal"_qs).size() > 0);
        QCOMPARE(QFileInfo::exists(fx.databasePath() + u"-shm"_qs),
                 journal == Fixture::Journal::Wal);
        {
            // The main file alone does not even have the table yet.
            const QString alone = newFolder();
            QDir().mkpath(alone);
            QVERIFY(QFile::copy(fx.databasePath(), alone + u"/Store.sqlite"_qs));
            auto store = freshStore();
            QVERIFY(!CopyLessImporter::run(*store, alone, nullptr));
        }
        const auto before = fileHashes(fx.folder());
        auto store = freshStore();
        QCOMPARE(CopyLessImporter::run(*store, fx.folder(), nullptr), counts(2, 0));
        QCOMPARE(oldestFirst(*store).last().title, u"Titled"_qs);
        QCOMPARE(fileHashes(fx.folder()), before);
    }

    void failedInsertLeavesNoFiles()
    {
        Fixture fx(newFolder());
        fx.addRow({u"I"_qs, QVariant(), QVariant(), QVariant(), QVariant(), 1.0, png(4, 4)});
        fx.writeContent(u"I"_qs, {{{Uti::png, png(8, 8)}}});
        QVERIFY(fx.ok());
        auto store = freshStore();
        QVERIFY(store->exec(u"CREATE TRIGGER refuse BEFORE INSERT ON clips BEGIN "
                            "SELECT RAISE(ABORT, 'refused'); END"_qs));
        QCOMPARE(CopyLessImporter::run(*store, fx.folder(), nullptr), counts(0, 0));
        QCOMPARE(filesIn(store->dir() + u"/Content"_qs), QStringList());
        QCOMPARE(filesIn(store->dir() + u"/Thumbs"_qs), QStringList());
    }

    void contentWriteFailureIsLogged()
    {
        Fixture fx(newFolder());
        fx.addText(u"A"_qs, u"a"_qs, 1);
        QVERIFY(fx.ok());
        auto store = freshStore();
        QVERIFY(QDir(store->dir() + u"/Content"_qs).removeRecursively());
        StderrCapture log;
        QCOMPARE(CopyLessImporter::run(*store, fx.folder(), nullptr), counts(0, 0));
        QVERIFY(log.text().contains("[Store] content write failed: "));
        QCOMPARE(store->count(), 0);
    }

    void trimKeepsTheNewestTitled()
    {
        Store::setHistoryCapProvider([] { return 2; });
        Fixture fx(newFolder());
        fx.addText(u"A"_qs, u"oldest"_qs, 1, u"First"_qs);
        fx.addText(u"B"_qs, u"middle"_qs, 2, u"Second"_qs);
        fx.addText(u"C"_qs, u"newest"_qs, 3, u"Third"_qs);
        QVERIFY(fx.ok());
        auto store = freshStore();
        QCOMPARE(CopyLessImporter::run(*store, fx.folder(), nullptr), counts(3, 0));
        const QList<Clip> clips = oldestFirst(*store);
        QCOMPARE(clips.size(), 2);
        QCOMPARE(clips[0].title, u"Second"_qs);
        QCOMPARE(clips[1].title, u"Third"_qs);
        QCOMPARE(filesIn(store->dir() + u"/Content"_qs).size(), 2);
    }

    void imagesAreHandedToRecognition()
    {
        Fixture fx(newFolder());
        fx.addText(u"T"_qs, u"words"_qs, 1);
        fx.addRow({u"I"_qs, QVariant(), QVariant(), QVariant(), QVariant(), 2.0});
        fx.writeContent(u"I"_qs, {{{Uti::png, png(30, 10)}}});
        QVERIFY(fx.ok());
        auto store = freshStore();
        OCRService ocr(*store);
        QCOMPARE(CopyLessImporter::run(*store, fx.folder(), &ocr), counts(2, 0));
        ocr.waitUntilIdle();
        const QList<Clip> clips = oldestFirst(*store);
        QCOMPARE(clips[0].ocr, QString()); // text is never recognised
        QVERIFY(!clips[1].ocr.isEmpty());  // processed, whatever it read
        QCOMPARE(store->pendingOCR(), QStringList());
    }

    void defaultRunReadsTheContainer()
    {
        Fixture fx(CopyLessImporter::containerStore());
        fx.addText(u"A"_qs, u"from the container"_qs, 1);
        QVERIFY(fx.ok());
        fx.close();
        auto store = freshStore();
        const auto result = CopyLessImporter::run(*store);
        QDir(QDir::homePath() + u"/Library"_qs).removeRecursively();
        QCOMPARE(result, counts(1, 0));
        QVERIFY(!CopyLessImporter::run(*store));
    }
};

ULVANE_TEST_MAIN(TestCopyLess)
#include "test_copyless.moc"
