#include "TestMain.h"

#include "paste/LinkDetector.h"
#include "paste/Transforms.h"

#include <QElapsedTimer>

namespace {

// Only tells a scan that hung from one that finished: a linear pass over these megabyte texts
// takes about 0.2 s, a quadratic one hours.
constexpr qint64 hangLimitMs = 30000;

QString repeated(const char *piece, qsizetype totalLength)
{
    const QString unit = QString::fromUtf8(piece);
    return unit.repeated(totalLength / unit.size() + 1);
}

} // namespace

class TestTransforms : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void apply_data()
    {
        QTest::addColumn<Transform>("transform");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, Transform t, const QString &in, const QString &out) {
            QTest::newRow(name) << t << in << out;
        };
        using T = Transform;
        row("plain keeps everything", T::Plain, u" A\r\nb \n"_qs, u" A\r\nb \n"_qs);
        row("lower", T::Lower, u"ÀB ΣΑΣ"_qs, u"àb σασ"_qs);
        row("upper ligature", T::Upper, u"straße ﬁx"_qs, u"STRASSE FIX"_qs);
        row("title words", T::TitleCase, u" hello\twORLD\nc\u00A0d "_qs,
            u" Hello\tWorld\nC\u00A0D "_qs);
        // Only white space separates words: no capital after an apostrophe or a bracket.
        row("title punctuation", T::TitleCase, u"don't (stop) x-ray"_qs, u"Don't (stop) X-ray"_qs);
        row("title astral", T::TitleCase, QStringLiteral("\U00010428\U00010400"),
            QStringLiteral("\U00010400\U00010428"));
        row("trimmed", T::Trimmed, u"\u3000 a b\r\n\u2028"_qs, u"a b"_qs);
        row("single line", T::SingleLine, u"\n a \r\n\t b\n\nc\u00A0\t\n"_qs, u"a b c"_qs);
        // Only runs around a line feed collapse; other inner white space stays as it is.
        row("single line inner", T::SingleLine, u"a  b\u2028c"_qs, u"a  b\u2028c"_qs);
        row("single line keeps cr", T::SingleLine, u"\ra"_qs, u"\ra"_qs);
        row("single line broken utf-16", T::SingleLine, QChar(0xDC00) + u"a \n b"_qs,
            QChar(0xDC00) + u"a b"_qs);
        // A line feed after a carriage return is part of one line break, not an empty line.
        row("no blank lines", T::NoBlankLines, u" a \n\n \t\u00A0\n\nb \nc\r\n\r\nd"_qs,
            u" a \nb \nc\r\n\r\nd"_qs);
        row("markdown", T::MarkdownCode, u"\n\r\n\u2029  code \u0085\u000B\n"_qs,
            u"```\n  code \n```"_qs);
    }

    void apply()
    {
        QFETCH(Transform, transform);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(Transforms::apply(transform, text), expected);
    }

    void extract_data()
    {
        QTest::addColumn<Extractor>("extractor");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char *name, Extractor e, const QString &in,
                            const QStringList &out) { QTest::newRow(name) << e << in << out; };
        using E = Extractor;
        row("emails", E::Emails, u"Write ab@cd.ua or ef.gh@ij.com! Again: ab@cd.ua"_qs,
            {"ab@cd.ua", "ef.gh@ij.com"});
        row("numbers", E::Numbers, u"12 items -3.5 kg, 12 again 3,14 1.2.3 x ٣٤ y"_qs,
            {"12", "-3.5", "3,14", "1.2", "3", u"٣٤"_qs});
        row("urls without mail", E::Urls,
            u"Go to https://e.com/path now, or me@e.org, or MAILTO:x@e.org"_qs,
            {"https://e.com/path"});
        row("urls keep duplicates", E::Urls, u"https://a.io www.b.io https://a.io"_qs,
            {"https://a.io", "http://www.b.io", "https://a.io"});
    }

    void extract()
    {
        QFETCH(Extractor, extractor);
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QCOMPARE(Transforms::extract(extractor, text), expected);
    }

    void matchesIsDistinctAndFailsSoft()
    {
        QCOMPARE(Transforms::matches(u"b a b c a"_qs, u"\\w"_qs), QStringList({"b", "a", "c"}));
        QCOMPARE(Transforms::matches(u"a\u2003b"_qs, u"\\s"_qs), QStringList{u"\u2003"_qs});
        QCOMPARE(Transforms::matches(u"abc"_qs, u"(unclosed"_qs), QStringList());
        // Broken UTF-16 in the subject is matched around, not rejected.
        QCOMPARE(Transforms::matches(QStringLiteral("7") + QChar(0xD800) + u"8"_qs, u"\\d"_qs),
                 QStringList({"7", "8"}));
    }

    void stats_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("line feed") << u"hello world\n"_qs << u"12 chars · 2 words · 2 lines"_qs;
        QTest::newRow("empty") << QString() << u"0 chars · 0 words · 1 lines"_qs;
        QTest::newRow("crlf") << u"a\r\nb"_qs << u"3 chars · 2 words · 1 lines"_qs;
        QTest::newRow("graphemes")
            << u"👨‍👩‍👧 e\u0301\u00A0🇺🇦"_qs << u"5 chars · 3 words · 1 lines"_qs;
    }

    void stats()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(Transforms::stats(text), expected);
    }

    void detect_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char *name, const QString &text, const QStringList &links) {
            QTest::newRow(name) << text << links;
        };
        row("path query fragment", u"Docs: https://example.com/a/b?x=1&y=%20#f today"_qs,
            {"https://example.com/a/b?x=1&y=%20#f"});
        row("written as is", u"HTTPS://Example.COM/X"_qs, {"HTTPS://Example.COM/X"});
        row("other schemes", u"ftp://a.b ssh://u@h"_qs, {"ftp://a.b", "ssh://u@h"});
        row("sentence ends", u"See https://e.com/x. Or https://e.com/y, https://e.com/z!?"_qs,
            {"https://e.com/x", "https://e.com/y", "https://e.com/z"});
        row("quoted", u"'https://e.com/q' \"https://e.com/r\" “https://e.com/s”"_qs,
            {"https://e.com/q", "https://e.com/r", "https://e.com/s"});
        row("own parenthesis", u"(see https://e.org/Foo_(bar)) [docs](https://e.com/d)."_qs,
            {"https://e.org/Foo_(bar)", "https://e.com/d"});
        row("brackets", u"[https://e.com/[1]/{2}] {https://e.com/c}"_qs,
            {"https://e.com/[1]/{2}", "https://e.com/c"});
        row("ipv6 and port", u"http://[::1]:8080/p"_qs, {"http://[::1]:8080/p"});
        row("inner punctuation", u"https://e.com/it's,a:b!c."_qs, {"https://e.com/it's,a:b!c"});
        row("stops", u"https://e.com/a\tb https://e.com/c\u0007d `https://e.com/e`"_qs,
            {"https://e.com/a", "https://e.com/c", "https://e.com/e"});
        row("no scheme link",
            u"http:// mailto: https://.., (http://) gopher://x smb://y xhttps://e.c 2http://e.c"_qs,
            {});
        row("cjk", u"请访问https://e.com/路径。谢谢www.e.cn，好"_qs,
            {u"https://e.com/路径"_qs, "http://www.e.cn"});
        row("astral path", u"https://e.com/😀 ok"_qs, {u"https://e.com/😀"_qs});
        row("lone surrogate", QStringLiteral("https://e.com/a") + QChar(0xD800) + u"b"_qs,
            {"https://e.com/a"});
        row("www", u"visit www.example.com/path. WWW.Example.org!"_qs,
            {"http://www.example.com/path", "http://WWW.Example.org"});
        row("www port", u"www.e.com:8080/x www.e.com:123456 www.e.com: yes"_qs,
            {"http://www.e.com:8080/x", "http://www.e.com", "http://www.e.com"});
        row("no www link", u"www.example www. www.-a.com www.x.c0m awww.e.com foo.www.e.com"_qs,
            {});
        row("email", u"Mail ann@example.com. Or <b.c+d@mail.e-x.co.uk>"_qs,
            {"mailto:ann@example.com", "mailto:b.c+d@mail.e-x.co.uk"});
        row("not an email", u"a@b x @e.com @@ a@e.c 1@2.3"_qs, {});
        row("second at sign", u"a@b@e.com"_qs, {"mailto:b@e.com"});
        row("credentials in url", u"https://user@e.com/x"_qs, {"https://user@e.com/x"});
        row("order and duplicates", u"www.a.io b@c.io https://d.io www.a.io"_qs,
            {"http://www.a.io", "mailto:b@c.io", "https://d.io", "http://www.a.io"});
    }

    void detect()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QCOMPARE(LinkDetector::detect(text), expected);
    }

    void noCatastrophicBacktracking_data()
    {
        QTest::addColumn<QString>("text");
        const qsizetype mega = 1 << 20;
        QTest::newRow("near links") << repeated("http:/ https://) www.a mailto: a@b. ((x)) ", mega);
        QTest::newRow("closers") << u"https://"_qs + QString(mega, u')');
        QTest::newRow("openers") << u"https://"_qs + QString(mega, u'(') + u")."_qs;
        QTest::newRow("long label") << u"www."_qs + QString(mega, u'a') + u".com"_qs;
        QTest::newRow("local part") << QString(mega, u'a') + u"@"_qs + QString(mega, u'a');
        QTest::newRow("at signs") << repeated("a@a.", mega);
        QTest::newRow("blanks") << QString(mega, u' ') + u"x\n"_qs;
        QTest::newRow("digits") << repeated("1.", mega);
    }

    void noCatastrophicBacktracking()
    {
        QFETCH(QString, text);
        QElapsedTimer timer;
        timer.start();
        LinkDetector::detect(text);
        for (Extractor e : Transforms::allExtractors())
            Transforms::extract(e, text);
        for (Transform t : Transforms::allTransforms())
            Transforms::apply(t, text);
        Transforms::stats(text);
        QVERIFY2(timer.elapsed() < hangLimitMs, qPrintable(QString::number(timer.elapsed())));
    }
};

ULVANE_TEST_MAIN(TestTransforms)
#include "test_transforms.moc"
