#include "PrivateBus.h"
#include "StderrCapture.h"
#include "TestMain.h"
#include "X11KeyRecorder.h"

#include "platform/NoticingKeySynthesizer.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/XWaylandKeySynthesizer.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>

#include <optional>
#include <X11/keysym.h>

namespace {

constexpr int settleMs = 30000;

// Stands in for the desktop's notification service: remembers every notice.
class NotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Notice
    {
        uint replaces = 0;
        QString summary;
        QString body;
    };
    QList<Notice> notices;

public Q_SLOTS:
    uint Notify(const QString &, uint replaces, const QString &, const QString &summary,
                const QString &body, const QStringList &, const QVariantMap &, int)
    {
        notices.append(Notice{replaces, summary, body});
        return 40 + uint(notices.size());
    }
};

// A key synthesizer whose every stroke goes out, or none does.
class FixedKeys : public KeySynthesizer
{
public:
    explicit FixedKeys(bool sends) : m_sends(sends) {}
    bool canSendKeys() const override { return m_sends; }
    void sendPasteKeystroke(PasteKey, std::function<void(bool)> done) override { done(m_sends); }

private:
    bool m_sends;
};

} // namespace

// The paste stroke in a Wayland session without a virtual keyboard: XTEST while an XWayland
// window is in front, else nothing is typed and the user is told which key pastes.
class TestXWaylandKeys : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void strokeReachesTheX11WindowInFront_data()
    {
        QTest::addColumn<PasteKey>("key");
        QTest::addColumn<quint16>("modifiers");
        QTest::newRow("Ctrl+V") << PasteKey::ControlV << quint16(XCB_MOD_MASK_CONTROL);
        QTest::newRow("Ctrl+Shift+V")
            << PasteKey::ControlShiftV << quint16(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT);
    }
    void strokeReachesTheX11WindowInFront()
    {
        QFETCH(PasteKey, key);
        QFETCH(quint16, modifiers);
        X11KeyRecorder window;
        QVERIFY(window.isValid());
        QTRY_VERIFY_WITH_TIMEOUT(window.hasFocus(), settleMs);

        XWaylandKeySynthesizer keys;
        QVERIFY(keys.canSendKeys());
        QVERIFY(keys.x11WindowInFront());
        const std::optional<bool> sent = stroke(keys, key);
        QCOMPARE(sent, std::optional<bool>(true));
        QTRY_COMPARE_WITH_TIMEOUT(vPresses(window).size(), qsizetype(1), settleMs);
        QCOMPARE(vPresses(window).first().state & 0xff, modifiers);
    }

    // The X server's focus is asked at each stroke: a Wayland window in front gets no key
    // (none that XWayland could hand on to a window the user no longer sees).
    void noStrokeWhileAWaylandWindowIsInFront()
    {
        X11KeyRecorder window;
        QTRY_VERIFY_WITH_TIMEOUT(window.hasFocus(), settleMs);
        XWaylandKeySynthesizer keys;

        QProcess terminal;
        terminal.start(QStringLiteral("foot"), {QStringLiteral("sleep"), QStringLiteral("120")});
        QVERIFY(terminal.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!keys.x11WindowInFront(), settleMs);
        QCOMPARE(stroke(keys, PasteKey::ControlV), std::optional<bool>(false));

        // The X11 window back in front takes the next stroke, and that one alone.
        terminal.kill();
        terminal.waitForFinished();
        QTRY_VERIFY_WITH_TIMEOUT(keys.x11WindowInFront() && window.hasFocus(), settleMs);
        QCOMPARE(stroke(keys, PasteKey::ControlV), std::optional<bool>(true));
        QTRY_VERIFY_WITH_TIMEOUT(!vPresses(window).isEmpty(), settleMs);
        // One more round trip, so a stray press from before would be in by now.
        QVERIFY(window.hasFocus());
        QCOMPARE(vPresses(window).size(), qsizetype(1));
    }

    void noticeFollowsAStrokeThatDidNotGoOut_data()
    {
        QTest::addColumn<bool>("sends");
        QTest::addColumn<PasteKey>("key");
        QTest::addColumn<QString>("summary"); // empty: no notice
        QTest::addColumn<QString>("bodyMentions");
        QTest::newRow("sent") << true << PasteKey::ControlV << QString() << QString();
        QTest::newRow("not sent, Ctrl+V")
            << false << PasteKey::ControlV << QStringLiteral("Press Ctrl+V to paste")
            << QStringLiteral("In a terminal, press Ctrl+Shift+V");
        QTest::newRow("not sent, a terminal")
            << false << PasteKey::ControlShiftV << QStringLiteral("Press Ctrl+Shift+V to paste")
            << QStringLiteral("on the clipboard");
    }
    void noticeFollowsAStrokeThatDidNotGoOut()
    {
        QFETCH(bool, sends);
        QFETCH(PasteKey, key);
        QFETCH(QString, summary);
        QFETCH(QString, bodyMentions);
        PrivateBus daemon(QStringLiteral("unix:tmpdir=") + TestEnv::home().path());
        QVERIFY(!daemon.address().isEmpty());
        NotificationService service;
        QDBusConnection serviceBus = connect(daemon, "service");
        QVERIFY(serviceBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                          &service, QDBusConnection::ExportAllSlots));
        QVERIFY(serviceBus.registerService(QStringLiteral("org.freedesktop.Notifications")));

        NoticingKeySynthesizer keys(std::make_unique<FixedKeys>(sends),
                                    std::make_unique<PasteNotice>(connect(daemon, "client")));
        // Every paste is attempted: a refused one ends in the notice, not in silence.
        QVERIFY(keys.canSendKeys());
        QCOMPARE(stroke(keys, key), std::optional<bool>(sends));
        QCOMPARE(stroke(keys, key), std::optional<bool>(sends));
        if (summary.isEmpty()) {
            // A later notice would show whether this one was wrongly sent.
            PasteNotice(connect(daemon, "probe")).show(key);
            QTRY_COMPARE_WITH_TIMEOUT(service.notices.size(), qsizetype(1), settleMs);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(service.notices.size(), qsizetype(2), settleMs);
        QCOMPARE(service.notices[0].summary, summary);
        QVERIFY2(service.notices[0].body.contains(bodyMentions),
                 qPrintable(service.notices[0].body));
        // The second notice takes the place of the first rather than stacking up.
        QCOMPARE(service.notices[0].replaces, 0u);
        QCOMPARE(service.notices[1].replaces, 41u);
    }

    void noticeWithoutAServiceIsLoggedOnce()
    {
        PrivateBus daemon(QStringLiteral("unix:tmpdir=") + TestEnv::home().path());
        StderrCapture log;
        {
            PasteNotice notice(connect(daemon, "lonely"));
            notice.show(PasteKey::ControlV);
            notice.show(PasteKey::ControlV);
            QTest::qWait(0);
            QTRY_VERIFY_WITH_TIMEOUT(notice.findChildren<QObject *>().isEmpty(), settleMs);
        }
        PasteNotice(QDBusConnection(QStringLiteral("never connected"))).show(PasteKey::ControlV);
        const QByteArray text = log.text();
        QCOMPARE(text.count("[Paste] no desktop notification"), 2);
    }

private:
    static QDBusConnection connect(const PrivateBus &daemon, const char *name)
    {
        return QDBusConnection::connectToBus(daemon.address(),
                                             QString::fromLatin1(name) + QTest::currentDataTag());
    }

    static std::optional<bool> stroke(KeySynthesizer &keys, PasteKey key)
    {
        std::optional<bool> result;
        keys.sendPasteKeystroke(key, [&result](bool sent) { result = sent; });
        if (!QTest::qWaitFor([&result] { return result.has_value(); }, settleMs))
            return std::nullopt;
        return result;
    }

    // The presses of the V key; the modifiers around it come as presses of their own.
    static QList<X11KeyRecorder::Press> vPresses(X11KeyRecorder &window)
    {
        X11Connection x;
        const quint8 v = x.keycodeFor(XK_v);
        QList<X11KeyRecorder::Press> found;
        for (const X11KeyRecorder::Press &press : window.presses()) {
            if (press.keycode == v)
                found.append(press);
        }
        return found;
    }
};

int main(int argc, char **argv)
{
    return TestEnv::run<QGuiApplication, TestXWaylandKeys>(argc, argv, false);
}

#include "test_xwayland_keys.moc"
