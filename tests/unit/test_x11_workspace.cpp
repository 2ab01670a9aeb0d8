#include "TestFiles.h"
#include "TestMain.h"
#include "X11RawOwner.h"

#include "platform/CanberraEventSound.h"
#include "platform/x11/X11KeySynthesizer.h"
#include "platform/x11/X11Workspace.h"
#include "platform/xdg/DesktopEntryIndex.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QWindow>

#include <xcb/xcb.h>

namespace {

// Another X client owning plain top-level windows that describe themselves as an
// application would.
struct WindowClient
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    quint32 root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;

    ~WindowClient() { xcb_disconnect(connection); }

    // Every window claims process 4242.
    quint32 open(const QByteArray &instance, const QByteArray &cls,
                 const QByteArray &applicationId = {})
    {
        const quint32 pid = 4242;
        const quint32 window = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, root, 10, 10, 200, 120, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        const QByteArray wmClass = instance + '\0' + cls + '\0';
        setProperty(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass);
        if (!applicationId.isEmpty())
            setProperty(window, atom("_GTK_APPLICATION_ID"), atom("UTF8_STRING"), 8, applicationId);
        setProperty(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32,
                    QByteArray(reinterpret_cast<const char *>(&pid), sizeof pid));
        xcb_map_window(connection, window);
        xcb_flush(connection);
        return window;
    }

    // The window manager marks the windows it has taken over with WM_STATE.
    bool isManaged(quint32 window)
    {
        X11Raw::Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            connection,
            xcb_get_property(connection, 0, window, atom("WM_STATE"), XCB_ATOM_ANY, 0, 2),
            nullptr));
        return reply && reply->type != XCB_ATOM_NONE;
    }

    quint32 atom(const char *name) { return X11Raw::intern(connection, name); }
    void setProperty(quint32 window, quint32 property, quint32 type, quint8 format,
                     const QByteArray &data)
    {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, property, type, format,
                            quint32(data.size() / (format / 8)), data.constData());
    }
};

// Keeps the first key other than a modifier that arrived, with the modifiers held for it.
class KeyWindow : public QWindow
{
public:
    std::optional<QKeyCombination> stroke;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const int key = event->key();
        const bool modifier = key == Qt::Key_Shift || key == Qt::Key_Control ||
                              key == Qt::Key_Alt || key == Qt::Key_Meta;
        if (!modifier && !stroke)
            stroke = QKeyCombination(event->modifiers(), Qt::Key(key));
    }
};

} // namespace

class TestX11Workspace : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        const QString home = QFile::decodeName(qgetenv("XDG_DATA_HOME")) + "/applications";
        const QString system = TestEnv::home().path() + "/system-share";
        qputenv("XDG_DATA_DIRS", QFile::encodeName(system));
        writeText(home + "/org.gnome.TextEditor.desktop",
                  "[Desktop Entry]\nType=Application\nName=Text Editor\nName[de]=Texteditor\n");
        writeText(home + "/org.example.Browser.desktop",
                  "[Desktop Entry]\nName=Example Browser\nStartupWMClass=ExampleBrowser\n");
        writeText(home + "/tools/mytool.desktop", "[Desktop Entry]\nName=My Tool\n");
        writeText(home + "/zettel.desktop",
                  "[Desktop Action new]\nName=Wrong Group\n[Desktop Entry]\nName=Zettel Notes\n");
        writeText(home + "/gone.desktop", "[Desktop Entry]\nName=Gone\nHidden=true\n");
        writeText(home + "/shadowed.desktop", "[Desktop Entry]\nName=User Copy\n");
        writeText(system + "/applications/shadowed.desktop", "[Desktop Entry]\nName=System Copy\n");
        writeText(system + "/applications/org.kde.kwrite.desktop",
                  "[Desktop Entry]\nName=KWrite\n");
    }

    void activeApplicationFollowsActivation()
    {
        const struct
        {
            const char *instance, *cls, *applicationId, *appId, *name;
        } rows[] = {
            // The application id wins, with or without an entry.
            {"gedit", "Gedit", "org.gnome.TextEditor", "org.gnome.TextEditor", "Text Editor"},
            {"unlisted", "Unlisted", "org.example.Unlisted", "org.example.Unlisted", "Unlisted"},
            // Then by StartupWMClass, file name in any case, subfolder, reverse-DNS tail.
            {"Navigator", "ExampleBrowser", "", "org.example.Browser", "Example Browser"},
            {"zettel-bin", "ZETTEL", "", "zettel", "Zettel Notes"},
            {"mytool", "Other", "", "tools-mytool", "My Tool"},
            {"kwrite", "kwrite", "", "org.kde.kwrite", "KWrite"},
            // The data home hides the data dirs; a hidden entry leaves the class.
            {"shadowed", "Shadowed", "", "shadowed", "User Copy"},
            {"gone", "Gone", "", "Gone", "Gone"},
        };
        X11Workspace workspace;
        QVERIFY(workspace.isConnected());
        WindowClient client;
        QList<quint32> windows;
        for (const auto &row : rows)
            windows.append(client.open(row.instance, row.cls, row.applicationId));
        for (const quint32 window : windows)
            QTRY_VERIFY_WITH_TIMEOUT(client.isManaged(window), 30000);
        // Each in turn, then back to the first, now deep in the stack.
        for (qsizetype i = 0; i <= windows.size(); ++i) {
            const auto &row = rows[i % windows.size()];
            const quint32 window = windows[i % windows.size()];
            // A window manager busy with other clients may let a request go; ask again each
            // second, as a user would click again, until it is done.
            QElapsedTimer asked;
            QVERIFY(QTest::qWaitFor(
                [&] {
                    if (!asked.isValid() || asked.hasExpired(1000)) {
                        workspace.activateWindow(window);
                        asked.start();
                    }
                    return workspace.activeWindow() == window;
                },
                30000));
            const std::optional<AppInfo> app = workspace.activeApplication();
            QVERIFY(app);
            QCOMPARE(app->appId, QString::fromLatin1(row.appId));
            QCOMPARE(app->name, QString::fromLatin1(row.name));
            QCOMPARE(app->pid, 4242);
            QCOMPARE(workspace.windowClass(window), QString::fromLatin1(row.cls));
        }
    }

    void desktopIndexRescansOnlyAfterItsInterval()
    {
        const QString dir = QFile::decodeName(qgetenv("XDG_DATA_HOME")) + "/applications";
        DesktopEntryIndex eager(0);
        DesktopEntryIndex lazy(60 * 1000);
        QVERIFY(!eager.byWindowClass("Late", "late"));
        QVERIFY(!lazy.byWindowClass("Late", "late"));
        writeText(dir + "/late.desktop", "[Desktop Entry]\nName=Late Arrival\n");
        const auto cleanup = qScopeGuard([&dir] { QFile::remove(dir + "/late.desktop"); });
        QCOMPARE(eager.byWindowClass("Late", "late")->name, QStringLiteral("Late Arrival"));
        QVERIFY(!lazy.byWindowClass("Late", "late"));
        // Known entries are answered from the index without a scan.
        QCOMPARE(lazy.byId("ZETTEL")->id, QStringLiteral("zettel"));
    }

    void withoutDisplayEverythingIsEmpty()
    {
        X11Workspace workspace(":9999");
        QVERIFY(!workspace.isConnected());
        QCOMPARE(workspace.activeWindow(), 0u);
        QVERIFY(!workspace.activeApplication());
        QVERIFY(workspace.windowClass(1234).isEmpty());
        workspace.activateWindow(1234);

        X11KeySynthesizer keys(":9999");
        QVERIFY(!keys.canSendKeys());
        std::optional<bool> sent;
        keys.sendPasteKeystroke(PasteKey::ControlV, [&sent](bool ok) { sent = ok; });
        QCOMPARE(sent, std::optional(false));
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
        QSignalSpy sleeps(&workspace, &Workspace::aboutToSleep);
        QSignalSpy wakes(&workspace, &Workspace::resumed);
        for (const bool sleeping : {true, false}) {
            QDBusMessage signal = QDBusMessage::createSignal(
                "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep");
            signal << sleeping;
            QVERIFY(logind.send(signal));
            QTRY_COMPARE_WITH_TIMEOUT(sleeps.size() + wakes.size(), sleeping ? 1 : 2, 30000);
            QCOMPARE(sleeps.size(), 1);
        }
    }

    void sendPaste_data()
    {
        QTest::addColumn<PasteKey>("key");
        QTest::addColumn<int>("alt"); // 0: not held, 1: released while the paste waits, 2: held
        QTest::addColumn<QKeyCombination>("arrived");
        const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
        QTest::newRow("Ctrl+V") << PasteKey::ControlV << 0 << (ctrl | Qt::Key_V);
        QTest::newRow("Ctrl+Shift+V")
            << PasteKey::ControlShiftV << 0 << (ctrl | Qt::ShiftModifier | Qt::Key_V);
        QTest::newRow("Shift+Insert")
            << PasteKey::ShiftInsert << 0 << (Qt::ShiftModifier | Qt::Key_Insert);
        // A held modifier would turn the stroke into another shortcut, so it is waited out,
        // though not for ever.
        QTest::newRow("Alt released while waiting")
            << PasteKey::ControlV << 1 << (ctrl | Qt::Key_V);
        QTest::newRow("Alt never released")
            << PasteKey::ControlV << 2 << (ctrl | Qt::AltModifier | Qt::Key_V);
    }

    void sendPaste()
    {
        QFETCH(PasteKey, key);
        QFETCH(int, alt);
        QFETCH(QKeyCombination, arrived);
        X11KeySynthesizer keys;
        QVERIFY(keys.canSendKeys());
        KeyWindow window;
        window.resize(200, 120);
        window.show();
        window.requestActivate();
        QTRY_VERIFY_WITH_TIMEOUT(window.isActive(), 30000);
        const auto cleanup = qScopeGuard([] { QProcess::execute("xdotool", {"keyup", "alt"}); });
        if (alt > 0) {
            QCOMPARE(QProcess::execute("xdotool", {"keydown", "alt"}), 0);
            QTRY_VERIFY_WITH_TIMEOUT(keys.anyModifierHeld(), 30000);
        }
        std::optional<bool> sent;
        keys.sendPasteKeystroke(key, [&sent](bool ok) { sent = ok; });
        if (alt > 0) {
            // The wait runs on the event loop: the call came back with the stroke still due.
            QVERIFY(!sent);
            QVERIFY(!window.stroke);
        }
        // Released while this thread, and with it the wait, is blocked: the wait's next look
        // finds it let go however long the release took.
        if (alt == 1)
            QCOMPARE(QProcess::execute("xdotool", {"keyup", "alt"}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(sent, 30000);
        QVERIFY(*sent);

        QTRY_VERIFY_WITH_TIMEOUT(window.stroke, 30000);
        QCOMPARE(*window.stroke, arrived);
        QCOMPARE(keys.anyModifierHeld(), alt == 2);
    }

    void eventSoundNeverBlocks()
    {
        for (int round = 0; round < 2; ++round) {
            CanberraEventSound sound;
            for (int i = 0; i < 5; ++i)
                sound.play();
        }
    }
};

ULVANE_X11_TEST_MAIN(TestX11Workspace)
#include "test_x11_workspace.moc"
