// The real ulvane binary against clipboard owners that misbehave on purpose: one that offers
// 10 000 targets, and two that send 100 MiB (incrementally, and as one huge property). While each
// owns the clipboard the picker must still open on its hot key, memory must stay bounded, and an
// ordinary copy afterwards must be captured.
#include "TestMain.h"
#include "X11Clients.h"
#include "X11RawOwner.h"

#include "platform/x11/X11Workspace.h"
#include "store/Store.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <functional>
#include <memory>

using namespace X11Clients;
using namespace X11Raw;

namespace {

constexpr qint64 mebibyte = 1024 * 1024;
constexpr qint64 hugeBytes = 100 * mebibyte;
// Hot key to picker is reported, not held to a figure: the bar only tells a picker that hung
// from one that answered. An idle machine shows 70 to 110 ms (xdotool's own start included),
// one with both cores busy up to about a second: ten times that.
constexpr qint64 pickerHangBarMs = 10000;
// Appending 100 MiB took the X server 2 s on an idle machine and 9 s on a loaded one.
constexpr int serverSettleTimeoutMs = 60000;
const QByteArray manyTargetsText = "offered among ten thousand targets";

qint64 statusKiB(qint64 pid, const QByteArray &field)
{
    QFile status(u"/proc/%1/status"_qs.arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace

class TestHostileOwnersE2E : public QObject
{
    Q_OBJECT

    QProcess m_app;
    QByteArray m_log;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<X11Workspace> m_workspace;
    TargetWindow m_editor; // where the user is when they press the hot key
    QStringList m_figures;
    // The picker's window, found once while the server is idle, then watched over a connection
    // of the test's own: while the server takes in 100 MiB a new client (an xdotool search)
    // waits seconds just to connect, and the figure would be the probe's.
    xcb_connection_t *m_x = xcb_connect(nullptr, nullptr);
    quint64 m_picker = 0;

    bool logged(const QByteArray &line)
    {
        m_log += m_app.readAllStandardError();
        return m_log.contains(line);
    }

    bool stored(const QString &text)
    {
        const QList<Clip> clips = m_store->search(QString(), ClipFilter::All, 5);
        return !clips.isEmpty() && clips.first().excerpt == text;
    }

    bool pickerVisible()
    {
        if (!m_picker)
            return (m_picker = visibleWindow(m_app.processId(), u"Clipboard"_qs)) != 0;
        Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
            m_x, xcb_get_window_attributes(m_x, xcb_window_t(m_picker)), nullptr));
        return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    }

    // Hot key to viewable picker window, in milliseconds, timed from launching the key
    // client (so it includes xdotool's own start); the picker is closed again afterwards.
    qint64 openPicker()
    {
        if (pickerVisible())
            return -1;
        m_workspace->activateWindow(m_editor.winId());
        if (!QTest::qWaitFor([&] { return m_workspace->activeWindow() == m_editor.winId(); },
                             timeoutMs)) {
            qWarning("the editor window could not be activated");
            return -1;
        }
        QElapsedTimer clock;
        clock.start();
        QProcess::startDetached(u"xdotool"_qs, {u"key"_qs, u"super+alt+v"_qs});
        if (!QTest::qWaitFor([&] { return pickerVisible(); }, timeoutMs)) {
            qWarning("the picker did not appear");
            return -1;
        }
        const qint64 elapsed = clock.elapsed();
        // Keys reach the picker once the window manager has made it the active window.
        if (!QTest::qWaitFor([&] { return m_workspace->activeWindow() == m_picker; }, timeoutMs))
            qWarning("the picker did not take the keyboard");
        // The window manager may make the picker active a moment before Qt has moved the
        // keyboard into it; an Escape that fell into that gap is pressed again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            key(u"Escape"_qs);
            if (QTest::qWaitFor([&] { return !pickerVisible(); }, 5000))
                return elapsed;
        }
        qWarning("the picker did not close on Escape");
        return -1;
    }

    // The picker opens both while the owner's offer is being read and once the read has given
    // up; afterwards an ordinary copy is captured again.
    void holdTheClipboard(const QString &name, const std::function<bool()> &readFinished,
                          const OfferOwner::Offer &offer,
                          OfferOwner::Behaviour behaviour = OfferOwner::Answer, int chunk = 0,
                          qint64 *sent = nullptr)
    {
        {
            OfferOwner owner(offer, behaviour, 0, chunk);
            QVERIFY(owner.claim());
            const qint64 during = openPicker();
            QTRY_VERIFY_WITH_TIMEOUT(readFinished(), timeoutMs);
            QVERIFY(!owner.asked().isEmpty());
            // The figure after the read is the app's own once the server is done with the
            // owner's answer; before that every client waits for the server.
            QTRY_VERIFY_WITH_TIMEOUT(!owner.answering(), serverSettleTimeoutMs);
            const qint64 after = openPicker();
            m_figures
                << u"%1: picker %2 ms while reading, %3 ms after"_qs.arg(name).arg(during).arg(
                       after);
            QVERIFY2(during >= 0 && during <= pickerHangBarMs, qPrintable(m_figures.last()));
            QVERIFY2(after >= 0 && after <= pickerHangBarMs, qPrintable(m_figures.last()));
            if (sent)
                *sent = owner.bytesSent();
        }

        const QString text = u"ordinary copy after the %1 owner"_qs.arg(name);
        run(u"xclip"_qs, {u"-selection"_qs, u"clipboard"_qs, u"-t"_qs, u"UTF8_STRING"_qs},
            text.toUtf8());
        QTRY_VERIFY_WITH_TIMEOUT(stored(text), timeoutMs);
    }

    // 100 MiB of text, incrementally or as one property.
    void hugeOffer(const QString &name, OfferOwner::Behaviour behaviour)
    {
        const bool incremental = behaviour == OfferOwner::AnnounceOneChunk;
        const qint64 pid = m_app.processId();
        const qint64 rssBefore = statusKiB(pid, "VmRSS");
        const qint64 peakBefore = statusKiB(pid, "VmHWM");
        const qint64 rows = m_store->count();
        m_log.clear();
        qint64 sent = 0;
        // Building 100 MiB in the server takes the owner longer than the 500 ms a step may last
        // (two seconds and more): its answer mostly comes too late and is abandoned, which
        // bounds memory just as well. An incremental transfer answers at once and must be refused.
        holdTheClipboard(
            name,
            [&] {
                return logged("[Pasteboard] refused UTF8_STRING") ||
                       (!incremental && logged("did not answer for UTF8_STRING"));
            },
            {{"UTF8_STRING", QByteArray(hugeBytes, 'h')}}, behaviour,
            incremental ? int(mebibyte) : 0, &sent);
        if (QTest::currentTestFailed())
            return;
        if (incremental)
            QVERIFY(!m_log.contains("did not answer"));
        // The ordinary copy is the only new row: nothing of the 100 MiB was kept.
        QCOMPARE(m_store->count(), rows + 1);
        const qint64 peak = statusKiB(pid, "VmHWM");
        const qint64 rssAfter = statusKiB(pid, "VmRSS");
        m_figures << u"%1: RSS %2 MiB before, %3 MiB after, peak %4 MiB (was %5)"_qs.arg(name)
                         .arg(rssBefore / 1024)
                         .arg(rssAfter / 1024)
                         .arg(peak / 1024)
                         .arg(peakBefore / 1024);
        // Holding the whole offer would lift the peak by 100 MiB at least. Incrementally, up to
        // the 25 MiB bound is read before the offer is known to be too large (with the buffer's
        // growth, some 30 MiB); one property is refused by its size alone, before a byte of it
        // is fetched, so even the first 25 MiB of it would show. What the allocator keeps after
        // the read (up to some 30 MiB) is no leak; the whole offer kept would be.
        QVERIFY2(peak - rssBefore < (incremental ? 80 : 16) * 1024, qPrintable(m_figures.last()));
        QVERIFY2(rssAfter - rssBefore < 64 * 1024, qPrintable(m_figures.last()));
        // Sent incrementally, the transfer was broken off well before its end.
        if (incremental)
            QVERIFY2(sent < hugeBytes / 2, qPrintable(QString::number(sent)));
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_workspace = std::make_unique<X11Workspace>();
        m_editor.setTitle(u"editor"_qs);
        m_editor.resize(400, 240);
        m_editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_editor));
        m_app.start(QStringLiteral(ULVANE_BINARY), {});
        QVERIFY(m_app.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(logged("[App] launched"), 20000);
        m_store = std::make_unique<Store>(qEnvironmentVariable("XDG_DATA_HOME") + u"/Vesk"_qs);
        // The picker's first opening builds its window; time the later ones only.
        QVERIFY(openPicker() >= 0);
    }

    void cleanupTestCase()
    {
        for (const QString &figure : std::as_const(m_figures))
            qInfo("%s", qPrintable(figure));
        m_app.terminate();
        if (!m_app.waitForFinished(5000))
            m_app.kill();
        xcb_disconnect(m_x);
    }

    void ownerWithTenThousandTargets()
    {
        OfferOwner::Offer offer;
        for (int i = 0; i < 9998; ++i)
            offer.append({"application/x-hostile-" + QByteArray::number(i), {}});
        offer.append({"UTF8_STRING", manyTargetsText}); // last: every name before it is looked at
        // The one usable type among them is still found and kept.
        holdTheClipboard(
            u"10 000 targets"_qs, [&] { return stored(QString::fromLatin1(manyTargetsText)); },
            offer);
    }

    // Before the incremental one, whose reading lifts the peak this one must not move.
    void ownerSendingHundredMiBInOneProperty()
    {
        hugeOffer(u"100 MiB property"_qs, OfferOwner::AppendOneProperty);
    }

    void ownerSendingHundredMiBIncrementally()
    {
        hugeOffer(u"100 MiB INCR"_qs, OfferOwner::AnnounceOneChunk);
    }

    // Capture runs on change announcements alone, with no poll to catch up: each of a run of
    // copies, every one from a new owner as when copying in several applications in turn, is
    // stored.
    void everyCopyOfARunIsStored()
    {
        const qint64 rows = m_store->count();
        for (int i = 0; i < 200; ++i) {
            const QByteArray text = "copy " + QByteArray::number(i) + " of a run";
            OfferOwner owner({{"UTF8_STRING", text}});
            QVERIFY(owner.claim());
            QTRY_VERIFY_WITH_TIMEOUT(stored(QString::fromUtf8(text)), timeoutMs);
        }
        QCOMPARE(m_store->count(), rows + 200);
    }

    void theClipboardConnectionSurvived()
    {
        QCOMPARE(m_app.state(), QProcess::Running);
        QVERIFY(!logged("X connection lost"));
    }
};

ULVANE_X11_TEST_MAIN(TestHostileOwnersE2E)
#include "test_hostile_owners_e2e.moc"
