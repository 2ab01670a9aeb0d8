#include "TestMain.h"

#include "store/Clip.h"
#include "store/Util.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtEndian>

class TestUtil : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sha256KnownVectors()
    {
        QCOMPARE(
            Util::sha256(QByteArray()),
            QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
        QCOMPARE(
            Util::sha256("abc"),
            QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    }

    void digestIsTheDocumentedByteLayout()
    {
        // uti bytes, 8-byte little-endian length, data — for each flavor sorted by uti.
        QByteArray expected;
        auto append = [&expected](const char *uti, const QByteArray &data) {
            expected += uti;
            char length[8];
            qToLittleEndian<qint64>(data.size(), length);
            expected += QByteArray(length, 8);
            expected += data;
        };
        append("a", QByteArray("\x01\x02", 2));
        append("b", QByteArray());
        const FlavorList flavors{{QStringLiteral("b"), QByteArray()},
                                 {QStringLiteral("a"), QByteArray("\x01\x02", 2)}};
        QCOMPARE(Util::digest(flavors), Util::sha256(expected));
        QCOMPARE(Util::digest({}), Util::sha256(QByteArray()));
    }

    void digestOrderRules()
    {
        const Flavor a{QStringLiteral("public.png"), "png"};
        const Flavor b{QStringLiteral("public.utf8-plain-text"), "text"};
        QCOMPARE(Util::digest({a, b}), Util::digest({b, a}));
        // Same type twice: the stable sort keeps their order, so swapping them matters.
        const Flavor x1{QStringLiteral("x"), "1"};
        const Flavor x2{QStringLiteral("x"), "2"};
        QVERIFY(Util::digest({x1, x2}) != Util::digest({x2, x1}));
        // The length prefix keeps ("ab","c") apart from ("a","bc").
        QVERIFY(Util::digest({{QStringLiteral("t"), "ab"}, {QStringLiteral("u"), "c"}}) !=
                Util::digest({{QStringLiteral("t"), "a"}, {QStringLiteral("u"), "bc"}}));
        QCOMPARE(Util::digest({a}).size(), 64);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$"))
                    .match(Util::digest({a}))
                    .hasMatch());
    }

    void excerpt_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("collapse and trim") << QStringLiteral("  a\n\n\tb  ") << 3 << u"a b"_qs;
        QTest::newRow("large limit") << QStringLiteral("  a\n\n\tb  ") << 240 << u"a b"_qs;
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
        auto reference = [](QString text, int limit) {
            text.replace(QRegularExpression(QStringLiteral("\\s+"),
                                            QRegularExpression::UseUnicodePropertiesOption),
                         QStringLiteral(" "));
            return Util::leftGraphemes(text.trimmed(), limit);
        };
        QRandomGenerator random(7);
        const QString alphabet = QStringLiteral("ab \n\t\u0301\U0001F600");
        for (int round = 0; round < 200; ++round) {
            QString text;
            const int length = 1500 + int(random.bounded(3000));
            const bool mostlySpace = round % 3 == 0;
            for (int i = 0; i < length; ++i) {
                const int pick = int(random.bounded(alphabet.size()));
                text += mostlySpace && i % 50 ? QChar(u' ') : alphabet[pick];
            }
            QCOMPARE(Util::excerpt(text, 240), reference(text, 240));
        }
    }

    void relTime()
    {
        const double now = 1'800'000'000;
        QCOMPARE(Util::relTime(now - 59.9, now), u"now"_qs);
        QCOMPARE(Util::relTime(now + 3600, now), u"now"_qs);
        const QString fiveMinutes = Util::relTime(now - 5 * 60 - 10, now);
        QVERIFY2(fiveMinutes.contains(u'5') && fiveMinutes != u"now"_qs, qPrintable(fiveMinutes));
        const QString twoHours = Util::relTime(now - 2 * 3600 - 5, now);
        QVERIFY2(twoHours.contains(u'2'), qPrintable(twoHours));
        QVERIFY(twoHours != fiveMinutes);
        QVERIFY(Util::relTime(now - 3 * 86400, now).contains(u'3'));
    }

    void graphemeHelpers()
    {
        QCOMPARE(Util::graphemeCount(QString()), 0);
        QCOMPARE(Util::graphemeCount(QStringLiteral("e\u0301\r\n")), 2);
        QCOMPARE(Util::leftGraphemes(QStringLiteral("ab"), 5), u"ab"_qs);
    }

    void decodeUtf8IsStrict()
    {
        QCOMPARE(Util::decodeUtf8("h\xc3\xa9"), std::optional<QString>(QStringLiteral("h\u00e9")));
        QCOMPARE(Util::decodeUtf8("\xff\xfe"), std::nullopt);
        QCOMPARE(Util::decodeUtf8("abc\xc3"), std::nullopt); // truncated sequence
        QCOMPARE(Util::decodeUtf8(QByteArray()), std::optional<QString>(QString()));
    }

    void kindsAndFilters()
    {
        QCOMPARE(ClipKinds::fromRawValue(u"link"_qs), ClipKind::Link);
        QCOMPARE(ClipKinds::fromRawValue(u"Text"_qs), std::nullopt);
        for (ClipKind kind : ClipKinds::allCases())
            QCOMPARE(ClipKinds::fromRawValue(ClipKinds::rawValue(kind)), kind);
        QCOMPARE(ClipFilters::fromRawValue(u"text"_qs), std::nullopt);
        QCOMPARE(ClipFilters::fromRawValue(QStringLiteral("\u2605")), ClipFilter::Favorites);
        QStringList labels;
        for (ClipFilter filter : ClipFilters::allCases())
            labels << ClipFilters::rawValue(filter);
        QCOMPARE(labels, QStringList({u"All"_qs, QStringLiteral("\u2605"), u"Text"_qs, u"Images"_qs,
                                      u"Files"_qs, u"Links"_qs}));
    }

    void clipEqualityComparesIdPinAndTitle()
    {
        Clip a;
        a.id = u"X"_qs;
        a.excerpt = u"one"_qs;
        Clip b = a;
        b.excerpt = u"two"_qs;
        b.created = 5;
        QVERIFY(a == b);
        b.pinned = true;
        QVERIFY(!(a == b));
    }
};

ULVANE_TEST_MAIN(TestUtil)
#include "test_util.moc"
