#include "TestMain.h"

#include "paste/LinkDetector.h"
#include "paste/Transforms.h"
#include "store/Util.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

namespace {

// Generous enough for a sanitizer build; a quadratic scan of a megabyte takes minutes.
constexpr qint64 linearTimeBudgetMs = 5000;

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
    void rawValuesRoundTrip()
    {
        QStringList names;
        for (Transform t : Transforms::allTransforms()) {
            names << Transforms::displayName(t);
            QCOMPARE(Transforms::transformFromRawValue(Transforms::displayName(t)), t);
        }
        QCOMPARE(names,
                 QStringList({"Plain Text", "lowercase", "UPPERCASE", "Title Case", "Trimmed",
                              "Single Line", "No Blank Lines", "Markdown Code Block"}));
        QStringList extractorNames;
        for (Extractor e : Transforms::allExtractors()) {
            extractorNames << Transforms::displayName(e);
            QCOMPARE(Transforms::extractorFromRawValue(Transforms::displayName(e)), e);
        }
        QCOMPARE(extractorNames, QStringList({"Emails", "URLs", "Numbers"}));
        QVERIFY(!Transforms::transformFromRawValue(u"plain text"_qs));
        QVERIFY(!Transforms::transformFromRawValue(QString()));
        QVERIFY(!Transforms::extractorFromRawValue(u"urls"_qs));
    }

    void apply_data()
    {
        QTest::addColumn<Transform>("transform");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, Transform t, const QString &in, const QString &out) {
            QTest::newRow(name) << t << in << out;
        };
        row("plain keeps everything", Transform::Plain, u" A\r\nb \n"_qs, u" A\r\nb \n"_qs);
        row("lower", Transform::Lower, u"ÀB ΣΑΣ"_qs, u"àb σασ"_qs);
        row("upper sharp s", Transform::Upper, u"ß"_qs, u"SS"_qs);
        row("upper ligature", Transform::Upper, u"straße ﬁx"_qs, u"STRASSE FIX"_qs);
        row("title words", Transform::TitleCase, u"hello wORLD"_qs, u"Hello World"_qs);
        row("title keeps separators", Transform::TitleCase, u"  a\tb\nc\u00A0d "_qs,
            u"  A\tB\nC\u00A0D "_qs);
        // Only white space separates words: no capital after an apostrophe or a bracket.
        row("title punctuation", Transform::TitleCase, u"don't (stop) x-ray"_qs,
            u"Don't (stop) X-ray"_qs);
        row("title full mapping", Transform::TitleCase, u"ßen ǆemal ﬁne"_qs, u"Ssen ǅemal Fine"_qs);
        row("title astral", Transform::TitleCase, QStringLiteral("\U00010428\U00010400"),
            QStringLiteral("\U00010400\U00010428"));
        row("trimmed", Transform::Trimmed, u"\u3000 a b\r\n\u2028"_qs, u"a b"_qs);
        row("trimmed blanks only", Transform::Trimmed, u"   "_qs, QString());
        row("single line", Transform::SingleLine, u"a\n b\n\nc"_qs, u"a b c"_qs);
        row("single line crlf", Transform::SingleLine, u"a \r\n\t b"_qs, u"a b"_qs);
        row("single line ends", Transform::SingleLine, u"\n a\u00A0\t\n"_qs, u"a"_qs);
        // Only runs around a line feed collapse; other inner white space stays as it is.
        row("single line inner", Transform::SingleLine, u"a  b\u2028c"_qs, u"a  b\u2028c"_qs);
        row("single line keeps cr", Transform::SingleLine, u"\ra"_qs, u"\ra"_qs);
        row("single line broken utf-16", Transform::SingleLine, QChar(0xDC00) + u"a \n b"_qs,
            QChar(0xDC00) + u"a b"_qs);
        row("no blank lines", Transform::NoBlankLines, u"a\n\n\nb"_qs, u"a\nb"_qs);
        row("no blank lines keeps blanks", Transform::NoBlankLines, u" a \n \t\u00A0\nb \n"_qs,
            u" a \nb "_qs);
        row("no blank lines crlf", Transform::NoBlankLines, u"a\r\n\r\nb"_qs, u"a\r\n\r\nb"_qs);
        row("no blank lines all blank", Transform::NoBlankLines, u"\n \n"_qs, QString());
        row("markdown", Transform::MarkdownCode, u"\n\n  code\n\n"_qs, u"```\n  code\n```"_qs);
        row("markdown line breaks", Transform::MarkdownCode, u"\r\n\u2029x \u0085\u000B"_qs,
            u"```\nx \n```"_qs);
        row("markdown empty", Transform::MarkdownCode, QString(), u"```\n\n```"_qs);
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
        QTest::newRow("emails") << Extractor::Emails
                                << u"Write ab@cd.ua or ef.gh@ij.com! Again: ab@cd.ua"_qs
                                << QStringList{"ab@cd.ua", "ef.gh@ij.com"};
        QTest::newRow("numbers") << Extractor::Numbers << u"12 items -3.5 kg, 12 again"_qs
                                 << QStringList{"12", "-3.5"};
        QTest::newRow("decimal comma") << Extractor::Numbers << u"3,14"_qs << QStringList{"3,14"};
        QTest::newRow("version") << Extractor::Numbers << u"1.2.3"_qs << QStringList{"1.2", "3"};
        QTest::newRow("unicode digits")
            << Extractor::Numbers << u"x ٣٤ y"_qs << QStringList{u"٣٤"_qs};
        QTest::newRow("urls without mail") << Extractor::Urls
                                           << u"Go to https://example.com/path now, or "
                                              "me@example.org, or MAILTO:x@example.org"_qs
                                           << QStringList{"https://example.com/path"};
        QTest::newRow("urls keep duplicates")
            << Extractor::Urls << u"https://a.io www.b.io https://a.io"_qs
            << QStringList{"https://a.io", "http://www.b.io", "https://a.io"};
        QTest::newRow("nothing") << Extractor::Urls << QString() << QStringList();
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
        QTest::newRow("only breaks") << u"\n\n"_qs << u"2 chars · 0 words · 3 lines"_qs;
        QTest::newRow("graphemes")
            << u"👨‍👩‍👧 e\u0301\u00A0🇺🇦"_qs << u"5 chars · 3 words · 1 lines"_qs;
    }

    void stats()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(Transforms::stats(text), expected);
        QVERIFY(expected.startsWith(QString::number(Util::graphemeCount(text)) + u" chars"_qs));
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
        row("every scheme",
            u"ftp://a.b ftps://c sftp://d file:///tmp/x ssh://u@h git://g/r ws://w wss://s"_qs,
            {"ftp://a.b", "ftps://c", "sftp://d", "file:///tmp/x", "ssh://u@h", "git://g/r",
             "ws://w", "wss://s"});
        row("unknown scheme", u"gopher://x.org smb://y"_qs, {});
        row("sentence ends", u"See https://e.com/x. Or https://e.com/y, https://e.com/z!?"_qs,
            {"https://e.com/x", "https://e.com/y", "https://e.com/z"});
        row("quoted", u"'https://e.com/q' \"https://e.com/r\" “https://e.com/s”"_qs,
            {"https://e.com/q", "https://e.com/r", "https://e.com/s"});
        row("own parenthesis", u"(see https://en.wikipedia.org/wiki/Foo_(bar))"_qs,
            {"https://en.wikipedia.org/wiki/Foo_(bar)"});
        row("markdown link", u"[docs](https://e.com/d)."_qs, {"https://e.com/d"});
        row("brackets", u"[https://e.com/[1]/{2}] {https://e.com/c}"_qs,
            {"https://e.com/[1]/{2}", "https://e.com/c"});
        row("angle brackets", u"<https://e.com/a>https://e.com/b"_qs,
            {"https://e.com/a", "https://e.com/b"});
        row("ipv6 and port", u"http://[::1]:8080/p"_qs, {"http://[::1]:8080/p"});
        row("inner punctuation", u"https://e.com/it's,a:b!c."_qs, {"https://e.com/it's,a:b!c"});
        row("stops", u"https://e.com/a\tb https://e.com/c\u0007d `https://e.com/e`"_qs,
            {"https://e.com/a", "https://e.com/c", "https://e.com/e"});
        row("empty remainder", u"http:// mailto: https://.., (http://)"_qs, {});
        row("glued to a word", u"xhttps://e.com 2http://e.com"_qs, {});
        row("after punctuation", u"url=https://e.com; (http://f.org)"_qs,
            {"https://e.com", "http://f.org"});
        row("cjk", u"请访问https://e.com/路径。谢谢www.e.cn，好"_qs,
            {u"https://e.com/路径"_qs, "http://www.e.cn"});
        row("astral path", u"https://e.com/😀 ok"_qs, {u"https://e.com/😀"_qs});
        row("lone surrogate", QStringLiteral("https://e.com/a") + QChar(0xD800) + u"b"_qs,
            {"https://e.com/a"});
        row("www", u"visit www.example.com/path. WWW.Example.org!"_qs,
            {"http://www.example.com/path", "http://WWW.Example.org"});
        row("www port", u"www.e.com:8080/x www.e.com:123456 www.e.com: yes"_qs,
            {"http://www.e.com:8080/x", "http://www.e.com", "http://www.e.com"});
        row("www needs a domain", u"www.example www. www.-a.com www.x.c0m"_qs, {});
        row("www inside a name", u"awww.e.com foo.www.e.com"_qs, {});
        row("www trailing hyphen", u"www.e.com-- www.x.co.uk."_qs,
            {"http://www.e.com", "http://www.x.co.uk"});
        row("email", u"Mail ann@example.com. Or <b.c+d@mail.e-x.co.uk>"_qs,
            {"mailto:ann@example.com", "mailto:b.c+d@mail.e-x.co.uk"});
        row("mailto as written", u"MAILTO:ann@e.com?subject=Hi"_qs,
            {"MAILTO:ann@e.com?subject=Hi"});
        row("email leading dots", u"...john@e.com"_qs, {"mailto:john@e.com"});
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

    void detectOnRandomJunk()
    {
        // Whatever the input, every link is one of the three shapes, is free of characters
        // that end links, and occurs in the text (less its added prefix) after the last one.
        const char *const pieces[] = {"http", "https://", "://", "www.", "mailto:", "a", "B9",
                                      ".",    "-",        "@",   "(",    ")",       "]", "'",
                                      " ",    "\n",       "/",   ":",    "com",     "é", "😀"};
        QRandomGenerator random(20240601);
        for (int round = 0; round < 3000; ++round) {
            QString text;
            const int count = int(random.bounded(1, 30));
            for (int k = 0; k < count; ++k)
                text += QString::fromUtf8(pieces[random.bounded(int(std::size(pieces)))]);
            qsizetype cursor = 0;
            for (const QString &link : LinkDetector::detect(text)) {
                QVERIFY2(link.contains(u':'), qPrintable(text));
                QVERIFY2(!link.contains(u' ') && !link.contains(u'\n'), qPrintable(text));
                QVERIFY2(!link.endsWith(u'.') && !link.endsWith(u'\''), qPrintable(text));
                const bool prefixed = link.startsWith(u"http://www."_qs, Qt::CaseInsensitive) ||
                                      link.startsWith(u"mailto:"_qs);
                qsizetype at = text.indexOf(link, cursor);
                qsizetype length = link.size();
                if (at < 0 && prefixed) {
                    at = text.indexOf(link.mid(7), cursor);
                    length -= 7;
                }
                QVERIFY2(at >= 0, qPrintable(text + u" → "_qs + link));
                cursor = at + length;
            }
        }
    }

    void noCatastrophicBacktracking_data()
    {
        QTest::addColumn<QString>("text");
        const qsizetype mega = 1 << 20;
        QTest::newRow("near links") << repeated("http:/ https://) www.a mailto: a@b. ((x)) ", mega);
        QTest::newRow("no blanks") << repeated("www.a@b.c-http:/(", mega);
        QTest::newRow("closers") << u"https://"_qs + QString(mega, u')');
        QTest::newRow("openers") << u"https://"_qs + QString(mega, u'(') + u")."_qs;
        QTest::newRow("labels") << repeated("www.", mega);
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
        QVERIFY2(timer.elapsed() < linearTimeBudgetMs,
                 qPrintable(QString::number(timer.elapsed())));
    }
};

ULVANE_TEST_MAIN(TestTransforms)
#include "test_transforms.moc"
