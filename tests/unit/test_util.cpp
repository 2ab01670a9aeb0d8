#include "TestMain.h"

#include "core/Util.h"

#include <QRandomGenerator>
#include <QRegularExpression>

class TestUtil : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void digestIsTheDocumentedByteLayout()
    {
        QCOMPARE(
            Util::sha256("abc"),
            QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
        // Stored digests must never change: per flavor sorted by uti, the uti bytes, an 8-byte
        // little-endian length and the data.
        const QByteArray expected =
            QByteArray::fromHex("61 0200000000000000 0102 62 0000000000000000");
        QCOMPARE(Util::digest({{u"b"_qs, QByteArray()}, {u"a"_qs, "\x01\x02"}}),
                 Util::sha256(expected));
        QCOMPARE(Util::digest({}), Util::sha256(QByteArray()));
        // Same type twice: the stable sort keeps their order, so swapping them matters.
        QVERIFY(Util::digest({{u"x"_qs, "1"}, {u"x"_qs, "2"}}) !=
                Util::digest({{u"x"_qs, "2"}, {u"x"_qs, "1"}}));
    }

    void excerpt_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("collapse and trim") << QStringLiteral("  a\n\n\tb  ") << 3 << u"a b"_qs;
        QTest::newRow("only whitespace") << QStringLiteral(" \n\t ") << 240 << QString();
        QTest::newRow("limit zero") << QStringLiteral("abc") << 0 << QString();
        QTest::newRow("cut") << QStringLiteral("abcdef") << 3 << u"abc"_qs;
        QTest::newRow("unicode spaces")
            << QStringLiteral("a\u00a0\u2003b\u2028c") << 10 << u"a b c"_qs;
        // User-perceived characters: a flag and an e with a combining accent count one each.
        QTest::newRow("graphemes") << QStringLiteral("\U0001F1FA\U0001F1E6e\u0301x") << 2
                                   << QStringLiteral("\U0001F1FA\U0001F1E6e\u0301");
    }

    void excerpt()
    {
        QFETCH(QString, text);
        QFETCH(int, limit);
        QFETCH(QString, expected);
        QCOMPARE(Util::excerpt(text, limit), expected);
    }

    void excerptOfLongTextsMatchesTheWholeTextRule()
    {
        // Long texts take a shortcut; it must agree with collapsing the whole text.
        const QRegularExpression whitespace(QStringLiteral("\\s+"),
                                            QRegularExpression::UseUnicodePropertiesOption);
        QRandomGenerator random(7);
        const QString alphabet = QStringLiteral("ab \n\t\u0301\U0001F600");
        for (int round = 0; round < 200; ++round) {
            QString text;
            const int length = 1500 + int(random.bounded(3000));
            for (int i = 0; i < length; ++i) {
                const QChar pick = alphabet[int(random.bounded(alphabet.size()))];
                text += round % 3 == 0 && i % 50 ? QChar(u' ') : pick; // mostly space
            }
            const QString whole = QString(text).replace(whitespace, u" "_qs).trimmed();
            QCOMPARE(Util::excerpt(text, 240), Util::leftGraphemes(whole, 240));
        }
    }

    void graphemesAndStrictUtf8()
    {
        QCOMPARE(Util::graphemeCount(QString()), 0);
        QCOMPARE(Util::graphemeCount(QStringLiteral("e\u0301\r\n")), 2);
        QCOMPARE(Util::leftGraphemes(QStringLiteral("ab"), 5), u"ab"_qs);
        QCOMPARE(Util::decodeUtf8("h\xc3\xa9"), std::optional<QString>(QStringLiteral("h\u00e9")));
        QCOMPARE(Util::decodeUtf8(QByteArray()), std::optional<QString>(QString()));
        QCOMPARE(Util::decodeUtf8("\xff\xfe"), std::nullopt);
        QCOMPARE(Util::decodeUtf8("abc\xc3"), std::nullopt); // truncated sequence
    }
};

ULVANE_TEST_MAIN(TestUtil)
#include "test_util.moc"
