// The whole application in a private X session with a real tray host (trayer): start-up order,
// the tray icon and its menu driven by pointer and keys, the one-instance hand-over, and
// start-ups without a tray or without a D-Bus session.
#include "TestMain.h"
#include "X11Clients.h"

#include "platform/x11/X11Workspace.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSettings>

using namespace X11Clients;

class TestShellE2E : public QObject
{
    Q_OBJECT

    QProcess m_app;
    QByteArray m_log;
    std::unique_ptr<X11Workspace> m_workspace;
    QString m_artifacts;

    QList<quint64> visibleWindows(const QString &name = {})
    {
        QStringList args{u"search"_qs, u"--all"_qs, u"--onlyvisible"_qs, u"--pid"_qs,
                         QString::number(m_app.processId())};
        if (!name.isEmpty())
            args << u"--name"_qs << name;
        QList<quint64> windows;
        for (const QByteArray &line : run(u"xdotool"_qs, args).split('\n')) {
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
            if (window == icon || window == picker())
                continue;
            if (windowGeometry(window).height() > 150)
                return window;
        }
        return 0;
    }

    quint64 picker()
    {
        const QList<quint64> found = visibleWindows(u"^Clipboard$"_qs);
        return found.isEmpty() ? 0 : found.first();
    }

    bool settingsSay(const QString &key, const QVariant &value)
    {
        const QSettings settings(qEnvironmentVariable("XDG_CONFIG_HOME") +
                                     u"/ulvane/ulvane.conf"_qs,
                                 QSettings::IniFormat);
        return settings.value(key) == value;
    }

    void startApp(const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        m_log.clear();
        m_app.setProcessEnvironment(env);
        m_app.start(QStringLiteral(ULVANE_BINARY), {});
        QVERIFY(m_app.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT((m_log += m_app.readAllStandardError()).contains("[App] launched"),
                                 20000);
    }

    void stopApp()
    {
        m_app.terminate();
        if (!m_app.waitForFinished(5000))
            m_app.kill();
    }

    void clickTrayIcon()
    {
        const quint64 icon = trayIcon();
        QVERIFY(icon != 0);
        run(u"xdotool"_qs, {u"mousemove"_qs, u"--window"_qs, QString::number(icon), u"8"_qs,
                            u"8"_qs, u"click"_qs, u"1"_qs});
        QTRY_VERIFY_WITH_TIMEOUT(openMenu() != 0, timeoutMs);
        QTest::qWait(150);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_artifacts = QDir::currentPath() + u"/artifacts"_qs;
        QDir().mkpath(m_artifacts);
        m_workspace = std::make_unique<X11Workspace>();
        startApp();
    }

    void cleanupTestCase() { stopApp(); }

    void startsInOrderAndShowsItsTrayIcon()
    {
        // Hot keys, then capture, then the launch line naming the key in force.
        const qsizetype hotKeys = m_log.indexOf("[HotKeys] show-panel bound to");
        const qsizetype monitor = m_log.indexOf("[Monitor] started");
        const qsizetype launched = m_log.indexOf("[App] launched, store count=0, hotkey=⌥⌘V");
        QVERIFY2(hotKeys >= 0 && monitor > hotKeys && launched > monitor, m_log.constData());
        QVERIFY(!m_log.contains("no system tray"));
        quint64 icon = 0;
        QTRY_VERIFY_WITH_TIMEOUT((icon = trayIcon()) != 0, timeoutMs);
        const QRect frame = windowGeometry(icon);
        QVERIFY2(frame.width() >= 16, qPrintable(QString::number(frame.width())));
    }

    void trayMenuItemsAct()
    {
        clickTrayIcon();
        run(u"import"_qs, {u"-window"_qs, u"root"_qs, m_artifacts + u"/tray-menu.png"_qs});
        // The first two lines are labels; the first item is "Show Clipboard".
        key(u"Down Return"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(picker() != 0, timeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_workspace->activeWindow(), picker(), timeoutMs);
        key(u"Escape"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(picker(), 0u, timeoutMs);

        // "Pause Clipping", then the same place reads "Resume Clipping".
        clickTrayIcon();
        key(u"Down Down Return"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(settingsSay(u"paused"_qs, true), timeoutMs);
        clickTrayIcon();
        key(u"Down Down Return"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(settingsSay(u"paused"_qs, false), timeoutMs);

        // "Plain-Text Mode" is the next item.
        clickTrayIcon();
        key(u"Down Down Down Return"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(settingsSay(u"plainTextMode"_qs, true), timeoutMs);
        clickTrayIcon();
        key(u"Escape"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(openMenu(), 0u, timeoutMs);
    }

    void secondStartHandsOverToTheFirst()
    {
        QCOMPARE(picker(), 0u);
        int status = -1;
        QElapsedTimer timer;
        timer.start();
        run(QStringLiteral(ULVANE_BINARY), {}, {}, QProcessEnvironment::systemEnvironment(),
            &status);
        QCOMPARE(status, 0);
        QVERIFY(timer.elapsed() < 5000);
        QTRY_VERIFY_WITH_TIMEOUT(picker() != 0, timeoutMs);
        key(u"Escape"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(picker(), 0u, timeoutMs);
        QCOMPARE(m_app.state(), QProcess::Running);
    }

    void withoutATrayItStaysUsable()
    {
        stopApp();
        // Take the tray host away (only this session's: found by its window).
        const QByteArray trayers = run(u"xdotool"_qs, {u"search"_qs, u"--class"_qs, u"trayer"_qs});
        QSet<QByteArray> pids;
        for (const QByteArray &window : trayers.split('\n')) {
            if (!window.trimmed().isEmpty())
                pids.insert(
                    run(u"xdotool"_qs, {u"getwindowpid"_qs, QString::fromLatin1(window.trimmed())})
                        .trimmed());
        }
        for (const QByteArray &pid : pids) {
            if (!pid.isEmpty())
                run(u"kill"_qs, {QString::fromLatin1(pid)});
        }
        QTest::qWait(300);
        startApp();
        QVERIFY2(m_log.contains("[App] no system tray"), m_log.constData());
        run(QStringLiteral(ULVANE_BINARY), {u"--show"_qs});
        QTRY_VERIFY_WITH_TIMEOUT(picker() != 0, timeoutMs);
        key(u"Escape"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(picker(), 0u, timeoutMs);
    }

    void withoutDBusTheHotKeyStillWorks()
    {
        stopApp();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_qs, u"unix:path=/nonexistent/ulvane-test-bus"_qs);
        startApp(env);
        QVERIFY2(m_log.contains("[App] no D-Bus session bus"), m_log.constData());
        key(u"super+alt+v"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(picker() != 0, timeoutMs);
        key(u"Escape"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(picker(), 0u, timeoutMs);
    }
};

ULVANE_X11_TEST_MAIN(TestShellE2E)
#include "test_shell_e2e.moc"
