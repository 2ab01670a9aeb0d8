#include "TestMain.h"

#include "capture/ContentClassifier.h"
#include "capture/ImageUtil.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>

namespace {

Flavor flavor(const QString &uti, const QByteArray &data)
{
    return {uti, data};
}
Flavor text(const QString &value)
{
    return {Uti::plainText, value.toUtf8()};
}
Flavor fileUrl(const char *value)
{
    return {Uti::fileUrl, QByteArray(value)};
}

QImage filled(int w, int h, QColor color, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(w, h, format);
    image.fill(color);
    return image;
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray png(int w, int h)
{
    return encoded(filled(w, h, Qt::darkCyan), "png");
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
    void classify_data();
    void classify();
    void thumbnailSize_data();
    void thumbnailSize();
    void thumbnailKeepsColourAndAlpha();
    void pngRoundTrip();
    void decode();
};

void TestClassifier::classify_data()
{
    QTest::addColumn<FlavorList>("flavors");
    QTest::addColumn<ClipKind>("kind");
    QTest::addColumn<QString>("title");

    const auto row = [](const char *name, const FlavorList &flavors, ClipKind kind,
                        const QString &title) { QTest::newRow(name) << flavors << kind << title; };
    const QString code41 = QStringLiteral("let a = 1; var b = 2; return a + b + 1234");
    QCOMPARE(code41.size(), 41);

    row("empty", {}, ClipKind::Text, "Clip");

    // Files win over everything else.
    row("file beats png and text",
        {text("x"), flavor(Uti::png, png(4, 4)), fileUrl("file:///tmp/a.txt")}, ClipKind::File,
        "a.txt");
    row("two files", {fileUrl("file:///tmp/a.txt"), fileUrl("file:///home/u/b.png")},
        ClipKind::File, "a.txt, b.png");
    row("percent-encoded name", {fileUrl("file:///home/u/My%20R%C3%A9sum%C3%A9.pdf")},
        ClipKind::File, QStringLiteral("My Résumé.pdf"));
    row("escaped slash stays in the name", {fileUrl("file:///tmp/a%2Fb.txt")}, ClipKind::File,
        "a/b.txt");
    row("folder", {fileUrl("file:///home/u/Photos/")}, ClipKind::File, "Photos");
    row("uri-list line ending", {fileUrl("file:///tmp/a.txt\r\n")}, ClipKind::File, "a.txt");
    row("not a url", {fileUrl("not a url")}, ClipKind::File, "File");
    row("bad entries skipped",
        {fileUrl("::bad url"), flavor(Uti::fileUrl, invalidUtf8), fileUrl(""),
         fileUrl("file:///tmp/ok.md")},
        ClipKind::File, "ok.md");

    // Images: PNG and JPEG only, titled with their pixel size.
    row("png", {text("ignored"), flavor(Uti::png, png(640, 480))}, ClipKind::Image,
        QStringLiteral("Image 640\u00D7480"));
    row("jpeg", {flavor(Uti::jpeg, encoded(filled(33, 17, Qt::red, QImage::Format_RGB32), "jpeg"))},
        ClipKind::Image, QStringLiteral("Image 33\u00D717"));
    row("first image flavor titles",
        {flavor(Uti::jpeg, encoded(filled(10, 12, Qt::red, QImage::Format_RGB32), "jpeg")),
         flavor(Uti::png, png(20, 20))},
        ClipKind::Image, QStringLiteral("Image 10\u00D712"));
    row("undecodable png", {flavor(Uti::png, "definitely not a png")}, ClipKind::Image, "Image");
    row("tiff alone is no image", {flavor(Uti::tiff, encoded(filled(8, 8, Qt::blue), "tiff"))},
        ClipKind::Text, "Clip");

    // Links.
    row("url with blanks around", {text("  https://example.com/a?b=1 \n")}, ClipKind::Link,
        "https://example.com/a?b=1");
    row("word before url", {text("see https://example.com")}, ClipKind::Text,
        "see https://example.com");
    row("url over two lines", {text("https://example.com/a\nb")}, ClipKind::Text,
        "https://example.com/a b");
    row("crlf counts as a line break", {text("https://a.org\r\nhttps://b.org")}, ClipKind::Text,
        "https://a.org https://b.org");
    row("2047 characters", {text(urlOfLength(2047))}, ClipKind::Link, urlOfLength(240));
    row("2048 characters", {text(urlOfLength(2048))}, ClipKind::Text, urlOfLength(240));
    row("combining mark on the scheme's slash", {text(QStringLiteral("http://\u0301x"))},
        ClipKind::Text, QStringLiteral("http://\u0301x"));
    row("url flavor makes any text a link",
        {text("Example home page"), flavor(Uti::url, "https://example.com")}, ClipKind::Link,
        "Example home page");
    row("url flavor alone keeps its text", {flavor(Uti::url, " https://example.com\n")},
        ClipKind::Link, " https://example.com\n");

    // Colours: the title keeps the text as typed, blanks aside.
    row("hex colour", {text("#ABCDEF")}, ClipKind::Color, "#ABCDEF");
    row("hex colour with blanks", {text(" \t#1e90ff\n")}, ClipKind::Color, "#1e90ff");
    row("colour with alpha, no hash", {text("1E90FFCC")}, ClipKind::Color, "1E90FFCC");
    row("full-width digits", {text(QStringLiteral("\uFF10\uFF21\uFF46\uFF19\uFF26\uFF41"))},
        ClipKind::Color, QStringLiteral("\uFF10\uFF21\uFF46\uFF19\uFF26\uFF41"));
    row("three digits", {text("#fff")}, ClipKind::Text, "#fff");
    row("not hex", {text("#abcdeg")}, ClipKind::Text, "#abcdeg");

    // Code.
    row("40 characters of keywords", {text(code41.left(40))}, ClipKind::Text, code41.left(40));
    row("41 characters, two keywords", {text(code41)}, ClipKind::Code, code41);
    const QString oneLine = QStringLiteral("if (ready) { start(); } else { wait(); } // later");
    row("braces on one line", {text(oneLine)}, ClipKind::Text, oneLine);
    row("braces over lines", {text(oneLine + QStringLiteral("\n"))}, ClipKind::Code, oneLine);
    row("symbol keywords", {text("#!/bin/sh\necho '</b>' > /dev/null; exit 0")}, ClipKind::Code,
        "#!/bin/sh echo '</b>' > /dev/null; exit 0");
    row("keywords sharing a first letter", {text("const a = 1 + 2 + 3 + 4; class B extends C")},
        ClipKind::Code, "const a = 1 + 2 + 3 + 4; class B extends C");
    row("keyword counted once", {text("import x\nimport y\nimport z\nimport w\nimport v")},
        ClipKind::Text, "import x import y import z import w import v");
    // The length test runs on the untrimmed text.
    row("blanks make the length", {text(code41.left(36) + QStringLiteral("     "))}, ClipKind::Code,
        code41.left(36).trimmed());

    // Plain-text titles are one-line excerpts.
    row("excerpt", {text(QStringLiteral("  a\n\n\tb  ") + QString(300, u'c'))}, ClipKind::Text,
        QStringLiteral("a b ") + QString(236, u'c'));

    // Text that does not decode falls back.
    row("invalid utf-8", {flavor(Uti::plainText, invalidUtf8)}, ClipKind::Text, "Clip");
    row("invalid utf-8 with url", {flavor(Uti::plainText, invalidUtf8), flavor(Uti::url, "u")},
        ClipKind::Link, "u");
    row("only the first text flavor counts", {flavor(Uti::plainText, invalidUtf8), text("hi")},
        ClipKind::Text, "Clip");
}

void TestClassifier::classify()
{
    QFETCH(FlavorList, flavors);
    QFETCH(ClipKind, kind);
    QFETCH(QString, title);

    const Classification result = ContentClassifier::classify(flavors);
    QCOMPARE(ClipKinds::rawValue(result.kind), ClipKinds::rawValue(kind));
    QCOMPARE(result.title, title);
}

void TestClassifier::thumbnailSize_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<int>("maxSide");
    QTest::addColumn<QSize>("expected");

    QTest::newRow("halved") << QSize(100, 60) << 50 << QSize(50, 30);
    QTest::newRow("small is not enlarged") << QSize(30, 20) << 220 << QSize(30, 20);
    QTest::newRow("tall strip") << QSize(1, 1000) << 220 << QSize(1, 220);
    QTest::newRow("wide strip") << QSize(1000, 1) << 220 << QSize(220, 1);
    QTest::newRow("rounded") << QSize(300, 200) << 220 << QSize(220, 147);
    QTest::newRow("full hd") << QSize(1920, 1080) << 220 << QSize(220, 124);
}

void TestClassifier::thumbnailSize()
{
    QFETCH(QSize, source);
    QFETCH(int, maxSide);
    QFETCH(QSize, expected);

    const std::optional<QByteArray> bytes =
        ImageUtil::thumbnailPNG(filled(source.width(), source.height(), Qt::darkCyan), maxSide);
    QVERIFY(bytes);
    QVERIFY(bytes->startsWith("\x89PNG"));
    QCOMPARE(ImageUtil::decode(*bytes).size(), expected);
}

void TestClassifier::thumbnailKeepsColourAndAlpha()
{
    // Left half transparent, right half opaque teal, upper-right quarter half-transparent red.
    QImage source(200, 120, QImage::Format_ARGB32);
    source.fill(Qt::transparent);
    {
        QPainter painter(&source);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(100, 0, 100, 120, QColor(0, 128, 128));
        painter.fillRect(100, 0, 100, 60, QColor(255, 0, 0, 128));
    }
    const std::optional<QByteArray> bytes = ImageUtil::thumbnailPNG(source, 100);
    QVERIFY(bytes);
    const QImage thumb = ImageUtil::decode(*bytes).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(thumb.size(), QSize(100, 60));
    QVERIFY(thumb.hasAlphaChannel());

    QCOMPARE(thumb.pixelColor(10, 45).alpha(), 0);
    const QColor teal = thumb.pixelColor(90, 45);
    QCOMPARE(teal.alpha(), 255);
    QVERIFY(qAbs(teal.green() - 128) <= 2 && qAbs(teal.blue() - 128) <= 2 && teal.red() <= 2);
    const QColor red = thumb.pixelColor(90, 10);
    QVERIFY(qAbs(red.alpha() - 128) <= 2);
    QVERIFY(red.red() >= 250 && red.green() <= 3 && red.blue() <= 3);
}

void TestClassifier::pngRoundTrip()
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
}

void TestClassifier::decode()
{
    QVERIFY(ImageUtil::decode({}).isNull());
    QVERIFY(ImageUtil::decode("definitely not a png").isNull());
    // A PNG cut after its header does not decode.
    QVERIFY(ImageUtil::decode(png(64, 64).left(40)).isNull());

    if (!QImageReader::supportedImageFormats().contains("tiff"))
        QSKIP("no TIFF image plugin installed");
    const QImage tiff = ImageUtil::decode(encoded(filled(9, 4, Qt::green), "tiff"));
    QCOMPARE(tiff.size(), QSize(9, 4));
    QCOMPARE(tiff.pixelColor(3, 2), QColor(Qt::green));
}

ULVANE_TEST_MAIN(TestClassifier)
#include "test_classifier.moc"
