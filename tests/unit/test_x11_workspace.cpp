#include "TestMain.h"

#include "platform/CanberraEventSound.h"
#include "platform/TerminalApps.h"
#include "platform/X11KeySynthesizer.h"
#include "platform/X11Workspace.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QWindow>

#include <cstdlib>
#include <cstring>

#include <xcb/xcb.h>

namespace {

// Another X client owning plain top-level windows that describe themselves as an
// application would.
class WindowClient
{
public:
    WindowClient()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
    ~WindowClient() { xcb_disconnect(m_connection); }

    quint32 open(const QByteArray &instance, const QByteArray &cls,
                 const QByteArray &applicationId = {}, quint32 pid = 0)
    {
        const quint32 window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, m_root, 10, 10, 200, 120, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        const QByteArray wmClass = instance + '\0' + cls + '\0';
        setProperty(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass);
        if (!applicationId.isEmpty())
            setProperty(window, atom("_GTK_APPLICATION_ID"), atom("UTF8_STRING"), 8, applicationId);
        if (pid != 0)
            setProperty(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32,
                        QByteArray(reinterpret_cast<const char *>(&pid), sizeof pid));
        xcb_map_window(m_connection, window);
        xcb_flush(m_connection);
        return window;
    }

    // The window manager marks the windows it has taken over with WM_STATE.
    bool isManaged(quint32 window)
    {
        auto *reply = xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 0, window, atom("WM_STATE"), XCB_ATOM_ANY, 0, 2),
            nullptr);
        const bool managed = reply && reply->type != XCB_ATOM_NONE;
        std::free(reply);
        return managed;
    }

private:
    quint32 atom(const char *name)
    {
        auto *reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, quint16(std::strlen(name)), name),
            nullptr);
        const quint32 value = reply ? reply->atom : 0;
        std::free(reply);
        return value;
    }
    void setProperty(quint32 window, quint32 property, quint32 type, quint8 format,
                     const QByteArray &data)
    {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, property, type, format,
                            quint32(data.size() / (format / 8)), data.constData());
    }

    xcb_connection_t *m_connection = nullptr;
    quint32 m_root = 0;
};

struct SeenKey
{
    int key;
    Qt::KeyboardModifiers modifiers;
};

class KeyWindow : public QWindow
{
public:
    QList<SeenKey> presses;

    // The modifiers the V key arrived with, or absent when it never did.
    std::optional<Qt::KeyboardModifiers> modifiersOfV() const
    {
        for (const SeenKey &seen : presses) {
            if (seen.key == Qt::Key_V)
                return seen.modifiers;
        }
        return std::nullopt;
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        presses.append({event->key(), event->modifiers()});
    }
};

void writeEntry(const QString &dir, const QString &fileName, const QByteArray &body)
{
    QDir().mkpath(dir);
    QFile file(dir + QLatin1Char('/') + fileName);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(body);
}

bool runXdotool(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

} // namespace

class TestX11Workspace : public QObject
{
    Q_OBJECT

private:
    void showFocused(KeyWindow &window)
    {
        window.resize(200, 120);
        window.show();
        window.requestActivate();
        QTRY_VERIFY_WITH_TIMEOUT(window.isActive(), 5000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QString home = QFile::decodeName(qgetenv("XDG_DATA_HOME")) + "/applications";
        const QString system = TestEnv::home().path() + "/system-share";
        qputenv("XDG_DATA_DIRS", QFile::encodeName(system));
        writeEntry(home, "org.gnome.TextEditor.desktop",
                   "[Desktop Entry]\nType=Application\nName=Text Editor\nName[de]=Texteditor\n");
        writeEntry(home, "org.example.Browser.desktop",
                   "[Desktop Entry]\nName=Example Browser\nStartupWMClass=ExampleBrowser\n");
        writeEntry(home + "/tools", "mytool.desktop", "[Desktop Entry]\nName=My Tool\n");
        writeEntry(home, "zettel.desktop",
                   "[Desktop Action new]\nName=Wrong Group\n[Desktop Entry]\nName=Zettel Notes\n");
        writeEntry(home, "gone.desktop", "[Desktop Entry]\nName=Gone\nHidden=true\n");
        writeEntry(home, "shadowed.desktop", "[Desktop Entry]\nName=User Copy\n");
        writeEntry(system + "/applications", "shadowed.desktop",
                   "[Desktop Entry]\nName=System Copy\n");
        writeEntry(system + "/applications", "org.kde.kwrite.desktop",
                   "[Desktop Entry]\nName=KWrite\n");
    }

    void frontmostApplication_data()
    {
        QTest::addColumn<QByteArray>("instance");
        QTest::addColumn<QByteArray>("cls");
        QTest::addColumn<QByteArray>("applicationId");
        QTest::addColumn<QString>("bundleId");
        QTest::addColumn<QString>("name");

        QTest::newRow("application id wins")
            << QByteArray("gedit") << QByteArray("Gedit") << QByteArray("org.gnome.TextEditor")
            << "org.gnome.TextEditor"
            << "Text Editor";
        QTest::newRow("application id without entry")
            << QByteArray("unlisted") << QByteArray("Unlisted")
            << QByteArray("org.example.Unlisted") << "org.example.Unlisted"
            << "Unlisted";
        QTest::newRow("StartupWMClass") << QByteArray("Navigator") << QByteArray("ExampleBrowser")
                                        << QByteArray() << "org.example.Browser"
                                        << "Example Browser";
        QTest::newRow("file name, other case")
            << QByteArray("zettel-bin") << QByteArray("ZETTEL") << QByteArray() << "zettel"
            << "Zettel Notes";
        QTest::newRow("instance in a subfolder")
            << QByteArray("mytool") << QByteArray("Other") << QByteArray() << "tools-mytool"
            << "My Tool";
        QTest::newRow("last part of a reverse-DNS id")
            << QByteArray("kwrite") << QByteArray("kwrite") << QByteArray() << "org.kde.kwrite"
            << "KWrite";
        QTest::newRow("data home hides data dirs")
            << QByteArray("shadowed") << QByteArray("Shadowed") << QByteArray() << "shadowed"
            << "User Copy";
        QTest::newRow("hidden entry")
            << QByteArray("gone") << QByteArray("Gone") << QByteArray() << "Gone"
            << "Gone";
        QTest::newRow("no entry") << QByteArray("nowhere") << QByteArray("Nowhere") << QByteArray()
                                  << "Nowhere"
                                  << "Nowhere";
    }

    void frontmostApplication()
    {
        QFETCH(QByteArray, instance);
        QFETCH(QByteArray, cls);
        QFETCH(QByteArray, applicationId);
        QFETCH(QString, bundleId);
        QFETCH(QString, name);

        X11Workspace workspace;
        QVERIFY(workspace.isConnected());
        WindowClient client;
        const quint32 window = client.open(instance, cls, applicationId, 4242);
        QTRY_VERIFY_WITH_TIMEOUT(client.isManaged(window), 5000);
        workspace.activateWindow(window);
        QTRY_COMPARE_WITH_TIMEOUT(workspace.activeWindow(), quint64(window), 5000);

        const std::optional<AppInfo> app = workspace.frontmostApplication();
        QVERIFY(app);
        QCOMPARE(app->bundleId, bundleId);
        QCOMPARE(app->name, name);
        QCOMPARE(app->pid, 4242);
        QCOMPARE(workspace.windowClass(window), QString::fromLatin1(cls));
    }

    void desktopIndexRescansOnlyAfterItsInterval()
    {
        const QString dir = QFile::decodeName(qgetenv("XDG_DATA_HOME")) + "/applications";
        DesktopEntryIndex eager(0);
        DesktopEntryIndex lazy(60 * 1000);
        QVERIFY(!eager.byWindowClass("Late", "late"));
        QVERIFY(!lazy.byWindowClass("Late", "late"));
        writeEntry(dir, "late.desktop", "[Desktop Entry]\nName=Late Arrival\n");
        const auto cleanup = qScopeGuard([&dir] { QFile::remove(dir + "/late.desktop"); });
        QCOMPARE(eager.byWindowClass("Late", "late")->name, QStringLiteral("Late Arrival"));
        QVERIFY(!lazy.byWindowClass("Late", "late"));
        // Known entries are answered from the index without a scan.
        QCOMPARE(lazy.byId("ZETTEL")->id, QStringLiteral("zettel"));
    }

    void activateWindowSwitchesBetweenWindows()
    {
        X11Workspace workspace;
        WindowClient client;
        const quint32 first = client.open("first", "First");
        const quint32 second = client.open("second", "Second");
        QTRY_VERIFY_WITH_TIMEOUT(client.isManaged(first) && client.isManaged(second), 5000);
        for (const quint32 window : {first, second, first}) {
            workspace.activateWindow(window);
            QTRY_COMPARE_WITH_TIMEOUT(workspace.activeWindow(), quint64(window), 5000);
            QCOMPARE(workspace.frontmostApplication()->bundleId,
                     window == first ? QStringLiteral("First") : QStringLiteral("Second"));
        }
    }

    void withoutDisplayEverythingIsEmpty()
    {
        X11Workspace workspace(":9999");
        QVERIFY(!workspace.isConnected());
        QCOMPARE(workspace.activeWindow(), 0u);
        QVERIFY(!workspace.frontmostApplication());
        QVERIFY(workspace.windowClass(1234).isEmpty());
        workspace.activateWindow(1234);

        X11KeySynthesizer keys(":9999");
        QVERIFY(!keys.isTrusted());
        QVERIFY(!keys.sendPaste(false));
    }

    void sleepAndWakeFollowPrepareForSleep()
    {
        // A stand-in for logind on the private session bus, present before anyone listens as
        // the real one is.
        QDBusConnection logind =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-logind");
        const auto disconnect =
            qScopeGuard([] { QDBusConnection::disconnectFromBus("fake-logind"); });
        QVERIFY(logind.registerService("org.freedesktop.login1"));

        X11Workspace workspace;
        QVERIFY(workspace.watchSleep(QDBusConnection::sessionBus()));
        QSignalSpy sleeps(&workspace, &Workspace::willSleep);
        QSignalSpy wakes(&workspace, &Workspace::didWake);
        auto prepare = [&logind](bool sleeping) {
            QDBusMessage signal = QDBusMessage::createSignal(
                "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep");
            signal << sleeping;
            QVERIFY(logind.send(signal));
        };
        prepare(true);
        QTRY_COMPARE_WITH_TIMEOUT(sleeps.size(), 1, 5000);
        QCOMPARE(wakes.size(), 0);
        prepare(false);
        QTRY_COMPARE_WITH_TIMEOUT(wakes.size(), 1, 5000);
        QCOMPARE(sleeps.size(), 1);
    }

    void sendPasteDeliversTheStroke_data()
    {
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::newRow("Ctrl+V") << false << Qt::KeyboardModifiers(Qt::ControlModifier);
        QTest::newRow("terminal: Ctrl+Shift+V")
            << true << Qt::KeyboardModifiers(Qt::ControlModifier | Qt::ShiftModifier);
    }

    void sendPasteDeliversTheStroke()
    {
        QFETCH(bool, terminal);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        X11KeySynthesizer keys;
        QVERIFY(keys.isTrusted());
        KeyWindow window;
        showFocused(window);
        QVERIFY(keys.sendPaste(terminal));
        QTRY_VERIFY_WITH_TIMEOUT(window.modifiersOfV(), 5000);
        QCOMPARE(*window.modifiersOfV(), modifiers);
        QVERIFY(!keys.anyModifierHeld());
    }

    void sendPasteWaitsForHeldModifiers_data()
    {
        QTest::addColumn<bool>("released");
        QTest::newRow("released after 300 ms") << true;
        QTest::newRow("never released") << false;
    }

    void sendPasteWaitsForHeldModifiers()
    {
        QFETCH(bool, released);
        X11KeySynthesizer keys;
        KeyWindow window;
        showFocused(window);
        const auto cleanup = qScopeGuard([] { runXdotool({"keyup", "alt"}); });
        QVERIFY(runXdotool({"keydown", "alt"}));
        QTRY_VERIFY_WITH_TIMEOUT(keys.anyModifierHeld(), 5000);

        QProcess releaser;
        if (released)
            releaser.start("sh", {"-c", "sleep 0.3; xdotool keyup alt"});
        QElapsedTimer clock;
        clock.start();
        QVERIFY(keys.sendPaste(false));
        const qint64 waited = clock.elapsed();
        releaser.waitForFinished(5000);

        QTRY_VERIFY_WITH_TIMEOUT(window.modifiersOfV(), 5000);
        if (released) {
            QVERIFY2(waited >= 200 && waited < X11KeySynthesizer::modifierWaitMs,
                     qPrintable(QString::number(waited)));
            QCOMPARE(*window.modifiersOfV(), Qt::KeyboardModifiers(Qt::ControlModifier));
        } else {
            QVERIFY2(waited >= X11KeySynthesizer::modifierWaitMs - 50 && waited < 3000,
                     qPrintable(QString::number(waited)));
            QCOMPARE(*window.modifiersOfV(), Qt::ControlModifier | Qt::AltModifier);
        }
    }

    void terminalApps_data()
    {
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<bool>("terminal");
        for (const char *name : {"gnome-terminal-server", "Gnome-terminal", "konsole", "XTerm",
                                 "URxvt", "Alacritty", "kitty", "org.wezfurlong.wezterm", "foot",
                                 "kgx", "org.gnome.Ptyxis", "st-256color", "Xfce4-terminal"})
            QTest::newRow(name) << QString::fromLatin1(name) << true;
        for (const char *name : {"firefox-esr", "Gedit", "Steam", "xtermish", "", "code"})
            QTest::newRow(qPrintable(QStringLiteral("not: ") + name))
                << QString::fromLatin1(name) << false;
    }

    void terminalApps()
    {
        QFETCH(QString, windowClass);
        QFETCH(bool, terminal);
        QCOMPARE(TerminalApps::isTerminal(windowClass), terminal);
    }

    void eventSoundNeverBlocks()
    {
        // There is no sound server in the test session; neither playing nor going away may
        // wait for one.
        QElapsedTimer clock;
        clock.start();
        {
            CanberraEventSound sound;
            for (int i = 0; i < 5; ++i)
                sound.play();
        }
        QVERIFY2(clock.elapsed() < 200, qPrintable(QString::number(clock.elapsed())));
        CanberraEventSound again;
        again.play();
    }
};

ULVANE_X11_TEST_MAIN(TestX11Workspace)
#include "test_x11_workspace.moc"
