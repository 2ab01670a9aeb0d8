#include "TestMain.h"

#include "store/PBContent.h"

class TestPBContent : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sampleDocumentRoundTrips()
    {
        const QByteArray sample =
            R"({"items":[{"flavors":[{"uti":"public.utf8-plain-text","data":"aGVsbG8="}]}]})";
        const auto content = PBContent::fromJson(sample);
        QVERIFY(content);
        QCOMPARE(content->decodedFlavors(), FlavorList({{Uti::plainText, "hello"}}));
        // Writers emit exactly this compact form, "uti" before "data".
        QCOMPARE(PBContent::from({{{Uti::plainText, "hello"}}}).toJson(), sample);
        // Readers take any key order and ignore extra keys.
        const auto reordered = PBContent::fromJson(
            R"( { "extra": 1, "items" : [ { "flavors": [ {"data":"YQ==", "uti":"t", "n": null} ], "x": [] } ] } )");
        QVERIFY(reordered);
        QCOMPARE(reordered->decodedFlavors(), FlavorList({{u"t"_qs, "a"}}));
    }

    void malformedDocumentsAreUnreadable_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("truncated") << QByteArray("{\"items\":[{\"flavors\":[{\"uti\":\"t\",\"da");
        QTest::newRow("array root") << QByteArray("[]");
        QTest::newRow("items not array") << QByteArray(R"({"items":{}})");
        QTest::newRow("item not object") << QByteArray(R"({"items":[1]})");
        QTest::newRow("no flavors") << QByteArray(R"({"items":[{}]})");
        QTest::newRow("data null")
            << QByteArray(R"({"items":[{"flavors":[{"uti":"t","data":null}]}]})");
        QTest::newRow("deep nesting") << QByteArray(200000, '[');
    }

    void malformedDocumentsAreUnreadable()
    {
        QFETCH(QByteArray, json);
        QCOMPARE(PBContent::fromJson(json), std::nullopt);
    }

    void invalidBase64DropsOnlyThatFlavor()
    {
        const auto content = PBContent::fromJson(
            R"({"items":[{"flavors":[{"uti":"a","data":"YQ"},{"uti":"b","data":"Yg=="}]},)"
            R"({"flavors":[{"uti":"c","data":"!!!!"}]}]})");
        QVERIFY(content);
        QCOMPARE(content->decodedItems(), ItemList({{{u"b"_qs, "b"}}, {}}));
        QCOMPARE(content->decodedItems(true), ItemList({{{u"b"_qs, "b"}}}));
    }

    void base64IsStrict()
    {
        QVERIFY(Base64::decodeStrict(QString()));
        QCOMPARE(Base64::decodeStrict(u"YQ=="_qs), std::optional<QByteArray>("a"));
        for (const QString &text : {u"aGk"_qs, u"a=bc"_qs, QStringLiteral("\u00e9GVs")})
            QVERIFY2(!Base64::decodeStrict(text),
                     qPrintable(text)); // unpadded, inner pad, not ASCII
    }
};

ULVANE_TEST_MAIN(TestPBContent)
#include "test_pbcontent.moc"
