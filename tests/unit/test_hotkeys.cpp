#include "StderrCapture.h"
#include "TestMain.h"

#include "platform/X11HotKeyRegistrar.h"
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
const QString shiftCmdV = QStringLiteral("\u21E7\u2318V");
const QString ctrlOptP = QStringLiteral("\u2303\u2325P");
const QString ctrlOptX = QStringLiteral("\u2303\u2325X");
const QString off = QStringLiteral("Off");

constexpr int BadAccess = 10;

// Grabs in memory; refuses the labels it is told are taken, and a combination it already
// holds, as a real window system does.
class FakeRegistrar : public HotKeyRegistrar
{
public:
    static constexpr int TakenStatus = -42;

    QSet<QString> taken;
    QHash<quint32, Combo> held;

    quint32 grab(quint32 keyCode, quint32 carbonMods, int *status) override
    {
        const Combo combo{labelOf(keyCode, carbonMods), keyCode, carbonMods};
        if (taken.contains(combo.label)) {
            *status = TakenStatus;
            return 0;
        }
        for (const Combo &other : std::as_const(held)) {
            if (other == combo) {
                *status = AlreadyHeld;
                return 0;
            }
        }
        held.insert(m_next, combo);
        return m_next++;
    }
    void release(quint32 handle) override { held.remove(handle); }

    void press(const QString &label)
    {
        for (auto it = held.cbegin(); it != held.cend(); ++it) {
            if (it->label == label) {
                Q_EMIT pressed(it.key());
                return;
            }
        }
        QFAIL(qPrintable(QStringLiteral("not held: ") + label));
    }

private:
    static QString labelOf(quint32 keyCode, quint32 carbonMods)
    {
        for (const Combo &combo : HotKeys::presets()) {
            if (combo.keyCode == keyCode && combo.carbonMods == carbonMods)
                return combo.label;
        }
        return {};
    }

    quint32 m_next = 100;
};

// Another X client, to hold combinations before the registrar asks for them.
class OtherClient
{
public:
    OtherClient()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        m_symbols = xcb_key_symbols_alloc(m_connection);
    }
    ~OtherClient()
    {
        xcb_key_symbols_free(m_symbols);
        xcb_disconnect(m_connection);
    }

    // The X error code, 0 on success.
    int grab(xcb_keysym_t keysym, quint16 modifiers)
    {
        xcb_keycode_t *codes = xcb_key_symbols_get_keycode(m_symbols, keysym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        free(codes);
        xcb_generic_error_t *error = xcb_request_check(
            m_connection, xcb_grab_key_checked(m_connection, 1, m_root, modifiers, code,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        const int status = error ? error->error_code : 0;
        free(error);
        return status;
    }

private:
    xcb_connection_t *m_connection = nullptr;
    xcb_key_symbols_t *m_symbols = nullptr;
    xcb_window_t m_root = 0;
};

constexpr xcb_keysym_t keysymV = 'v';
const quint16 superAlt = XCB_MOD_MASK_4 | XCB_MOD_MASK_1;

bool xdotoolKey(const QString &keys)
{
    return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}) == 0;
}

void setLabels(const QString &show, const QString &serial, const QString &plain,
               const QString &pause)
{
    Prefs &prefs = Prefs::shared();
    prefs.setShowHotkeyLabel(show);
    prefs.setSerialNextHotkeyLabel(serial);
    prefs.setPlainModeHotkeyLabel(plain);
    prefs.setPauseHotkeyLabel(pause);
    Prefs::setActiveHotkeyLabel(QString());
}

// The "[HotKeys] ..." messages of a captured log, without the process prefix.
QStringList hotKeyLines(const QByteArray &log)
{
    QStringList lines;
    for (const QString &line : QString::fromUtf8(log).split(QLatin1Char('\n'))) {
        const qsizetype at = line.indexOf(QLatin1String("[HotKeys]"));
        if (at >= 0)
            lines.append(line.mid(at));
    }
    return lines;
}

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
    void parseLabel_data();
    void parseLabel();
    void malformedLabelsAreAbsent();
    void displayLabel_data();
    void displayLabel();
    void presetsMatchTheirLabels();

    void bindAll_data();
    void bindAll();
    void bindAllTwiceStartsAgain();
    void pressesRunTheirActions();

    void x11PressFires_data();
    void x11PressFires();
    void x11TakenComboFallsBack();
    void x11PartialGrabIsUndone();
    void x11ReleaseFreesTheKey();
    void noDisplayBindsNothing();
};

void TestHotKeys::parseLabel_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<quint32>("mods");
    QTest::addColumn<quint32>("keyCode");

    QTest::newRow("opt-cmd-V") << optCmdV << quint32(0x900) << quint32(9);
    QTest::newRow("ctrl-opt-cmd-P")
        << QStringLiteral("\u2303\u2325\u2318P") << quint32(0x1900) << quint32(35);
    QTest::newRow("shift-cmd-V") << shiftCmdV << quint32(0x300) << quint32(9);
    QTest::newRow("all four") << QStringLiteral("\u2303\u2325\u21E7\u2318X") << quint32(0x1B00)
                              << quint32(7);
    QTest::newRow("digit") << QStringLiteral("\u23185") << quint32(0x100) << quint32(23);
}

void TestHotKeys::parseLabel()
{
    QFETCH(QString, label);
    QFETCH(quint32, mods);
    QFETCH(quint32, keyCode);

    const std::optional<KeyChord> chord = HotKeys::parseLabel(label);
    QVERIFY(chord);
    QCOMPARE(chord->carbonMods, mods);
    QCOMPARE(chord->keyCode, keyCode);
    QCOMPARE(chord->key, label.back());
}

void TestHotKeys::malformedLabelsAreAbsent()
{
    const QStringList malformed{
        off,
        QString(),
        QStringLiteral("V"),                  // no modifier
        QStringLiteral("\u2325\u2318"),       // no key
        QStringLiteral("\u2318\u2325V"),      // modifiers out of order
        QStringLiteral("\u2325\u2325V"),      // a modifier twice
        QStringLiteral("\u2325\u2318v"),      // lower case
        QStringLiteral("\u2325\u2318VV"),     // two keys
        QStringLiteral("\u2325\u2318\u00C9"), // a key no keyboard position has
        QStringLiteral("\u2325\U0001F600"),   // half a surrogate pair as the key
        QStringLiteral("Super+Alt+V"),        // the display form
    };
    for (const QString &label : malformed)
        QVERIFY2(!HotKeys::parseLabel(label), qPrintable(label));
}

void TestHotKeys::displayLabel_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("shown");

    QTest::newRow("opt-cmd") << optCmdV << QStringLiteral("Super+Alt+V");
    QTest::newRow("ctrl-opt-cmd") << QStringLiteral("\u2303\u2325\u2318P")
                                  << QStringLiteral("Ctrl+Alt+Super+P");
    QTest::newRow("shift-cmd") << shiftCmdV << QStringLiteral("Shift+Super+V");
    QTest::newRow("ctrl-opt") << ctrlOptX << QStringLiteral("Ctrl+Alt+X");
    QTest::newRow("opt alone") << QStringLiteral("\u2325V") << QStringLiteral("Alt+V");
    QTest::newRow("opt-shift") << QStringLiteral("\u2325\u21E7V") << QStringLiteral("Shift+Alt+V");
    QTest::newRow("all four") << QStringLiteral("\u2303\u2325\u21E7\u2318V")
                              << QStringLiteral("Ctrl+Alt+Shift+Super+V");
    QTest::newRow("Off") << off << off;
    QTest::newRow("not a label") << QStringLiteral("\u2318\u2325V")
                                 << QStringLiteral("\u2318\u2325V");
}

void TestHotKeys::displayLabel()
{
    QFETCH(QString, label);
    QFETCH(QString, shown);
    QCOMPARE(HotKeys::displayLabel(label), shown);
}

// The table and the label syntax are written separately; a typo in either shows here.
void TestHotKeys::presetsMatchTheirLabels()
{
    QCOMPARE(HotKeys::presets().size(), 7);
    for (const Combo &combo : HotKeys::presets()) {
        const std::optional<KeyChord> chord = HotKeys::parseLabel(combo.label);
        QVERIFY2(chord, qPrintable(combo.label));
        QCOMPARE(chord->keyCode, combo.keyCode);
        QCOMPARE(chord->carbonMods, combo.carbonMods);
    }
    const QStringList show = HotKeys::showPanelChoices();
    QCOMPARE(show, (QStringList{optCmdV, ctrlOptV, ctrlOptCmdV, shiftCmdV, off}));
    QCOMPARE(HotKeys::auxChoices(),
             (QStringList{off, ctrlOptP, QStringLiteral("\u2303\u2325\u2318P"), ctrlOptX}));
    QCOMPARE(HotKeys::showPanelFallbacks(), show.mid(0, 3));
}

void TestHotKeys::bindAll_data()
{
    QTest::addColumn<QStringList>("labels"); // show, serial-next, plain mode, pause
    QTest::addColumn<QStringList>("taken");
    QTest::addColumn<QStringList>("bound"); // in id order
    QTest::addColumn<QString>("active");
    QTest::addColumn<QStringList>("log");

    const int taken = FakeRegistrar::TakenStatus;
    const int held = HotKeyRegistrar::AlreadyHeld;

    QTest::newRow("default") << QStringList{optCmdV, off, off, off} << QStringList{}
                             << QStringList{optCmdV} << optCmdV << QStringList{bound(optCmdV)};
    QTest::newRow("preferred taken")
        << QStringList{optCmdV, off, off, off} << QStringList{optCmdV} << QStringList{ctrlOptV}
        << ctrlOptV << QStringList{failed(optCmdV, taken), bound(ctrlOptV)};
    QTest::newRow("shift-cmd tries all fallbacks in order")
        << QStringList{shiftCmdV, off, off, off} << QStringList{shiftCmdV, optCmdV, ctrlOptV}
        << QStringList{ctrlOptCmdV} << ctrlOptCmdV
        << QStringList{failed(shiftCmdV, taken), failed(optCmdV, taken), failed(ctrlOptV, taken),
                       bound(ctrlOptCmdV)};
    QTest::newRow("preferred fallback not tried twice")
        << QStringList{ctrlOptV, off, off, off} << QStringList{ctrlOptV} << QStringList{optCmdV}
        << optCmdV << QStringList{failed(ctrlOptV, taken), bound(optCmdV)};
    QTest::newRow("everything taken")
        << QStringList{optCmdV, ctrlOptP, off, off} << QStringList{optCmdV, ctrlOptV, ctrlOptCmdV}
        << QStringList{ctrlOptP} << off
        << QStringList{failed(optCmdV, taken), failed(ctrlOptV, taken), failed(ctrlOptCmdV, taken),
                       bound(off)};
    QTest::newRow("show off, optional keys still bound")
        << QStringList{off, ctrlOptP, off, ctrlOptX} << QStringList{}
        << QStringList{ctrlOptP, ctrlOptX} << off << QStringList{bound(off)};
    QTest::newRow("unknown label skipped silently")
        << QStringList{QStringLiteral("Hyper+V"), QStringLiteral("junk"), off, off} << QStringList{}
        << QStringList{optCmdV} << optCmdV << QStringList{bound(optCmdV)};
    QTest::newRow("same preset for two optional keys")
        << QStringList{optCmdV, ctrlOptP, off, ctrlOptP} << QStringList{}
        << QStringList{optCmdV, ctrlOptP} << optCmdV
        << QStringList{bound(optCmdV), failed(ctrlOptP, held)};
    QTest::newRow("fallback lands on an optional key's preset")
        << QStringList{optCmdV, off, ctrlOptV, off} << QStringList{optCmdV} << QStringList{ctrlOptV}
        << ctrlOptV << QStringList{failed(optCmdV, taken), bound(ctrlOptV), failed(ctrlOptV, held)};
}

void TestHotKeys::bindAll()
{
    QFETCH(QStringList, labels);
    QFETCH(QStringList, taken);
    QFETCH(QStringList, bound);
    QFETCH(QString, active);
    QFETCH(QStringList, log);

    setLabels(labels[0], labels[1], labels[2], labels[3]);
    FakeRegistrar registrar;
    registrar.taken = QSet<QString>(taken.cbegin(), taken.cend());
    HotKeyCenter center(registrar);

    StderrCapture capture;
    center.bindAll();
    QCOMPARE(hotKeyLines(capture.text()), log);

    QStringList boundLabels;
    quint32 expectedId = 1;
    for (const HotKeyCenter::Binding &binding : center.bindings()) {
        QCOMPARE(binding.id, expectedId++);
        boundLabels.append(binding.label);
    }
    QCOMPARE(boundLabels, bound);
    QCOMPARE(registrar.held.size(), bound.size());
    QCOMPARE(Prefs::activeHotkeyLabel(), active);
}

void TestHotKeys::bindAllTwiceStartsAgain()
{
    setLabels(optCmdV, ctrlOptP, ctrlOptX, off);
    FakeRegistrar registrar;
    HotKeyCenter center(registrar);
    center.bindAll();
    center.bindAll();

    const QList<HotKeyCenter::Binding> bindings = center.bindings();
    QCOMPARE(bindings.size(), 3);
    for (qsizetype i = 0; i < bindings.size(); ++i)
        QCOMPARE(bindings[i].id, quint32(i + 1));
    QCOMPARE(registrar.held.size(), 3);

    center.unregisterAll();
    QVERIFY(center.bindings().isEmpty());
    QVERIFY(registrar.held.isEmpty());
    QVERIFY(center.registerCombo(*HotKeys::preset(ctrlOptX), {}));
    QCOMPARE(center.bindings().value(0).id, quint32(1));
}

void TestHotKeys::pressesRunTheirActions()
{
    setLabels(optCmdV, ctrlOptP, ctrlOptCmdV, ctrlOptX);
    Prefs &prefs = Prefs::shared();
    prefs.setPlainTextMode(false);
    prefs.setPaused(false);
    FakeRegistrar registrar;
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
    const quint32 stale = registrar.held.keys().value(0);
    center.unregisterAll();
    Q_EMIT registrar.pressed(stale);
    QCOMPARE(toggles + nexts, 3);
    prefs.setPlainTextMode(false);
}

void TestHotKeys::x11PressFires_data()
{
    QTest::addColumn<QString>("lockKey");
    QTest::newRow("no lock") << QString();
    QTest::newRow("CapsLock on") << QStringLiteral("Caps_Lock");
    QTest::newRow("NumLock on") << QStringLiteral("Num_Lock");
}

void TestHotKeys::x11PressFires()
{
    QFETCH(QString, lockKey);
    X11HotKeyRegistrar registrar;
    QVERIFY(registrar.isConnected());
    int status = 0;
    const quint32 handle = registrar.grab(9, 0x900, &status);
    QVERIFY2(handle != 0, qPrintable(QString::number(status)));
    QSignalSpy spy(&registrar, &HotKeyRegistrar::pressed);

    if (!lockKey.isEmpty())
        QVERIFY(xdotoolKey(lockKey));
    const auto unlock = qScopeGuard([&lockKey] {
        if (!lockKey.isEmpty())
            xdotoolKey(lockKey);
    });
    QVERIFY(xdotoolKey(QStringLiteral("super+alt+v")));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 5000);
    QCOMPARE(spy.at(0).at(0).value<quint32>(), handle);

    // A second real press is not mistaken for auto-repeat.
    QVERIFY(xdotoolKey(QStringLiteral("super+alt+v")));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 5000);
    QCOMPARE(spy.at(1).at(0).value<quint32>(), handle);
}

void TestHotKeys::x11TakenComboFallsBack()
{
    OtherClient other;
    QCOMPARE(other.grab(keysymV, superAlt), 0);

    X11HotKeyRegistrar registrar;
    int status = 0;
    QCOMPARE(registrar.grab(9, 0x900, &status), quint32(0));
    QCOMPARE(status, BadAccess);

    setLabels(optCmdV, off, off, off);
    HotKeyCenter center(registrar);
    int toggles = 0;
    center.setActions({[&toggles] { ++toggles; }, {}});
    StderrCapture capture;
    center.bindAll();
    QCOMPARE(hotKeyLines(capture.text()),
             (QStringList{failed(optCmdV, BadAccess), bound(ctrlOptV)}));
    QCOMPARE(Prefs::activeHotkeyLabel(), ctrlOptV);

    QVERIFY(xdotoolKey(QStringLiteral("ctrl+alt+v")));
    QTRY_COMPARE_WITH_TIMEOUT(toggles, 1, 5000);
}

void TestHotKeys::x11PartialGrabIsUndone()
{
    // The other client holds only the CapsLock variant, so the plain one is granted first.
    OtherClient other;
    QCOMPARE(other.grab(keysymV, superAlt | XCB_MOD_MASK_LOCK), 0);

    X11HotKeyRegistrar registrar;
    int status = 0;
    QCOMPARE(registrar.grab(9, 0x900, &status), quint32(0));
    QCOMPARE(status, BadAccess);

    OtherClient third;
    QCOMPARE(third.grab(keysymV, superAlt), 0);
}

void TestHotKeys::x11ReleaseFreesTheKey()
{
    X11HotKeyRegistrar registrar;
    int status = 0;
    const quint32 handle = registrar.grab(9, 0x1800, &status);
    QVERIFY(handle != 0);
    QCOMPARE(registrar.grab(9, 0x1800, &status), quint32(0));
    QCOMPARE(status, HotKeyRegistrar::AlreadyHeld);

    OtherClient other;
    const quint16 ctrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
    QCOMPARE(other.grab(keysymV, ctrlAlt), BadAccess);
    registrar.release(handle);
    QCOMPARE(other.grab(keysymV, ctrlAlt), 0);
    QCOMPARE(other.grab(keysymV, ctrlAlt | XCB_MOD_MASK_LOCK), 0);
}

void TestHotKeys::noDisplayBindsNothing()
{
    X11HotKeyRegistrar registrar(QByteArrayLiteral(":4095"));
    QVERIFY(!registrar.isConnected());
    setLabels(optCmdV, ctrlOptP, off, off);
    HotKeyCenter center(registrar);
    StderrCapture capture;
    center.bindAll();
    const int none = HotKeyRegistrar::NoDisplay;
    QCOMPARE(hotKeyLines(capture.text()),
             (QStringList{failed(optCmdV, none), failed(ctrlOptV, none), failed(ctrlOptCmdV, none),
                          bound(off), failed(ctrlOptP, none)}));
    QCOMPARE(Prefs::activeHotkeyLabel(), off);
    QVERIFY(center.bindings().isEmpty());
}

ULVANE_X11_TEST_MAIN(TestHotKeys)
#include "test_hotkeys.moc"
