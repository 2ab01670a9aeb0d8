#include "core/RtfReader.h"
#include "TestMain.h"

#include <QObject>

using namespace Qt::StringLiterals;

class TestRtf : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsText_data()
    {
        QTest::addColumn<QByteArray>("rtf");
        QTest::addColumn<QString>("text");
        const auto row = [](const char *name, const QByteArray &rtf, const QString &text) {
            QTest::newRow(name) << rtf << text;
        };

        row("leading whitespace", " \r\n\t{\\rtf1 x}", u"x"_s);
        row("text after the document", R"({\rtf1 a}b)", u"a"_s);
        row("word delimiter space", R"({\rtf1 \b bold\b0  two\fi-360  x})", u"bold two x"_s);
        row("source line breaks ignored", "{\\rtf1 ab\r\ncd\ne\rf}", u"abcdef"_s);
        row("escaped line break is a paragraph", "{\\rtf1 a\\\nb\\\r\nc}", u"a\nb\nc"_s);

        // Structure and named characters.
        row("par tab line", R"({\rtf1 a\par b\tab c\line d\par})", u"a\nb\tc\nd\n"_s);
        row("table", R"({\rtf1 A\cell B\cell\row{\nonesttables x}C})", u"A\tB\t\nC"_s);
        row("named characters",
            R"({\rtf1 \emdash\endash\bullet\lquote\rquote\ldblquote\rdblquote)"
            R"(\emspace\enspace\qmspace})",
            u"\u2014\u2013\u2022\u2018\u2019\u201C\u201D\u2003\u2002\u2005"_s);
        row("control symbols", R"({\rtf1 a\\b\{c\}d\~e\-f\_g\:h})", u"a\\b{c}d\u00A0ef\u2011gh"_s);

        // Code pages.
        row("default 1252", R"({\rtf1\ansi caf\'e9 \'80})", u"café €"_s);
        row("ansicpg1251", R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8\'e2\'e5\'f2})", u"Привет"_s);
        row("raw 8-bit bytes in 1251", "{\\rtf1\\ansi\\ansicpg1251 \xcf\xf0\xe8}", u"При"_s);
        row("mac", R"({\rtf1\mac \'8e})", u"é"_s);
        row("unknown code page falls back to 1252", R"({\rtf1\ansi\ansicpg99999 \'e9})", u"é"_s);
        row("font charset selects code page",
            R"({\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0\froman\fcharset0 Times;})"
            R"({\f1\fswiss\fcharset204 Arial;}}\f0 caf\'e9 {\f1 \'e4\'e0} \'e4})",
            u"café да ä"_s);
        row("flat font table and default font",
            R"({\rtf1\ansi\deff1{\fonttbl\f0\fnil A;\f1\fnil\fcharset238 B;}\'e8})", u"č"_s);
        row("charset 0 follows the document",
            R"({\rtf1\ansicpg1251{\fonttbl{\f0\fcharset0 A;}}\f0\'e9})", u"й"_s);
        row("cpg wins over charset", R"({\rtf1{\fonttbl{\f0\fcharset204\cpg1253 G;}}\f0\'e1})",
            u"α"_s);
        row("shift-jis pairs", R"({\rtf1\ansi\ansicpg932 \'82\'a0\'82\'a2 \'95\'5c\'95\\})",
            u"あい 表表"_s);
        row("cut multi-byte character", R"({\rtf1\ansi\ansicpg932 \'82})", u"\uFFFD"_s);

        // \uN and its fallback.
        row("u with uc1 default", R"({\rtf1 \u1055?\u1088?x})", u"Прx"_s);
        row("u with uc2 and hex fallback", R"({\rtf1\uc2\u20013\'d6\'d0\u25991\'ce\'c4!})",
            u"中文!"_s);
        row("control word counts as one fallback", R"({\rtf1 \u8212\emdash x})", u"—x"_s);
        row("uc is group scoped", R"({\rtf1 {\uc2\u20013??}\u20013??})", u"中中?"_s);
        row("fallback ends at group boundary", R"({\rtf1 {\u1055}X})", u"ПX"_s);
        row("huge uc", R"({\rtf1{\uc2147483647999\u1055 abc}d})", u"Пd"_s);
        row("surrogate pair, signed", R"({\rtf1 \u-10179?\u-8694?})", u"\U0001F60A"_s);
        row("high then high surrogate, lone low", R"({\rtf1 \u-10179?\u-10179?\u-8694?\u-8694?})",
            u"\uFFFD\U0001F60A\uFFFD"_s);

        // Skipped destinations.
        row("tables and metadata",
            R"({\rtf1{\fonttbl{\f0 Arial;}}{\colortbl;\red0\green0\blue0;})"
            R"({\stylesheet{\s0 Normal;}}{\info{\title T}{\author A}}A})",
            u"A"_s);
        row("ignorable destination",
            R"({\rtf1{\*\generator Riched20;}{\*\unknownthing {nested} x}B})", u"B"_s);
        row("picture, header, footnote",
            R"({\rtf1 a{\pict\pngblip 89504e47}b{\header H}{\footerl F}c{\footnote N}d})",
            u"abcd"_s);
        row("fields keep their result, with or without star",
            R"({\rtf1{\field{\*\fldinst{HYPERLINK "http://x/"}}{\fldrslt link}})"
            R"({\field{\fldinst PAGE}{\fldrslt 3}}})",
            u"link3"_s);
        row("bin skips braces", R"({\rtf1 a{\*\blob\bin3 }}}b}c})", u"ac"_s);
        row("bin huge", R"({\rtf1 a\bin2147483647999 xyz})", u"a"_s);
        row("bin negative or without count", R"({\rtf1 a\bin-5 b\bin c})", u"abc"_s);

        // Cut, damaged and hostile input still yields what can be read.
        row("only header", "{\\rtf", QString());
        row("cut in text", R"({\rtf1\ansi Hello {\b wor)", u"Hello wor"_s);
        row("cut after backslash", "{\\rtf1 ab\\", u"ab"_s);
        row("cut hex escape", R"({\rtf1 ab\'e)", u"ab"_s);
        row("bad hex escape", R"({\rtf1 a\'zzb})", u"azzb"_s);
        row("cut in fallback", R"({\rtf1\uc3 \u1055 a)", u"П"_s);
        row("negative uc", R"({\rtf1\uc-4\u1055 a})", u"Пa"_s);
        row("out of range u", R"({\rtf1\u99999999 a})", u"\uFFFD"_s);
        row("overlong word", "{\\rtf1 \\" + QByteArray(1000, 'p') + " x}", u"x"_s);
        row("controls dropped, tabs kept", "{\\rtf1 a\x01\\'01\\'09\x7f\tz}", u"a\t\x7f\tz"_s);
    }

    void readsText()
    {
        QFETCH(QByteArray, rtf);
        QFETCH(QString, text);
        const std::optional<QString> result = Rtf::toPlainText(rtf);
        QVERIFY(result.has_value());
        QCOMPARE(*result, text);
    }

    void rejectsNonRtf()
    {
        for (const QByteArray &bytes :
             {QByteArray(), QByteArray(" \n"), QByteArray("{\\rt"), QByteArray("hello {\\rtf1 x}"),
              QByteArray("{\\RTF1 x}"), QByteArray("\0{\\rtf1 x}", 10)})
            QVERIFY2(!Rtf::toPlainText(bytes), bytes.toHex().constData());
    }

    void deepNestingFinishes()
    {
        constexpr int depth = 100000;
        const QByteArray open(depth, '{');
        const QByteArray close(depth, '}');
        QCOMPARE(Rtf::toPlainText("{\\rtf1 " + open + "x" + close + "y}"), u"xy"_s);
        QCOMPARE(Rtf::toPlainText("{\\rtf1 " + open + "x"), u"x"_s);
        QCOMPARE(Rtf::toPlainText("{\\rtf1 " + close + "x"), QString());
    }
};

ULVANE_TEST_MAIN(TestRtf)
#include "test_rtf.moc"
