#include "ContentBuilders.h"
#include "TestMain.h"

#include "capture/ContentClassifier.h"
#include "core/ImageUtil.h"

#include <QImageReader>

namespace {

Flavor text(const QString &value)
{
    return {Uti::plainText, value.toUtf8()};
}
Flavor fileUrl(const char *value)
{
    return {Uti::fileUrl, QByteArray(value)};
}

// "https://x.org/" padded with "é" written as e + combining acute: one character, two code
// units, so only a grapheme count gets the length right.
QString urlOfLength(int graphemes)
{
    const QString head = QStringLiteral("https://x.org/");
    return head + QStringLiteral("e\u0301").repeated(graphemes - head.size());
}

const QByteArray invalidUtf8("abc\xff\xfe def");

} // namespace

class TestClassifier : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void classify_data()
    {
        QTest::addColumn<FlavorList>("flavors");
        QTest::addColumn<ClipKind>("kind");
        QTest::addColumn<QString>("title");
        const auto row = [](const char *name, const FlavorList &flavors, ClipKind kind,
                            const QString &title) {
            QTest::newRow(name) << flavors << kind << title;
        };
        using K = ClipKind;
        const QString code41 = QStringLiteral("let a = 1; var b = 2; return a + b + 1234");

        // Most rows are one text flavor, titled as written unless a title is given.
        const auto textRow = [&row](const char *name, const QString &in, ClipKind kind,
                                    const QString &title = QString()) {
            row(name, {text(in)}, kind, title.isNull() ? in : title);
        };
        row("empty", {}, K::Text, "Clip");

        // Files win over everything else.
        row("file beats png and text",
            {text("x"), Flavor{Uti::png, filledPng(4, 4)}, fileUrl("file:///a")}, K::File, "a");
        row("percent-encoded name", {fileUrl("file:///My%20R%C3%A9sum%C3%A9.pdf")}, K::File,
            u"My Résumé.pdf"_qs);
        row("escaped slash stays in the name", {fileUrl("file:///a%2Fb.txt")}, K::File, "a/b.txt");
        row("folder", {fileUrl("file:///home/u/Photos/")}, K::File, "Photos");
        row("uri-list line ending", {fileUrl("file:///tmp/a.txt\r\n")}, K::File, "a.txt");
        row("not a url", {fileUrl("not a url")}, K::File, "File");
        row("bad entries skipped",
            {fileUrl("::bad"), Flavor{Uti::fileUrl, invalidUtf8}, fileUrl(""),
             fileUrl("file:///ok"), fileUrl("file:///u/b.png")},
            K::File, "ok, b.png");

        // Images: PNG and JPEG only, titled with the pixel size of the first.
        row("png", {text("x"), Flavor{Uti::png, filledPng(640, 480)}}, K::Image,
            u"Image 640×480"_qs);
        row("jpeg first",
            {Flavor{Uti::jpeg, encoded(filledImage(10, 12), "jpeg")},
             Flavor{Uti::png, filledPng(20, 20)}},
            K::Image, u"Image 10×12"_qs);
        row("undecodable png", {Flavor{Uti::png, "not a png"}}, K::Image, "Image");
        row("tiff alone is no image", {Flavor{Uti::tiff, encoded(filledImage(8, 8), "tiff")}},
            K::Text, "Clip");

        textRow("url with blanks around", "  https://e.com/a?b=1 \n", K::Link,
                "https://e.com/a?b=1");
        textRow("url over two lines", "https://a.org\r\nhttps://b.org", K::Text,
                "https://a.org https://b.org");
        textRow("2047 characters", urlOfLength(2047), K::Link, urlOfLength(240));
        textRow("2048 characters", urlOfLength(2048), K::Text, urlOfLength(240));
        textRow("combining mark on the scheme's slash", u"http://\u0301x"_qs, K::Text);
        row("url flavor makes any text a link", {text("Home"), Flavor{Uti::url, "https://e.com"}},
            K::Link, "Home");
        row("url flavor alone keeps its text", {Flavor{Uti::url, " https://e.com\n"}}, K::Link,
            " https://e.com\n");

        // Colours: the title keeps the text as typed, blanks aside.
        textRow("hex colour with blanks", " \t#1e90ff\n", K::Color, "#1e90ff");
        textRow("colour with alpha, no hash", "1E90FFCC", K::Color);
        textRow("full-width digits", u"\uFF10\uFF21\uFF46\uFF19\uFF26\uFF41"_qs, K::Color);
        textRow("three digits", "#fff", K::Text);

        textRow("40 characters of keywords", code41.left(40), K::Text);
        textRow("41 characters, two keywords", code41, K::Code);
        const QString oneLine = QStringLiteral("if (ready) { start(); } else { wait(); } // later");
        textRow("braces on one line", oneLine, K::Text);
        textRow("braces over lines", oneLine + u"\n"_qs, K::Code, oneLine);
        textRow("symbol keywords", "#!/bin/sh\necho '</b>' > /dev/null; exit 0", K::Code,
                "#!/bin/sh echo '</b>' > /dev/null; exit 0");
        textRow("keywords sharing a first letter", "const a = 1 + 2 + 3 + 4; class B extends C",
                K::Code);
        textRow("keyword counted once", "import x\nimport y\nimport z\nimport w\nimport v", K::Text,
                "import x import y import z import w import v");
        // The length test runs on the untrimmed text.
        textRow("blanks make the length", code41.left(36) + u"     "_qs, K::Code,
                code41.left(36).trimmed());

        // Plain-text titles are one-line excerpts.
        textRow("excerpt", u"  a\n\n\tb  "_qs + QString(300, u'c'), K::Text,
                u"a b "_qs + QString(236, u'c'));

        // Text that does not decode falls back.
        row("invalid utf-8", {Flavor{Uti::plainText, invalidUtf8}}, K::Text, "Clip");
        row("invalid utf-8 with url", {Flavor{Uti::plainText, invalidUtf8}, Flavor{Uti::url, "u"}},
            K::Link, "u");
        row("only the first text flavor counts", {Flavor{Uti::plainText, invalidUtf8}, text("hi")},
            K::Text, "Clip");
    }

    void classify()
    {
        QFETCH(FlavorList, flavors);
        QFETCH(ClipKind, kind);
        QFETCH(QString, title);
        const Classification result = ContentClassifier::classify(flavors);
        QCOMPARE(ClipKinds::rawValue(result.kind), ClipKinds::rawValue(kind));
        QCOMPARE(result.title, title);
    }

    // Small is not enlarged, a strip keeps one pixel, the short side is rounded.
    void thumbnailSize()
    {
        const QList<std::pair<QSize, QSize>> sizes{{QSize(30, 20), QSize(30, 20)},
                                                   {QSize(1, 1000), QSize(1, 220)},
                                                   {QSize(300, 200), QSize(220, 147)}};
        for (const auto &[source, expected] : sizes) {
            const std::optional<QByteArray> bytes =
                ImageUtil::thumbnailPNG(filledImage(source.width(), source.height()), 220);
            QVERIFY(bytes && bytes->startsWith("\x89PNG"));
            QCOMPARE(ImageUtil::decode(*bytes).size(), expected);
        }
    }

    void thumbnailKeepsColourAndAlpha()
    {
        // Left half transparent, right half half-transparent red.
        QImage source = filledImage(200, 120, Qt::transparent);
        for (int y = 0; y < 120; ++y) {
            for (int x = 100; x < 200; ++x)
                source.setPixelColor(x, y, QColor(255, 0, 0, 128));
        }
        const std::optional<QByteArray> bytes = ImageUtil::thumbnailPNG(source, 100);
        QVERIFY(bytes);
        const QImage thumb = ImageUtil::decode(*bytes).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(thumb.size(), QSize(100, 60));
        QCOMPARE(thumb.pixelColor(10, 45).alpha(), 0);
        const QColor red = thumb.pixelColor(90, 10);
        QVERIFY(qAbs(red.alpha() - 128) <= 2);
        QVERIFY(red.red() >= 250 && red.green() <= 3 && red.blue() <= 3);
    }

    void pngRoundTripAndDecode()
    {
        QVERIFY(!ImageUtil::pngData(QImage()));
        QVERIFY(!ImageUtil::thumbnailPNG(QImage(), 220));
        QImage source(7, 5, QImage::Format_ARGB32);
        for (int y = 0; y < source.height(); ++y) {
            for (int x = 0; x < source.width(); ++x)
                source.setPixel(x, y, qRgba(x * 36, y * 60, 200, 40 + x * 30));
        }
        const std::optional<QByteArray> bytes = ImageUtil::pngData(source);
        QVERIFY(bytes);
        QCOMPARE(ImageUtil::decode(*bytes).convertToFormat(QImage::Format_ARGB32), source);

        QVERIFY(ImageUtil::decode({}).isNull());
        QVERIFY(ImageUtil::decode("definitely not a png").isNull());
        QVERIFY(ImageUtil::decode(bytes->left(40)).isNull()); // cut after the header
        if (!QImageReader::supportedImageFormats().contains("tiff"))
            QSKIP("no TIFF image plugin installed");
        const QImage tiff = ImageUtil::decode(encoded(filledImage(9, 4), "tiff"));
        QCOMPARE(tiff.size(), QSize(9, 4));
        QCOMPARE(tiff.pixelColor(3, 2), QColor(Qt::darkCyan));
    }
};

ULVANE_TEST_MAIN(TestClassifier)
#include "test_classifier.moc"
