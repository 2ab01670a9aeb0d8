#include "FakePlatform.h"
#include "HotKeyPrefs.h"
#include "StderrCapture.h"
#include "TestMain.h"

#include "platform/x11/X11HotKeyRegistrar.h"
#include "prefs/HotKeys.h"
#include "prefs/Prefs.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace {

const QString optCmdV = QStringLiteral("\u2325\u2318V");
const QString ctrlOptV = QStringLiteral("\u2303\u2325V");
const QString ctrlOptCmdV = QStringLiteral("\u2303\u2325\u2318V");
const QString ctrlOptP = QStringLiteral("\u2303\u2325P");
const QString ctrlOptX = QStringLiteral("\u2303\u2325X");
const QString off = QStringLiteral("Off");

constexpr int BadAccess = 10;

// Another X client, to hold combinations before the registrar asks for them.
class OtherClient
{
public:
    OtherClient()
        : m_connection(xcb_connect(nullptr, nullptr)),
          m_symbols(xcb_key_symbols_alloc(m_connection))
    {}
    ~OtherClient()
    {
        xcb_key_symbols_free(m_symbols);
        xcb_disconnect(m_connection);
    }

    // Grabs V with the given modifiers; the X error code, 0 on success.
    int grabV(quint16 modifiers)
    {
        xcb_keycode_t *codes = xcb_key_symbols_get_keycode(m_symbols, 'v');
        const xcb_keycode_t code = codes ? codes[0] : 0;
        free(codes);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        xcb_generic_error_t *error = xcb_request_check(
            m_connection, xcb_grab_key_checked(m_connection, 1, root, modifiers, code,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        const int status = error ? error->error_code : 0;
        free(error);
        return status;
    }

private:
    xcb_connection_t *m_connection;
    xcb_key_symbols_t *m_symbols;
};

const quint16 superAlt = XCB_MOD_MASK_4 | XCB_MOD_MASK_1;
const QKeyCombination superAltV(Qt::MetaModifier | Qt::AltModifier, Qt::Key_V);
const QKeyCombination ctrlAltV(Qt::ControlModifier | Qt::AltModifier, Qt::Key_V);

// The number the register log line shows for a combination already held.
constexpr int loggedAlreadyHeld = -9878;

bool xdotoolKey(const QString &keys)
{
    return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}) == 0;
}

using HotKeyPrefs::hotKeyLines;
using HotKeyPrefs::setLabels;

QString failed(const QString &label, int status)
{
    return QStringLiteral("[HotKeys] register failed for %1 (status %2)").arg(label).arg(status);
}

QString bound(const QString &label)
{
    return QStringLiteral("[HotKeys] show-panel bound to ") + label;
}

} // namespace

class TestHotKeys : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Both directions of the label syntax; what is no label is the fuzz corpus's (shown as it
    // stands, never read back as another label).
    void labels_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("keys");
        QTest::addColumn<QString>("shown");
        const auto keys = [](Qt::KeyboardModifiers mods, Qt::Key key) {
            return QKeyCombination(mods, key).toCombined();
        };
        const Qt::KeyboardModifiers super = Qt::MetaModifier;
        const Qt::KeyboardModifiers alt = Qt::AltModifier;
        const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
        const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
        QTest::newRow("opt-cmd") << optCmdV << keys(alt | super, Qt::Key_V)
                                 << QStringLiteral("Super+Alt+V");
        QTest::newRow("all four") << QStringLiteral("\u2303\u2325\u21E7\u2318X")
                                  << keys(ctrl | alt | shift | super, Qt::Key_X)
                                  << QStringLiteral("Ctrl+Alt+Shift+Super+X");
        QTest::newRow("last letter")
            << QStringLiteral("\u2318Z") << keys(super, Qt::Key_Z) << QStringLiteral("Super+Z");
        QTest::newRow("digit 9") << QStringLiteral("\u23039") << keys(ctrl, Qt::Key_9)
                                 << QStringLiteral("Ctrl+9");
    }
    void labels()
    {
        QFETCH(QString, label);
        QFETCH(int, keys);
        QFETCH(QString, shown);
        QCOMPARE(HotKeys::parseLabel(label).value_or(QKeyCombination()).toCombined(), keys);
        QCOMPARE(HotKeys::label(QKeyCombination::fromCombined(keys)), label);
        QCOMPARE(HotKeys::displayLabel(label), shown);
    }

    // Combinations a label cannot say have none, so they are never stored.
    void combinationsWithoutLabel_data()
    {
        QTest::addColumn<int>("keys");
        QTest::newRow("no modifier") << QKeyCombination(Qt::Key_V).toCombined();
        QTest::newRow("function key")
            << QKeyCombination(Qt::ControlModifier, Qt::Key_F1).toCombined();
        QTest::newRow("keypad digit")
            << QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_1).toCombined();
    }
    void combinationsWithoutLabel()
    {
        QFETCH(int, keys);
        QCOMPARE(HotKeys::label(QKeyCombination::fromCombined(keys)), QString());
    }

    void bindAll_data()
    {
        QTest::addColumn<QStringList>("labels"); // show, serial-next, plain mode, pause
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QStringList>("bound"); // in id order
        QTest::addColumn<QString>("active");
        QTest::addColumn<QStringList>("log");

        const int taken = FakeHotKeyRegistrar::TakenError;
        const int held = loggedAlreadyHeld;

        QTest::newRow("default") << QStringList{optCmdV, off, off, off} << QStringList{}
                                 << QStringList{optCmdV} << optCmdV << QStringList{bound(optCmdV)};
        QTest::newRow("preferred fallback not tried twice")
            << QStringList{ctrlOptV, off, off, off} << QStringList{ctrlOptV} << QStringList{optCmdV}
            << optCmdV << QStringList{failed(ctrlOptV, taken), bound(optCmdV)};
        QTest::newRow("everything taken")
            << QStringList{optCmdV, ctrlOptP, off, off}
            << QStringList{optCmdV, ctrlOptV, ctrlOptCmdV} << QStringList{ctrlOptP} << off
            << QStringList{failed(optCmdV, taken), failed(ctrlOptV, taken),
                           failed(ctrlOptCmdV, taken), bound(off)};
        QTest::newRow("show off, optional keys still bound")
            << QStringList{off, ctrlOptP, off, ctrlOptX} << QStringList{}
            << QStringList{ctrlOptP, ctrlOptX} << off << QStringList{bound(off)};
        QTest::newRow("unknown label skipped silently")
            << QStringList{QStringLiteral("Hyper+V"), QStringLiteral("junk"), off, off}
            << QStringList{} << QStringList{optCmdV} << optCmdV << QStringList{bound(optCmdV)};
        QTest::newRow("fallback lands on an optional key's preset")
            << QStringList{optCmdV, off, ctrlOptV, off} << QStringList{optCmdV}
            << QStringList{ctrlOptV} << ctrlOptV
            << QStringList{failed(optCmdV, taken), bound(ctrlOptV), failed(ctrlOptV, held)};
    }
    // Bound twice: the second run must start from nothing, or its own grabs would collide with
    // the first run's and its ids would not start at 1.
    void bindAll()
    {
        QFETCH(QStringList, labels);
        QFETCH(QStringList, taken);
        QFETCH(QStringList, bound);
        QFETCH(QString, active);
        QFETCH(QStringList, log);

        setLabels(labels);
        FakeHotKeyRegistrar registrar;
        registrar.taken = QSet<QString>(taken.cbegin(), taken.cend());
        HotKeyCenter center(registrar);
        center.bindAll();
        StderrCapture capture;
        center.bindAll();
        QCOMPARE(hotKeyLines(capture.text()), log);

        QStringList boundLabels;
        for (const HotKeyCenter::Binding &binding : center.bindings()) {
            QCOMPARE(binding.id, quint32(boundLabels.size() + 1));
            boundLabels.append(binding.label);
        }
        QCOMPARE(boundLabels, bound);
        QCOMPARE(registrar.held.size(), bound.size());
        QCOMPARE(Prefs::activeHotkeyLabel(), active);
    }

    void pressesRunTheirActions()
    {
        setLabels({optCmdV, ctrlOptP, ctrlOptCmdV, ctrlOptX});
        Prefs &prefs = Prefs::shared();
        prefs.setPlainTextMode(false);
        prefs.setPaused(false);
        FakeHotKeyRegistrar registrar;
        HotKeyCenter center(registrar);
        center.bindAll();

        // Actions given after binding still reach the shortcuts already bound.
        int toggles = 0;
        int nexts = 0;
        center.setActions({[&toggles] { ++toggles; }, [&nexts] { ++nexts; }});

        registrar.press(optCmdV);
        registrar.press(optCmdV);
        QCOMPARE(toggles, 2);
        registrar.press(ctrlOptP);
        QCOMPARE(nexts, 1);
        registrar.press(ctrlOptCmdV);
        QVERIFY(prefs.plainTextMode());
        registrar.press(ctrlOptX);
        QVERIFY(prefs.paused());
        registrar.press(ctrlOptX);
        QVERIFY(!prefs.paused());
        QCOMPARE(toggles, 2);

        // A press that arrives after its shortcut was dropped does nothing.
        const quint32 stale = registrar.held.value(optCmdV);
        center.unregisterAll();
        QVERIFY(registrar.held.isEmpty());
        QVERIFY(center.bindings().isEmpty());
        Q_EMIT registrar.pressed(stale);
        QCOMPARE(toggles + nexts, 3);
    }

    // NumLock's modifier is looked up in the keymap, unlike CapsLock's.
    void x11PressFiresWithNumLockOn()
    {
        X11HotKeyRegistrar registrar;
        QVERIFY(registrar.isConnected());
        const HotKeyRegistrar::Grab grab = registrar.grab(superAltV);
        QVERIFY2(grab.granted(), qPrintable(QString::number(int(grab.status))));
        const quint32 handle = grab.handle;
        QSignalSpy spy(&registrar, &HotKeyRegistrar::pressed);

        QVERIFY(xdotoolKey(QStringLiteral("Num_Lock")));
        const auto unlock = qScopeGuard([] { xdotoolKey(QStringLiteral("Num_Lock")); });
        // The second real press must not be mistaken for auto-repeat.
        for (int presses = 1; presses <= 2; ++presses) {
            QVERIFY(xdotoolKey(QStringLiteral("super+alt+v")));
            QTRY_COMPARE_WITH_TIMEOUT(spy.count(), presses, 30000);
            QCOMPARE(spy.last().at(0).value<quint32>(), handle);
        }
    }

    void x11PartialGrabIsUndone()
    {
        // The other client holds only the CapsLock variant, so the plain one is granted first.
        OtherClient other;
        QCOMPARE(other.grabV(superAlt | XCB_MOD_MASK_LOCK), 0);

        X11HotKeyRegistrar registrar;
        const HotKeyRegistrar::Grab grab = registrar.grab(superAltV);
        QVERIFY(!grab.granted());
        QCOMPARE(grab.status, HotKeyRegistrar::GrabStatus::Refused);
        QCOMPARE(grab.serverError, BadAccess);
        QCOMPARE(OtherClient().grabV(superAlt), 0);
    }

    void x11ReleaseFreesTheKey()
    {
        X11HotKeyRegistrar registrar;
        const quint32 handle = registrar.grab(ctrlAltV).handle;
        QVERIFY(handle != 0);
        QCOMPARE(registrar.grab(ctrlAltV).status, HotKeyRegistrar::GrabStatus::AlreadyHeld);

        OtherClient other;
        const quint16 ctrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
        QCOMPARE(other.grabV(ctrlAlt), BadAccess);
        registrar.release(handle);
        QCOMPARE(other.grabV(ctrlAlt), 0);
        QCOMPARE(other.grabV(ctrlAlt | XCB_MOD_MASK_LOCK), 0);
    }

    // Without a display every grab is refused: bindAll's "everything taken" then holds.
    void noDisplayRefusesEveryGrab()
    {
        X11HotKeyRegistrar registrar(QByteArrayLiteral(":4095"));
        QVERIFY(!registrar.isConnected());
        QCOMPARE(registrar.grab(ctrlAltV).status, HotKeyRegistrar::GrabStatus::NoDisplay);
    }
};

ULVANE_X11_TEST_MAIN(TestHotKeys)
#include "test_hotkeys.moc"
