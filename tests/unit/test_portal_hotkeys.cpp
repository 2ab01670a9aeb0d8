#include "HotKeyPrefs.h"
#include "PrivateBus.h"
#include "ShortcutsPortalStandIn.h"
#include "StderrCapture.h"
#include "TestMain.h"

#include "platform/xdg/PortalHotKeyRegistrar.h"
#include "prefs/HotKeys.h"
#include "prefs/Prefs.h"

#include <QDBusConnection>
#include <QFile>
#include <QSignalSpy>

namespace {

const QString optCmdV = QStringLiteral("\u2325\u2318V");
const QString ctrlOptV = QStringLiteral("\u2303\u2325V");
const QString ctrlOptCmdV = QStringLiteral("\u2303\u2325\u2318V");
const QString ctrlOptP = QStringLiteral("\u2303\u2325P");
const QString ctrlOptX = QStringLiteral("\u2303\u2325X");
const QString off = QStringLiteral("Off");

const QString absentLine = QStringLiteral(
    "[HotKeys] no GlobalShortcuts portal in this session: global hot keys are off; bind a "
    "desktop shortcut to `ulvane --show`");

constexpr int answerMs = 10000;

using HotKeyPrefs::hotKeyLines;
using HotKeyPrefs::setLabels;

QString bound(const QString &label)
{
    return QStringLiteral("[HotKeys] show-panel bound to ") + label;
}

QString unassigned(const QString &label)
{
    return QStringLiteral("[HotKeys] the desktop assigned no keys to ") + label;
}

// A private bus per case, the client's own connection to it, and the center on top.
struct Rig
{
    PrivateBus daemon;
    QDBusConnection client;
    PortalHotKeyRegistrar registrar;
    HotKeyCenter center;

    Rig()
        : daemon(QStringLiteral("unix:path=%1/bus").arg(TestEnv::home().path())),
          client(QDBusConnection::connectToBus(daemon.address(), QStringLiteral("client"))),
          registrar(client), center(registrar)
    {}
    ~Rig() { QDBusConnection::disconnectFromBus(QStringLiteral("client")); }

    // Until the desktop has answered for the show-panel key.
    bool settles()
    {
        return QTest::qWaitFor([this] { return !center.awaitingDesktop(); }, answerMs);
    }
};

} // namespace

class TestPortalHotKeys : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bindsThroughThePortal_data()
    {
        QTest::addColumn<QStringList>("labels"); // show, serial-next, plain mode, pause
        QTest::addColumn<QStringList>("taken");  // triggers another application holds
        QTest::addColumn<QString>("active");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<int>("binds");
        QTest::addColumn<QString>("showTrigger"); // the show-panel key asked for last

        QTest::newRow("preferred assigned, one request for all")
            << QStringList{ctrlOptV, ctrlOptP, off, ctrlOptX} << QStringList{} << ctrlOptV
            << QStringList{bound(ctrlOptV)} << 1 << QStringLiteral("CTRL+ALT+v");
        QTest::newRow("preferred taken: the chain, preferred not tried twice")
            << QStringList{ctrlOptV, off, off, off} << QStringList{QStringLiteral("CTRL+ALT+v")}
            << optCmdV << QStringList{unassigned(ctrlOptV), bound(optCmdV)} << 2
            << QStringLiteral("LOGO+ALT+v");
        QTest::newRow("all taken, optional key kept")
            << QStringList{optCmdV, ctrlOptP, off, off}
            << QStringList{QStringLiteral("LOGO+ALT+v"), QStringLiteral("CTRL+ALT+v"),
                           QStringLiteral("LOGO+CTRL+ALT+v")}
            << off
            << QStringList{unassigned(optCmdV), unassigned(ctrlOptV), unassigned(ctrlOptCmdV),
                           bound(off)}
            << 3 << QStringLiteral("LOGO+CTRL+ALT+v");
    }
    void bindsThroughThePortal()
    {
        QFETCH(QStringList, labels);
        QFETCH(QStringList, taken);
        QFETCH(QString, active);
        QFETCH(QStringList, log);
        QFETCH(int, binds);
        QFETCH(QString, showTrigger);

        setLabels(labels);
        Rig rig;
        ShortcutsPortalStandIn portal(rig.daemon.address());
        portal.taken = QSet<QString>(taken.cbegin(), taken.cend());
        StderrCapture capture;
        rig.center.bindAll();
        QVERIFY(rig.settles());
        QCOMPARE(hotKeyLines(capture.text()), log);
        QCOMPARE(Prefs::activeHotkeyLabel(), active);

        // What the desktop was asked for last, and the keys the center holds: the show-panel
        // shortcut stays registered without keys when the whole chain was refused.
        QMap<QString, QString> wanted{{QStringLiteral("show-panel"), showTrigger}};
        if (labels[1] != off)
            wanted.insert(QStringLiteral("serial-next"), QStringLiteral("CTRL+ALT+p"));
        if (labels[3] != off)
            wanted.insert(QStringLiteral("pause"), QStringLiteral("CTRL+ALT+x"));
        QMap<QString, QString> assigned = wanted;
        if (active == off)
            assigned[QStringLiteral("show-panel")] = QString();
        const auto held = [&rig] {
            QMap<QString, QString> keys;
            for (const HotKeyCenter::Binding &binding : rig.center.bindings())
                keys.insert(binding.purposeId, binding.assignedKeys);
            return keys;
        };
        QTRY_COMPARE_WITH_TIMEOUT(portal.preferred, wanted, answerMs);
        QTRY_COMPARE_WITH_TIMEOUT(held(), assigned, answerMs);
        // One request per round, each replacing the session before.
        QCOMPARE(portal.sessionsCreated, binds);
        QTRY_COMPARE_WITH_TIMEOUT(portal.sessionsClosed, binds - 1, answerMs);

        // Keys given in the desktop's settings fire the picker, whatever the first answer.
        int toggles = 0;
        rig.center.setActions({[&toggles] { ++toggles; }, {}});
        portal.reassign(QStringLiteral("show-panel"), QStringLiteral("Meta+C"));
        portal.activate(QStringLiteral("show-panel"));
        QTRY_COMPARE_WITH_TIMEOUT(toggles, 1, answerMs);
    }

    void activationRunsTheAction()
    {
        setLabels({optCmdV, ctrlOptP, off, ctrlOptX});
        Prefs::shared().setPaused(false);
        Rig rig;
        ShortcutsPortalStandIn portal(rig.daemon.address());
        int toggles = 0;
        int nexts = 0;
        rig.center.setActions({[&toggles] { ++toggles; }, [&nexts] { ++nexts; }});
        rig.center.bindAll();
        QVERIFY(rig.settles());

        portal.activate(QStringLiteral("show-panel"));
        QTRY_COMPARE_WITH_TIMEOUT(toggles, 1, answerMs);
        portal.activate(QStringLiteral("serial-next"));
        QTRY_COMPARE_WITH_TIMEOUT(nexts, 1, answerMs);
        portal.activate(QStringLiteral("pause"));
        QTRY_VERIFY_WITH_TIMEOUT(Prefs::shared().paused(), answerMs);

        // A rebind after a preference change: the new session's shortcut fires, the old
        // session's (and an id never bound) do not.
        const QString oldSession = portal.session;
        Prefs::shared().setSerialNextHotkeyLabel(off);
        rig.center.bindAll();
        QTRY_VERIFY_WITH_TIMEOUT(portal.session != oldSession, answerMs);
        QVERIFY(rig.settles());
        QVERIFY(!portal.preferred.contains(QStringLiteral("serial-next")));
        portal.activate(QStringLiteral("show-panel"), oldSession);
        portal.activate(QStringLiteral("serial-next"));
        portal.activate(QStringLiteral("plain-mode"));
        portal.activate(QStringLiteral("show-panel"));
        QTRY_COMPARE_WITH_TIMEOUT(toggles, 2, answerMs);
        QCOMPARE(nexts, 1);
        QVERIFY(!Prefs::shared().plainTextMode());

        // Keys changed in the desktop's settings show as the keys in force.
        QSignalSpy changed(&rig.center, &HotKeyCenter::changed);
        portal.reassign(QStringLiteral("show-panel"), QStringLiteral("Meta+Shift+C"));
        QVERIFY(changed.wait(answerMs));
        QCOMPARE(rig.center.bindings().constFirst().assignedKeys, QStringLiteral("Meta+Shift+C"));
    }

    // A session bus with no one offering global shortcuts: said once, however often the keys
    // are bound again, and nothing is bound.
    void missingPortalIsSaidOnce_data()
    {
        QTest::addColumn<bool>("portalObject");
        QTest::newRow("a portal without global shortcuts") << true;
        QTest::newRow("the name owned, no portal object") << false;
    }
    void missingPortalIsSaidOnce()
    {
        QFETCH(bool, portalObject);
        setLabels({optCmdV, ctrlOptP, off, off});
        Rig rig;
        ShortcutsPortalStandIn portal(rig.daemon.address());
        portal.offersShortcuts = false;
        if (!portalObject)
            QDBusConnection(QStringLiteral("portal-stand-in"))
                .unregisterObject(GlobalShortcutsPortal::objectPath);
        StderrCapture capture;
        rig.center.bindAll();
        QTRY_COMPARE_WITH_TIMEOUT(rig.registrar.route(), HotKeyRegistrar::Route::Unavailable,
                                  answerMs);
        Prefs::shared().setShowHotkeyLabel(ctrlOptV);
        rig.center.bindAll();
        QCOMPARE(hotKeyLines(capture.text()), (QStringList{absentLine, bound(off), bound(off)}));
        QCOMPARE(Prefs::activeHotkeyLabel(), off);
        QVERIFY(rig.center.bindings().isEmpty());
    }

    // The real portal frontend, activated on the private bus, with no backend that implements
    // global shortcuts (as on sway): found absent.
    void realFrontendWithoutBackendIsAbsent()
    {
        if (!QFile::exists(QStringLiteral("/usr/libexec/xdg-desktop-portal")))
            QSKIP("xdg-desktop-portal is not installed");
        setLabels({optCmdV, off, off, off});
        Rig rig;
        rig.center.bindAll();
        QTRY_COMPARE_WITH_TIMEOUT(rig.registrar.route(), HotKeyRegistrar::Route::Unavailable,
                                  30000);
        QCOMPARE(Prefs::activeHotkeyLabel(), off);
    }

    // A portal that refuses, or leaves, fails soft: the keys are off without a chain of
    // retries, and a portal that comes back is bound again.
    void refusalAndDepartureFailSoft()
    {
        setLabels({optCmdV, off, off, ctrlOptX});
        Rig rig;
        ShortcutsPortalStandIn portal(rig.daemon.address());
        portal.bindResponse = 2;
        StderrCapture refusal;
        rig.center.bindAll();
        QTRY_COMPARE_WITH_TIMEOUT(Prefs::activeHotkeyLabel(), off, answerMs);
        QCOMPARE(hotKeyLines(refusal.text()),
                 (QStringList{QStringLiteral("[HotKeys] the desktop portal did not bind the "
                                             "shortcuts: response 2"),
                              unassigned(optCmdV), unassigned(ctrlOptX), bound(off)}));
        QCOMPARE(portal.sessionsCreated, 1);

        portal.bindResponse = 0;
        rig.center.bindAll();
        QVERIFY(rig.settles());
        QCOMPARE(Prefs::activeHotkeyLabel(), optCmdV);

        StderrCapture departure;
        portal.leave();
        QTRY_COMPARE_WITH_TIMEOUT(Prefs::activeHotkeyLabel(), off, answerMs);
        QVERIFY(portal.join());
        QTRY_COMPARE_WITH_TIMEOUT(portal.sessionsCreated, 3, answerMs);
        QVERIFY(rig.settles());
        QCOMPARE(Prefs::activeHotkeyLabel(), optCmdV);
        QCOMPARE(
            hotKeyLines(departure.text()),
            (QStringList{QStringLiteral("[HotKeys] the desktop portal left the session bus"),
                         unassigned(optCmdV), unassigned(ctrlOptX), bound(off), bound(optCmdV)}));
    }
};

ULVANE_TEST_MAIN(TestPortalHotKeys)
#include "test_portal_hotkeys.moc"
