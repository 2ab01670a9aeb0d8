// The real ulvane binary in a private X session with a real tray host (trayer), driven by real
// X11 clients (xclip, xdotool): the hot key, the picker, the tray menu and the shell around them.
// Capture by the binary is the fault suite's (test_faults_e2e), what it leaves out test_monitor's.
#include "TestMain.h"
#include "X11Clients.h"

#include "platform/x11/X11Workspace.h"
#include "store/Store.h"

#include <QScreen>
#include <QSettings>

using namespace X11Clients;

class TestAppE2E : public QObject
{
    Q_OBJECT

    QProcess m_app;
    QByteArray m_log;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<X11Workspace> m_workspace;
    TargetWindow m_target;

    // Offers `data` as `target` on the clipboard from an xclip process, as other apps do.
    void copy(const QString &target, const QByteArray &data)
    {
        run(u"xclip"_qs, {u"-selection"_qs, u"clipboard"_qs, u"-t"_qs, target, u"-i"_qs}, data);
    }

    QList<Clip> clips() { return m_store->search(QString(), ClipFilter::All, 400); }

    quint64 picker() { return visibleWindow(m_app.processId(), u"Clipboard"_qs); }

    QList<quint64> visibleWindows()
    {
        QList<quint64> windows;
        for (const QByteArray &line :
             run(u"xdotool"_qs, {u"search"_qs, u"--all"_qs, u"--onlyvisible"_qs, u"--pid"_qs,
                                 QString::number(m_app.processId())})
                 .split('\n')) {
            if (!line.trimmed().isEmpty())
                windows.append(line.trimmed().toULongLong());
        }
        return windows;
    }

    // The icon trayer embedded: the application's small visible window.
    quint64 trayIcon()
    {
        for (const quint64 window : visibleWindows()) {
            const QRect frame = windowGeometry(window);
            if (frame.width() > 0 && frame.width() <= 64 && frame.height() <= 64)
                return window;
        }
        return 0;
    }

    // The tray menu: the application's other visible window, tall and untitled.
    quint64 openMenu()
    {
        const quint64 icon = trayIcon();
        for (const quint64 window : visibleWindows()) {
            if (window != icon && window != picker() && windowGeometry(window).height() > 150)
                return window;
        }
        return 0;
    }

    void startApp(const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        m_log.clear();
        m_app.setProcessEnvironment(env);
        m_app.start(QStringLiteral(ULVANE_BINARY), {});
        QVERIFY(m_app.waitForStarted());
        for (const char *line : {"[Monitor] started", "[App] launched"})
            QTRY_VERIFY_WITH_TIMEOUT((m_log += m_app.readAllStandardError()).contains(line), 20000);
    }

    void stopApp()
    {
        m_app.terminate();
        if (!m_app.waitForFinished(5000))
            m_app.kill();
    }

    bool activateTarget()
    {
        m_workspace->activateWindow(m_target.winId());
        return QTest::qWaitFor([&] { return m_workspace->activeWindow() == m_target.winId(); },
                               timeoutMs);
    }

    // The hot key over the target window; the picker's window once it has the keyboard.
    quint64 showPicker()
    {
        if (!activateTarget())
            return 0;
        key(u"super+alt+v"_qs);
        quint64 window = 0;
        if (!QTest::qWaitFor([&] { return (window = picker()) != 0; }, timeoutMs))
            return 0;
        return QTest::qWaitFor([&] { return m_workspace->activeWindow() == window; }, timeoutMs)
                   ? window
                   : 0;
    }

    void hidePicker()
    {
        key(u"Escape"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(picker(), 0u, timeoutMs);
    }

    // Opens the tray menu and waits until it holds the keyboard, so the keys that follow
    // reach it however slowly the menu came up.
    void clickTrayIcon()
    {
        const quint64 icon = trayIcon();
        QVERIFY(icon != 0);
        run(u"xdotool"_qs, {u"mousemove"_qs, u"--window"_qs, QString::number(icon), u"8"_qs,
                            u"8"_qs, u"click"_qs, u"1"_qs});
        QTRY_VERIFY_WITH_TIMEOUT(openMenu() != 0, timeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(keyboardGrabbed(), timeoutMs);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QSettings settings(qEnvironmentVariable("XDG_CONFIG_HOME") + u"/ulvane/ulvane.conf"_qs,
                           QSettings::IniFormat);
        settings.setValue(u"autoPaste"_qs, true);
        settings.sync();

        m_workspace = std::make_unique<X11Workspace>();
        m_target.setTitle(u"paste target"_qs);
        m_target.resize(400, 240);
        m_target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_target));
        startApp();
        m_store = std::make_unique<Store>(qEnvironmentVariable("XDG_DATA_HOME") + u"/Vesk"_qs);
    }

    void cleanupTestCase() { stopApp(); } // the xclip servers end with the X server

    void startsInOrderAndShowsItsTrayIcon()
    {
        // Hot keys, then capture, then the launch line naming the key in force.
        const qsizetype hotKeys = m_log.indexOf("[HotKeys] show-panel bound to");
        const qsizetype monitor = m_log.indexOf("[Monitor] started");
        const qsizetype launched = m_log.indexOf("[App] launched, store count=0, hotkey=⌥⌘V");
        QVERIFY2(hotKeys >= 0 && monitor > hotKeys && launched > monitor, m_log.constData());
        QTRY_VERIFY_WITH_TIMEOUT(trayIcon() != 0, timeoutMs);
    }

    void hotKeyShowsThePickerOverTheActiveWindow()
    {
        for (const char *text : {"second thing to paste", "Meeting notes: bring the figures"}) {
            copy(u"UTF8_STRING"_qs, text);
            QTRY_COMPARE_WITH_TIMEOUT(clips().value(0).excerpt, QString::fromUtf8(text), timeoutMs);
        }
        QCOMPARE(picker(), 0u);
        // The pointer decides the screen; where on it is the panel tests' business.
        run(u"xdotool"_qs, {u"mousemove"_qs, u"300"_qs, u"300"_qs});
        const quint64 window = showPicker();
        QVERIFY(window != 0);
        QVERIFY(QGuiApplication::primaryScreen()->geometry().contains(windowGeometry(window)));
        hidePicker();
    }

    void typingFiltersAndReturnPastesIntoThePreviousWindow()
    {
        const qsizetype stored = clips().size();
        QVERIFY(showPicker() != 0);
        run(u"xdotool"_qs, {u"type"_qs, u"--delay"_qs, u"40"_qs, u"second"_qs});
        // Return straight after the typing: it acts on what the typed text finds, even before
        // the search's pause after the last letter has run.
        key(u"Return"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(picker(), 0u, timeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_target.pasted, QStringList{u"second thing to paste"_qs},
                                  timeoutMs);
        QCOMPARE(m_workspace->activeWindow(), quint64(m_target.winId()));
        // The pasted clip moves to the top and nothing new is stored.
        QCOMPARE(clips().first().excerpt, u"second thing to paste"_qs);
        QCOMPARE(clips().size(), stored);
    }

    void theHotKeyHidesIt()
    {
        QVERIFY(showPicker() != 0);
        key(u"super+alt+v"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(picker(), 0u, timeoutMs);
        QVERIFY(m_target.pasted.size() <= 1);
    }

    // What the items do is test_status_menu's; here the real tray shows the real menu.
    void trayMenuShowsThePicker()
    {
        // The first two lines are labels; the first item is "Show Clipboard".
        clickTrayIcon();
        key(u"Down Return"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(picker() != 0, timeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_workspace->activeWindow(), picker(), timeoutMs);
        hidePicker();
    }

    void secondStartHandsOverToTheFirst()
    {
        QCOMPARE(picker(), 0u);
        int status = -1;
        run(QStringLiteral(ULVANE_BINARY), {}, {}, QProcessEnvironment::systemEnvironment(),
            &status);
        QCOMPARE(status, 0);
        QTRY_VERIFY_WITH_TIMEOUT(picker() != 0, timeoutMs);
        hidePicker();
        QCOMPARE(m_app.state(), QProcess::Running);
    }

    void withoutATrayItStaysUsable()
    {
        stopApp();
        // Take the tray host away (only this session's: found by its window).
        const auto trayers = [] {
            return run(u"xdotool"_qs,
                       {u"search"_qs, u"--class"_qs, u"trayer"_qs, u"getwindowpid"_qs, u"%@"_qs});
        };
        for (const QByteArray &pid : trayers().split('\n')) {
            if (!pid.trimmed().isEmpty())
                run(u"kill"_qs, {QString::fromLatin1(pid.trimmed())});
        }
        QTRY_VERIFY_WITH_TIMEOUT(trayers().trimmed().isEmpty(), timeoutMs);
        startApp();
        QVERIFY2(m_log.contains("[App] no system tray"), m_log.constData());
        run(QStringLiteral(ULVANE_BINARY), {u"--show"_qs});
        QTRY_VERIFY_WITH_TIMEOUT(picker() != 0, timeoutMs);
        hidePicker();
    }

    void withoutDBusTheHotKeyStillWorks()
    {
        stopApp();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_qs, u"unix:path=/nonexistent/ulvane-test-bus"_qs);
        startApp(env);
        QVERIFY2(m_log.contains("[App] no D-Bus session bus"), m_log.constData());
        QVERIFY(showPicker() != 0);
        hidePicker();
    }
};

ULVANE_X11_TEST_MAIN(TestAppE2E)
#include "test_app_e2e.moc"
