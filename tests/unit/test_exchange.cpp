#include "ContentBuilders.h"
#include "StderrCapture.h"
#include "StoreFile.h"
#include "TestMain.h"

#include "exchange/ExportImport.h"
#include "store/PBContent.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using ExportImport::ImportResult;

namespace {

QJsonObject entry(const QString &id, double created, const QString &textValue,
                  const QString &kind = QStringLiteral("text"))
{
    return QJsonObject{
        {u"id"_qs, id},
        {u"created"_qs, created},
        {u"kind"_qs, kind},
        {u"excerpt"_qs, textValue},
        {u"title"_qs, QString()},
        {u"appBundle"_qs, u"org.example.app"_qs},
        {u"appName"_qs, u"Example"_qs},
        {u"pinned"_qs, false},
        {u"content"_qs, PBContent::from({{{Uti::plainText, textValue.toUtf8()}}}).toJsonObject()}};
}

std::optional<QString> put(Store &store, const ItemList &items, const QString &id,
                           double created = 1, ClipKind kind = ClipKind::Text)
{
    NewClip clip = newClip(items, created, kind);
    clip.id = id;
    return store.add(clip);
}

QByteArray document(const QJsonArray &entries)
{
    return QJsonDocument(
               QJsonObject{{u"version"_qs, 1}, {u"exportedAt"_qs, 1.5}, {u"entries"_qs, entries}})
        .toJson();
}

} // namespace

class TestExchange : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_folder = 0;
    std::unique_ptr<Store> fresh()
    {
        return std::make_unique<Store>(m_root.path() + QStringLiteral("/s%1").arg(++m_folder));
    }

    QStringList idsByRowid(Store &store)
    {
        return StoreFile(store.dir()).texts(u"SELECT id FROM clips ORDER BY rowid"_qs);
    }

private Q_SLOTS:
    void exportThenImportKeepsEverything()
    {
        auto source = fresh();
        const auto a = put(*source, {{{Uti::plainText, "alpha"}}}, u"ID-A"_qs, 100.25);
        put(*source, {{{Uti::png, filledPng(600, 300)}}, {{Uti::fileUrl, "file:///x"}}}, u"ID-B"_qs,
            200.5, ClipKind::Image);
        source->setTitle(*a, u"Greek"_qs);
        source->setPinned(*a, true);
        const auto bytes = ExportImport::exportAll(*source);
        QVERIFY(bytes);
        // Compact, keys sorted at every level.
        QVERIFY(bytes->startsWith("{\"entries\":[{\"appBundle\":\"\",\"appName\":\"\",\"content\":{"
                                  "\"items\":[{\"flavors\":[{\"data\":\""));
        QVERIFY(bytes->endsWith(",\"version\":1}"));

        auto target = fresh();
        QCOMPARE(ExportImport::importData(*bytes, *target), (ImportResult{2, 0}));
        const auto rows = [](Store &store) {
            QVariantList out;
            for (const Clip &c : store.search({}, ClipFilter::All, 10))
                out << c.id << c.created << c.title << c.pinned << int(c.kind) << c.digest
                    << c.byteSize << c.hasImage << c.ocr;
            return out;
        };
        QCOMPARE(rows(*target), rows(*source));
        QCOMPARE(target->image(u"ID-B"_qs)->size(), QSize(600, 300));
        QCOMPARE(target->thumbnail(u"ID-B"_qs)->size(), QSize(220, 110));
        QCOMPARE(ExportImport::importData(*bytes, *target), (ImportResult{0, 2}));
    }

    void exportLeavesOutClipsWithoutReadableContent()
    {
        auto store = fresh();
        for (const char *id : {"A", "B"})
            put(*store, {{{Uti::plainText, id}}}, QString::fromLatin1(id));
        Store::writePrivateFile(store->contentPath(u"A"_qs), "garbage");
        const auto bytes = ExportImport::exportAll(*store);
        QVERIFY(bytes);
        const QJsonArray entries =
            QJsonDocument::fromJson(*bytes).object()[u"entries"_qs].toArray();
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries[0].toObject()[u"id"_qs].toString(), u"B"_qs);
    }

    void importRules()
    {
        auto store = fresh();
        put(*store, {{{Uti::plainText, "existing"}}}, u"OLD"_qs);
        QJsonObject tiffImage = entry(u"TIFF"_qs, 40, u"x"_qs, u"image"_qs);
        tiffImage[u"content"_qs] = PBContent::from({{{Uti::tiff, "not really"}}}).toJsonObject();
        QJsonObject badBase64 = entry(u"BAD"_qs, 50, u"x"_qs);
        badBase64[u"content"_qs] =
            QJsonDocument::fromJson(R"({"items":[{"flavors":[{"uti":"t","data":"@@"}]}]})")
                .object();
        const QJsonArray entries{
            entry(u"N3"_qs, 30, u"third"_qs, u"mystery"_qs),
            entry(u"N1"_qs, 10, u"first"_qs),
            entry(u"DUP"_qs, 20, u"existing"_qs),    // same content, new id: skipped
            entry(u"OLD"_qs, 25, u"replacement"_qs), // same id, new content: replaces
            entry(u"N2"_qs, 10, u"second"_qs),       // same time as N1: file order kept
            tiffImage,
            badBase64, // nothing left: counted nowhere
        };

        QCOMPARE(ExportImport::importData(document(entries), *store), (ImportResult{5, 1}));
        QCOMPARE(idsByRowid(*store),
                 QStringList({u"N1"_qs, u"N2"_qs, u"OLD"_qs, u"N3"_qs, u"TIFF"_qs}));
        QCOMPARE(store->plainText(u"OLD"_qs), std::optional<QString>(u"replacement"_qs));
        const QList<Clip> clips = store->search({}, ClipFilter::All, 10);
        QCOMPARE(clips.first().id, u"TIFF"_qs);
        QVERIFY(clips.first().hasImage);
        QVERIFY(!QFile::exists(store->thumbPath(u"TIFF"_qs)));
        QCOMPARE(clips[1].kind, ClipKind::Text); // unknown kind name
        QVERIFY(!QFile::exists(store->contentPath(u"BAD"_qs)));
    }

    void undecodableDocumentsChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("not json") << QByteArray("PK\x03\x04 zip?");
        QTest::newRow("array") << QByteArray("[]");
        QTest::newRow("deep") << QByteArray(300000, '[') + QByteArray(300000, ']');
        QTest::newRow("version text")
            << QByteArray(R"({"version":"1","exportedAt":1,"entries":[]})");
        QTest::newRow("version fraction")
            << QByteArray(R"({"version":1.5,"exportedAt":1,"entries":[]})");
        QTest::newRow("no exportedAt") << QByteArray(R"({"version":1,"entries":[]})");
        QTest::newRow("entries object")
            << QByteArray(R"({"version":1,"exportedAt":1,"entries":{}})");
        // One bad entry after a good one spoils the whole document.
        auto with = [](const QString &key, const QJsonValue &value) {
            QJsonObject e = entry(u"X"_qs, 1, u"x"_qs);
            if (value.isUndefined())
                e.remove(key);
            else
                e[key] = value;
            return document({entry(u"OK"_qs, 1, u"ok"_qs), e});
        };
        // The text fields share one check; the others have one each.
        QTest::newRow("no appName") << with(u"appName"_qs, QJsonValue::Undefined);
        QTest::newRow("created text") << with(u"created"_qs, u"yesterday"_qs);
        QTest::newRow("pinned number") << with(u"pinned"_qs, 1);
        QTest::newRow("no content") << with(u"content"_qs, QJsonValue::Undefined);
        QTest::newRow("entry not object") << document({entry(u"OK"_qs, 1, u"ok"_qs), 5});
    }

    void undecodableDocumentsChangeNothing()
    {
        QFETCH(QByteArray, bytes);
        auto store = fresh();
        QCOMPARE(ExportImport::importData(bytes, *store), (ImportResult{0, 0}));
        QCOMPARE(store->count(), 0);
    }

    void contentWriteFailureDropsTheEntry()
    {
        auto store = fresh();
        QDir(store->dir() + u"/Content"_qs).removeRecursively();
        StderrCapture quiet;
        QCOMPARE(ExportImport::importData(document({entry(u"A"_qs, 1, u"a"_qs)}), *store),
                 (ImportResult{0, 0}));
        QCOMPARE(store->count(), 0);
    }
};

ULVANE_TEST_MAIN(TestExchange)
#include "test_exchange.moc"
