#include "TestMain.h"
#include "X11Clients.h"
#include "X11RawOwner.h"

#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11PasteboardTypes.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QMimeData>
#include <QSignalSpy>

#include <memory>

using namespace X11PasteboardTypes;
using X11Clients::timeoutMs;
using X11Raw::OfferOwner;

namespace {

const QString selfMarker = QStringLiteral("org.brisel.Ulvane.self");
const QStringList storable = {Uti::plainText, Uti::rtf,     Uti::html, Uti::png,    Uti::tiff,
                              Uti::jpeg,      Uti::fileUrl, Uti::url,  Uti::urlName};
using Offer = OfferOwner::Offer;

QByteArray utf16le(const QString &text, bool bom)
{
    QByteArray out = bom ? QByteArray("\xFF\xFE", 2) : QByteArray();
    for (const QChar c : text)
        out.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    return out;
}

// The clipboard's owner as the server sees it, asked on a connection of the test's own.
xcb_window_t clipboardOwner()
{
    static xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    static const xcb_atom_t clipboard = X11Raw::intern(c, "CLIPBOARD");
    X11Raw::Reply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr));
    return reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
}

// Serves an offer from a plain map, counting what was asked for.
struct MapFetch
{
    QHash<QString, QByteArray> data;
    QStringList asked;

    Fetch fetch()
    {
        return [this](const QString &target) -> std::optional<Transfer> {
            asked.append(target);
            return Transfer{data.value(target), target};
        };
    }
};

} // namespace

class TestX11Pasteboard : public QObject
{
    Q_OBJECT

private:
    X11Pasteboard *m_pb = nullptr;
    std::unique_ptr<OfferOwner> m_owner;

    bool own(const Offer &offer, OfferOwner::Behaviour behaviour = OfferOwner::Answer,
             int delayMs = 0, int chunk = 0)
    {
        m_owner = std::make_unique<OfferOwner>(offer, behaviour, delayMs, chunk);
        return m_owner->claim();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(qEnvironmentVariableIsSet("DISPLAY"));
        m_pb = new X11Pasteboard(this);
    }

    void cleanup()
    {
        m_owner.reset();
        if (QGuiApplication::clipboard()->ownsClipboard())
            QGuiApplication::clipboard()->clear();
        // The next test must start from an empty clipboard, not from the departure of this
        // test's owner arriving late.
        QTRY_COMPARE_WITH_TIMEOUT(clipboardOwner(), xcb_window_t(XCB_WINDOW_NONE), timeoutMs);
        m_pb->changeCount();
        QTest::qWait(0);
    }

    // --- the type map, on plain data ---

    void readItems_data()
    {
        QTest::addColumn<QStringList>("targets");
        QTest::addColumn<Offer>("offer");
        QTest::addColumn<ItemList>("expected");

        const QByteArray cafe = QStringLiteral("caf\u00e9").toUtf8();
        QTest::newRow("utf8 preferred over latin1")
            << QStringList{"TARGETS", "STRING", "UTF8_STRING"}
            << Offer{{"STRING", "latin"}, {"UTF8_STRING", cafe}}
            << ItemList{{{Uti::plainText, cafe}}};
        // GTK converts its MIME text targets to \r\n line ends; UTF8_STRING has the text as is.
        QTest::newRow("UTF8_STRING preferred over MIME text")
            << QStringList{"text/plain;charset=utf-8", "UTF8_STRING"}
            << Offer{{"text/plain;charset=utf-8", "a\r\nb"}, {"UTF8_STRING", "a\nb"}}
            << ItemList{{{Uti::plainText, "a\nb"}}};
        QTest::newRow("latin1 converted") << QStringList{"STRING"} << Offer{{"STRING", "caf\xe9"}}
                                          << ItemList{{{Uti::plainText, cafe}}};
        QTest::newRow("charset parameter")
            << QStringList{"text/plain;charset=utf-8"} << Offer{{"text/plain;charset=utf-8", cafe}}
            << ItemList{{{Uti::plainText, cafe}}};
        QTest::newRow("refused text falls back")
            << QStringList{"UTF8_STRING", "TEXT"} << Offer{{"TEXT", QByteArray("plain\0", 6)}}
            << ItemList{{{Uti::plainText, "plain"}}};
        QTest::newRow("order of targets kept")
            << QStringList{"text/html", "UTF8_STRING", "application/rtf"}
            << Offer{{"text/html", "<b>x</b>"},
                     {"UTF8_STRING", "x"},
                     {"application/rtf", "{\\rtf1}"}}
            << ItemList{{{Uti::html, "<b>x</b>"}, {Uti::plainText, "x"}, {Uti::rtf, "{\\rtf1}"}}};
        QTest::newRow("one item per file")
            << QStringList{"text/uri-list", "UTF8_STRING"}
            << Offer{{"text/uri-list", "# c\r\nfile:///a\r\nfile:///b\r\n"}, {"UTF8_STRING", "a b"}}
            << ItemList{{{Uti::fileUrl, "file:///a"}, {Uti::plainText, "a b"}},
                        {{Uti::fileUrl, "file:///b"}}};
        QTest::newRow("web uri in a file list")
            << QStringList{"text/uri-list"} << Offer{{"text/uri-list", "file:///a\nhttps://x.org/"}}
            << ItemList{{{Uti::fileUrl, "file:///a"}}, {{Uti::url, "https://x.org/"}}};
        const QString moz = QStringLiteral("https://x.org/\nX \u00e9");
        const ItemList link{{{Uti::url, "https://x.org/"}, {Uti::urlName, "X \u00e9"}}};
        QTest::newRow("moz-url utf16 bom") << QStringList{"text/x-moz-url"}
                                           << Offer{{"text/x-moz-url", utf16le(moz, true)}} << link;
        QTest::newRow("moz-url utf16 no bom")
            << QStringList{"text/x-moz-url"} << Offer{{"text/x-moz-url", utf16le(moz, false)}}
            << link;
        QTest::newRow("moz-url utf8")
            << QStringList{"text/x-moz-url"} << Offer{{"text/x-moz-url", moz.toUtf8()}} << link;
        QTest::newRow("moz-url of a file ignored")
            << QStringList{"text/uri-list", "text/x-moz-url"}
            << Offer{{"text/uri-list", "file:///a"}, {"text/x-moz-url", utf16le("file:///a", true)}}
            << ItemList{{{Uti::fileUrl, "file:///a"}}};
        QTest::newRow("password hint is concealed")
            << QStringList{"UTF8_STRING", "x-kde-passwordManagerHint"}
            << Offer{{"UTF8_STRING", "pw"}, {"x-kde-passwordManagerHint", "secret"}}
            << ItemList{{{Uti::plainText, "pw"}, {concealedUti, "secret"}}};
        QTest::newRow("nothing wanted")
            << QStringList{"image/bmp"} << Offer{{"image/bmp", "BM"}} << ItemList{};
    }

    void readItems()
    {
        QFETCH(QStringList, targets);
        QFETCH(Offer, offer);
        QFETCH(ItemList, expected);
        MapFetch source;
        for (const auto &[target, data] : offer)
            source.data.insert(QString::fromLatin1(target), data);
        const auto items = X11PasteboardTypes::readItems(
            targets, storable + QStringList{concealedUti, selfMarker}, source.fetch());
        QVERIFY(items);
        QCOMPARE(*items, expected);
    }

    void readItemsFetchesOnlyWhatIsWanted()
    {
        MapFetch source;
        source.data = {{"image/png", "PNG"}, {"UTF8_STRING", "t"}, {"text/html", "h"}};
        const auto items = X11PasteboardTypes::readItems({"image/png", "UTF8_STRING", "text/html"},
                                                         {Uti::plainText}, source.fetch());
        QCOMPARE(source.asked, QStringList{"UTF8_STRING"});
        QCOMPARE(*items, (ItemList{{{Uti::plainText, "t"}}}));
    }

    void offeredTypes_data()
    {
        QTest::addColumn<QStringList>("targets");
        QTest::addColumn<QByteArray>("hint");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("text once, protocol dropped")
            << QStringList{"TIMESTAMP", "TARGETS", "UTF8_STRING", "STRING", "text/html"}
            << QByteArray() << QStringList{Uti::plainText, Uti::html};
        QTest::newRow("other hint") << QStringList{"x-kde-passwordManagerHint"} << QByteArray("no")
                                    << QStringList{passwordHintTarget};
        QTest::newRow("files and links")
            << QStringList{"text/uri-list", "text/x-moz-url", "x-special/gnome-copied-files"}
            << QByteArray() << QStringList{Uti::fileUrl, Uti::url, Uti::urlName, gnomeFilesTarget};
    }

    void offeredTypes()
    {
        QFETCH(QStringList, targets);
        QFETCH(QByteArray, hint);
        QFETCH(QStringList, expected);
        MapFetch source;
        source.data.insert(passwordHintTarget, hint);
        QCOMPARE(X11PasteboardTypes::offeredTypes(targets, source.fetch()).value(), expected);
    }

    void mimeDataForItems()
    {
        const ItemList items{
            {{Uti::plainText, "first"}, {selfMarker, "\x01"}, {Uti::fileUrl, "file:///a"}},
            {{Uti::plainText, "second"}, {Uti::fileUrl, "file:///b"}},
            {{Uti::url, "https://x.org/"}, {Uti::urlName, "X"}}};
        std::unique_ptr<QMimeData> mime(mimeDataFor(items));
        QCOMPARE(mime->text(), QStringLiteral("first"));
        QCOMPARE(mime->data(selfMarker), QByteArray("\x01"));
        // The web link is in the URI list too: many readers take links from nothing else.
        QCOMPARE(mime->data(uriListTarget),
                 QByteArray("file:///a\r\nfile:///b\r\nhttps://x.org/\r\n"));
        const MozUrl link = parseMozUrl(mime->data(mozUrlTarget));
        QCOMPARE(link.url, QStringLiteral("https://x.org/"));
        QCOMPARE(link.title, QStringLiteral("X"));
    }

    // One look at an offer asks for its targets once; a refused offer gives up nothing but
    // the targets and the password hint that decides the refusal.
    void readOfferAsksOnce_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::addColumn<QStringList>("asked");
        QTest::newRow("accepted") << true
                                  << QStringList{"TARGETS", "x-kde-passwordManagerHint",
                                                 "text/html", "UTF8_STRING", selfMarker};
        QTest::newRow("refused") << false << QStringList{"TARGETS", "x-kde-passwordManagerHint"};
    }
    void readOfferAsksOnce()
    {
        QFETCH(bool, accept);
        QFETCH(QStringList, asked);
        QVERIFY(own({{"text/html", "<i>y</i>"},
                     {"UTF8_STRING", "y"},
                     {selfMarker.toUtf8(), "\x01"},
                     {"x-kde-passwordManagerHint", "secret"}}));
        const qsizetype before = m_owner->asked().size();
        QStringList seen;
        const auto offer =
            m_pb->readOffer(storable + QStringList{selfMarker}, [&](const QStringList &types) {
                seen = types;
                return accept;
            });
        QVERIFY(offer);
        QCOMPARE(seen, (QStringList{Uti::html, Uti::plainText, selfMarker, concealedUti}));
        QCOMPARE(offer->types, seen);
        const ItemList all{{{Uti::html, "<i>y</i>"}, {Uti::plainText, "y"}, {selfMarker, "\x01"}}};
        QCOMPARE(offer->items, accept ? all : ItemList());
        static xcb_connection_t *c = xcb_connect(nullptr, nullptr);
        QList<xcb_atom_t> expected;
        for (const QString &name : std::as_const(asked))
            expected.append(X11Raw::intern(c, name.toUtf8()));
        QCOMPARE(m_owner->asked().mid(before), expected);
    }

    void incrementalTransferInSmallChunks()
    {
        QByteArray html(200 * 1024 + 3, 'h');
        for (qsizetype i = 0; i < html.size(); i += 97)
            html[i] = char('a' + i % 26);
        QSignalSpy changed(m_pb, &Pasteboard::changed);
        QVERIFY(own({{"text/html", html}, {"UTF8_STRING", "short"}}, OfferOwner::Answer, 0, 4096));
        QTRY_VERIFY_WITH_TIMEOUT(changed.count() > 0, timeoutMs);
        const auto items = m_pb->read(storable);
        QVERIFY(items);
        QCOMPARE(items->value(0).value(0).uti, Uti::html);
        QVERIFY(items->value(0).value(0).data == html);
        QCOMPARE(items->value(0).value(1), (Flavor{Uti::plainText, "short"}));
    }

    void unresponsiveOwnerIsAbandoned_data()
    {
        QTest::addColumn<int>("behaviour");
        QTest::addColumn<int>("delayMs");
        QTest::newRow("never answers") << int(OfferOwner::Silent) << 0;
        QTest::newRow("dies mid-transfer") << int(OfferOwner::DieMidTransfer) << 0;
        QTest::newRow("slow on every answer") << int(OfferOwner::Answer) << 350;
    }

    // Given up, not waited out: the bound only tells a read that hung from one that kept to
    // its budget, whatever the load.
    void unresponsiveOwnerIsAbandoned()
    {
        QFETCH(int, behaviour);
        QFETCH(int, delayMs);
        Offer offer;
        for (const char *target : {"text/html", "UTF8_STRING", "text/rtf", "image/png",
                                   "image/jpeg", "image/tiff", "text/uri-list"})
            offer.append({target, QByteArray(20000, 'x')});
        QVERIFY(own(offer, OfferOwner::Behaviour(behaviour), delayMs, 1000));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!m_pb->read(storable));
        QVERIFY2(timer.elapsed() < 10 * X11Pasteboard::readBudgetMs,
                 qPrintable(QString::number(timer.elapsed())));
    }

    // Written offers as other clients read them, and back; also right after another client
    // took the clipboard, when Qt has not handled the new owner's event yet and its first
    // claim carries a stale time.
    void writes_data()
    {
        QTest::addColumn<bool>("afterAnotherOwner");
        QTest::addColumn<ItemList>("items");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("theySee");
        const QByteArray text = QStringLiteral("pasted \u00e9").toUtf8();
        const ItemList marked{{{Uti::plainText, text}, {selfMarker, "\x01"}}};
        QTest::newRow("text") << false << marked << "UTF8_STRING" << text;
        QTest::newRow("after another owner")
            << true << ItemList{{{Uti::plainText, "ours"}}} << "UTF8_STRING" << QByteArray("ours");
        QTest::newRow("files for file managers")
            << false << ItemList{{{Uti::fileUrl, "file:///a"}}, {{Uti::fileUrl, "file:///b"}}}
            << gnomeFilesTarget << QByteArray("copy\nfile:///a\nfile:///b");
        QTest::newRow("links for every reader")
            << false << ItemList{{{Uti::url, "https://x.org/"}, {Uti::urlName, "X"}}}
            << uriListTarget << QByteArray("https://x.org/\r\n");
    }

    void writes()
    {
        QFETCH(bool, afterAnotherOwner);
        QFETCH(ItemList, items);
        QFETCH(QString, target);
        QFETCH(QByteArray, theySee);
        if (afterAnotherOwner)
            QVERIFY(own({{"UTF8_STRING", "theirs"}}));
        const qint64 before = m_pb->changeCount();
        QVERIFY(m_pb->write(items));
        QTRY_VERIFY_WITH_TIMEOUT(m_pb->changeCount() != before, timeoutMs);
        QCOMPARE(X11Clients::run(u"xclip"_qs,
                                 {u"-o"_qs, u"-selection"_qs, u"clipboard"_qs, u"-t"_qs, target}),
                 theySee);
        QCOMPARE(m_pb->read(storable + QStringList{selfMarker}).value(), items);
    }

    // A real GTK application: its MIME text targets carry \r\n line ends it never had.
    void gtkTextKeepsItsLineEnds()
    {
        QProcess gtk;
        gtk.start(
            u"/usr/bin/python3"_qs,
            {u"-c"_qs,
             u"import gi; gi.require_version('Gtk', '3.0'); from gi.repository import Gtk, Gdk\n"
             "Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD).set_text('one\\ntwo', -1); Gtk.main()"_qs});
        const auto stop = qScopeGuard([&gtk] { gtk.kill(), gtk.waitForFinished(); });
        QTRY_VERIFY_WITH_TIMEOUT(clipboardOwner() != XCB_WINDOW_NONE, timeoutMs);
        QCOMPARE(m_pb->read({Uti::plainText}).value(), (ItemList{{{Uti::plainText, "one\ntwo"}}}));
    }

    // The text without the image would be a different copy from the one the user made.
    void oversizedFormatDropsTheWholeCopy()
    {
        QVERIFY(own({{"UTF8_STRING", "small"},
                     {"image/png", QByteArray(Flavors::maxCaptureBytes + 1, 'x')}},
                    OfferOwner::Answer, 0, 1 << 20));
        QVERIFY(!m_pb->read(storable));
    }
};
ULVANE_X11_TEST_MAIN(TestX11Pasteboard)
#include "test_x11_pasteboard.moc"
