#include "TestMain.h"
#include "WaylandTestKeyboard.h"

#include "platform/wayland/WaylandToplevels.h"
#include "store/Store.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>

#include <functional>
#include <memory>

namespace {

constexpr int settleMs = 30000;
const QString pickerAppId = QStringLiteral("org.brisel.Ulvane");

// A session bus of the test's own in a folder every user may enter. Run as root, the tests
// have sway run as another user, and what a sway binding starts runs as that user too: the
// bus lets any user in, where a session bus takes only its owner.
class OpenBus
{
public:
    OpenBus()
    {
        m_folder = QDir::cleanPath(QStringLiteral("/tmp/ulvane-open-bus-") +
                                   QString::number(QCoreApplication::applicationPid()));
        QDir().mkpath(m_folder);
        QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                            QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                            QFileDevice::ExeGroup);
        QFile config(m_folder + QStringLiteral("/bus.conf"));
        if (config.open(QIODevice::WriteOnly))
            config.write("<busconfig><type>session</type>"
                         "<listen>unix:path=" +
                         m_folder.toUtf8() +
                         "/bus</listen>"
                         "<auth>EXTERNAL</auth>"
                         "<policy context=\"default\"><allow user=\"*\"/>"
                         "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                         "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                         "</busconfig>");
        config.close();
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + config.fileName(),
                        QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (m_daemon.waitForReadyRead(10000))
            m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~OpenBus()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished();
        QDir(m_folder).removeRecursively();
    }
    QString address() const { return m_address; }
    QString folder() const { return m_folder; }

private:
    QString m_folder;
    QProcess m_daemon;
    QString m_address;
};

} // namespace

// The real binary in a Wayland session: it picks the data-control backend by itself, stores
// what Wayland clients copy without ever having the focus, under the application in front, and
// opens its picker as a window of its own that takes the keyboard and gives it back.
class TestWaylandAppE2E : public QObject
{
    Q_OBJECT

    OpenBus m_bus;
    QString m_launcher; // a copy every user may run
    QProcess m_trayHost;
    QProcess m_app;
    QByteArray m_log;
    QProcess m_terminal;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<WaylandToplevels> m_toplevels;
    std::unique_ptr<WaylandTestKeyboard> m_keyboard;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(!m_bus.address().isEmpty());
        m_launcher = m_bus.folder() + QStringLiteral("/ulvane");
        QVERIFY(QFile::copy(QStringLiteral(ULVANE_BINARY), m_launcher));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
        m_app.setProcessEnvironment(env);
        m_app.start(QStringLiteral(ULVANE_BINARY), {});
        QVERIFY(m_app.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT((m_log += m_app.readAllStandardError()).contains("[App] launched"),
                                 settleMs);
        m_store = std::make_unique<Store>(qEnvironmentVariable("XDG_DATA_HOME") +
                                          QStringLiteral("/Vesk"));
        m_toplevels = std::make_unique<WaylandToplevels>();
        QVERIFY(m_toplevels->isValid());
        m_keyboard = std::make_unique<WaylandTestKeyboard>();
        QVERIFY(m_keyboard->isReady());
    }

    void cleanupTestCase()
    {
        m_terminal.kill();
        m_terminal.waitForFinished();
        m_app.terminate();
        if (!m_app.waitForFinished(5000))
            m_app.kill();
        m_trayHost.kill();
        m_trayHost.waitForFinished();
    }

    void choosesTheWaylandBackend()
    {
        QVERIFY2(m_log.contains("[Platform] Wayland clipboard through wlr-data-control\n"),
                 m_log.constData());
    }

    void storesCopiesUnderTheApplicationInFront()
    {
        m_terminal.start(QStringLiteral("foot"), {QStringLiteral("sleep"), QStringLiteral("120")});
        QVERIFY(m_terminal.waitForStarted());
        // A copy made before the terminal is in front would be stored without it; wait for
        // the compositor to focus it.
        QTRY_COMPARE_WITH_TIMEOUT(activeAppId(), QStringLiteral("foot"), settleMs);

        QProcess copy;
        copy.start(QStringLiteral("wl-copy"), {QStringLiteral("copied in foot")});
        QVERIFY(copy.waitForFinished(settleMs));
        QTRY_COMPARE_WITH_TIMEOUT(m_store->count(), 1, settleMs);
        const Clip clip = m_store->search({}, ClipFilter::All, 5).first();
        QCOMPARE(m_store->plainText(clip.id), QStringLiteral("copied in foot"));
        QCOMPARE(clip.appId, QStringLiteral("foot"));
    }

    // A status bar of a wlroots desktop hosts the icon, and reads the menu from the app to
    // draw it itself. Desktops start their bar beside their applications: this one comes
    // after the app.
    void trayIconIsHosted()
    {
        QVERIFY2(m_log.contains("[App] no system tray"), m_log.constData());
        startTrayHost();
        QTRY_VERIFY_WITH_TIMEOUT(!trayItem().isEmpty(), settleMs);
        const QString item = trayItem();
        const QByteArray menu = busCall(item, QStringLiteral("/MenuBar"),
                                        QStringLiteral("com.canonical.dbusmenu.GetLayout"),
                                        {QStringLiteral("int32:0"), QStringLiteral("int32:-1"),
                                         QStringLiteral("array:string:")});
        QVERIFY2(menu.contains("Show Clipboard") && menu.contains("Quit Ulvane"), menu.constData());
    }

    void pickerTakesTheKeyboardAndGivesItBack_data()
    {
        QTest::addColumn<bool>("byBinding");
        QTest::newRow("ulvane --show") << false;
        QTest::newRow("compositor binding") << true;
        QTest::newRow("tray icon click") << false;
        QTest::newRow("ulvane --show again") << false;
    }
    void pickerTakesTheKeyboardAndGivesItBack()
    {
        QFETCH(bool, byBinding);
        QTRY_COMPARE_WITH_TIMEOUT(activeAppId(), QStringLiteral("foot"), settleMs);
        if (QByteArray(QTest::currentDataTag()) == "tray icon click") {
            // What the bar sends for a left click; the app cannot pop a menu of its own there.
            busCall(trayItem(), QStringLiteral("/StatusNotifierItem"),
                    QStringLiteral("org.kde.StatusNotifierItem.Activate"),
                    {QStringLiteral("int32:1900"), QStringLiteral("int32:10")});
        } else if (byBinding) {
            // What a user writes in the sway configuration. The binding's command runs as the
            // compositor's user, with the compositor's environment.
            // sway splits commands at commas: the address goes without its guid.
            QVERIFY(swaymsg(
                {QStringLiteral("bindsym"), QStringLiteral("ctrl+alt+v"), QStringLiteral("exec"),
                 QStringLiteral("env DBUS_SESSION_BUS_ADDRESS=unix:path=%1/bus %2 --show")
                     .arg(m_bus.folder(), m_launcher)}));
            QVERIFY(m_keyboard->tap(WaylandTestKeyboard::V,
                                    {WaylandTestKeyboard::LeftCtrl, WaylandTestKeyboard::LeftAlt}));
        } else {
            QVERIFY(showByLauncher());
        }
        QTRY_COMPARE_WITH_TIMEOUT(activeAppId(), pickerAppId, settleMs);

        // A tiling compositor floats it over the window in front, centred on the output,
        // instead of squeezing that window aside.
        const QJsonObject output = swayNode(QStringLiteral("output"), {});
        const QJsonObject picker = swayNode(QStringLiteral("floating_con"), pickerAppId);
        QVERIFY2(!picker.isEmpty(), "the picker is not a floating window");
        const QRect screen = rectOf(output);
        const QRect window = rectOf(picker);
        QVERIFY(screen.contains(window));
        QVERIFY(qAbs(window.center().x() - screen.center().x()) <= 2);

        QVERIFY(m_keyboard->tap(WaylandTestKeyboard::Escape));
        QTRY_COMPARE_WITH_TIMEOUT(activeAppId(), QStringLiteral("foot"), settleMs);
        QTRY_VERIFY_WITH_TIMEOUT(swayNode(QStringLiteral("floating_con"), pickerAppId).isEmpty(),
                                 settleMs);
    }

    void pasteGoesBackToTheTerminal()
    {
        // A terminal whose program writes down every byte the paste types, unbuffered.
        const QString typed = TestEnv::home().path() + QStringLiteral("/typed");
        QProcess terminal;
        terminal.start(QStringLiteral("foot"),
                       {QStringLiteral("sh"), QStringLiteral("-c"),
                        QStringLiteral("stty raw -echo; exec cat > '%1'").arg(typed)});
        QVERIFY(terminal.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(typed), settleMs);
        // This terminal, not the one of the tests before: a new window takes the keyboard when
        // it maps, and would take it from the picker were it still on its way.
        QTRY_COMPARE_WITH_TIMEOUT(focusedPid(), terminal.processId(), settleMs);

        QVERIFY(showByLauncher());
        QTRY_COMPARE_WITH_TIMEOUT(activeAppId(), pickerAppId, settleMs);
        QVERIFY(m_keyboard->tap(WaylandTestKeyboard::Return));
        QTRY_COMPARE_WITH_TIMEOUT(activeAppId(), QStringLiteral("foot"), settleMs);
        const auto typedSoFar = [&typed] {
            QFile file(typed);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_VERIFY_WITH_TIMEOUT(typedSoFar().contains("copied in foot"), settleMs);
        terminal.kill();
        terminal.waitForFinished();
    }

    // A GTK editor drops keys that come too soon after it gained the focus; the paste must
    // wait for it.
    void pasteReachesAGtkEditor()
    {
        const QString typed = TestEnv::home().path() + QStringLiteral("/typed-in-gtk");
        QProcess editor;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("wayland"));
        editor.setProcessEnvironment(env);
        editor.start(
            QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"),
             QStringLiteral(
                 "import sys, gi; gi.require_version('Gtk', '3.0'); from gi.repository import "
                 "GLib, Gtk\n"
                 "GLib.set_prgname('editor')\n"
                 "w = Gtk.Window(); e = Gtk.Entry(); w.add(e)\n"
                 "e.connect('changed', lambda e: open(sys.argv[1], 'w').write(e.get_text()))\n"
                 "w.show_all(); Gtk.main()"),
             typed});
        QVERIFY(editor.waitForStarted());
        const auto stop = qScopeGuard([&editor] { editor.kill(), editor.waitForFinished(); });
        QTRY_COMPARE_WITH_TIMEOUT(focusedPid(), editor.processId(), settleMs);

        QVERIFY(showByLauncher());
        QTRY_COMPARE_WITH_TIMEOUT(activeAppId(), pickerAppId, settleMs);
        QVERIFY(m_keyboard->tap(WaylandTestKeyboard::Return));
        const auto typedSoFar = [&typed] {
            QFile file(typed);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_COMPARE_WITH_TIMEOUT(typedSoFar(), QByteArray("copied in foot"), settleMs);
        m_log += m_app.readAllStandardError();
        QVERIFY2(m_log.contains("[Paste] sent Ctrl+V to editor"), m_log.constData());
    }

    // Last: it changes what the tests before would paste.
    void skipsCopiesMarkedAsPasswords()
    {
        const int before = m_store->count();
        QProcess owner;
        owner.start(QStringLiteral(ULVANE_WAYLAND_OWNER),
                    {QStringLiteral("--type"), QStringLiteral("text/plain;charset=utf-8=hunter2"),
                     QStringLiteral("--type"), QStringLiteral("x-kde-passwordManagerHint=secret")});
        QVERIFY(owner.waitForReadyRead(settleMs));
        QVERIFY(owner.readAll().contains("ready"));
        // Copies are read one at a time, in order: once the next one is stored, the secret
        // has been read and passed over.
        QProcess copy;
        copy.start(QStringLiteral("wl-copy"), {QStringLiteral("after the secret")});
        QVERIFY(copy.waitForFinished(settleMs));
        QTRY_COMPARE_WITH_TIMEOUT(m_store->count(), before + 1, settleMs);
        const Clip newest = m_store->search({}, ClipFilter::All, 1).first();
        QCOMPARE(m_store->plainText(newest.id), QStringLiteral("after the secret"));
        QCOMPARE(m_store->search(QStringLiteral("hunter2"), ClipFilter::All, 5).size(), 0);
        owner.kill();
        owner.waitForFinished();
    }

private:
    // waybar with nothing but its tray, on the test's bus.
    void startTrayHost()
    {
        const QString folder = TestEnv::home().path() + QStringLiteral("/bar");
        QDir().mkpath(folder);
        QFile config(folder + QStringLiteral("/config"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(R"({"layer": "top", "height": 24, "modules-right": ["tray"]})");
        config.close();
        QFile style(folder + QStringLiteral("/style.css"));
        QVERIFY(style.open(QIODevice::WriteOnly));
        style.write("window#waybar { background: #202020; }");
        style.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
        m_trayHost.setProcessEnvironment(env);
        m_trayHost.start(QStringLiteral("waybar"), {QStringLiteral("-c"), config.fileName(),
                                                    QStringLiteral("-s"), style.fileName()});
        QVERIFY(m_trayHost.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(busCall(QStringLiteral("org.kde.StatusNotifierWatcher"),
                                         QStringLiteral("/StatusNotifierWatcher"),
                                         QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                                         {QStringLiteral("string:org.kde.StatusNotifierWatcher"),
                                          QStringLiteral("string:IsStatusNotifierHostRegistered")})
                                     .contains("boolean true"),
                                 settleMs);
    }

    // The bus name of the one item the tray host shows.
    QString trayItem() const
    {
        const QByteArray reply = busCall(QStringLiteral("org.kde.StatusNotifierWatcher"),
                                         QStringLiteral("/StatusNotifierWatcher"),
                                         QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                                         {QStringLiteral("string:org.kde.StatusNotifierWatcher"),
                                          QStringLiteral("string:RegisteredStatusNotifierItems")});
        const QRegularExpressionMatch item =
            QRegularExpression(QStringLiteral("string \"([^/\"]+)/"))
                .match(QString::fromUtf8(reply));
        return item.hasMatch() ? item.captured(1) : QString();
    }

    QByteArray busCall(const QString &destination, const QString &path, const QString &method,
                       const QStringList &arguments) const
    {
        QProcess send;
        send.start(QStringLiteral("dbus-send"),
                   QStringList{QStringLiteral("--bus=") + m_bus.address(),
                               QStringLiteral("--print-reply"),
                               QStringLiteral("--dest=") + destination, path, method} +
                       arguments);
        if (!send.waitForFinished(settleMs))
            return {};
        return send.readAllStandardOutput();
    }

    bool showByLauncher()
    {
        QProcess show;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
        show.setProcessEnvironment(env);
        show.start(m_launcher, {QStringLiteral("--show")});
        return show.waitForFinished(settleMs) && show.exitCode() == 0;
    }

    QString activeAppId() const
    {
        const std::optional<WaylandToplevels::Window> window = m_toplevels->active();
        return window ? window->appId : QString();
    }

    static bool swaymsg(const QStringList &arguments, QByteArray *out = nullptr)
    {
        QProcess process;
        process.start(QStringLiteral("swaymsg"), arguments);
        if (!process.waitForFinished(settleMs) || process.exitCode() != 0)
            return false;
        if (out)
            *out = process.readAllStandardOutput();
        return true;
    }

    // The first node of the compositor's tree of that type (and application), depth first.
    static QJsonObject swayNode(const QString &type, const QString &appId)
    {
        return swayNodeWhere([&](const QJsonObject &node) {
            return node.value(u"type").toString() == type &&
                   (appId.isEmpty() || node.value(u"app_id").toString() == appId);
        });
    }

    // The window with the keyboard, as the compositor's process id for it.
    static qint64 focusedPid()
    {
        return swayNodeWhere(
                   [](const QJsonObject &node) { return node.value(u"focused").toBool(); })
            .value(u"pid")
            .toInteger();
    }

    static QJsonObject swayNodeWhere(const std::function<bool(const QJsonObject &)> &matches)
    {
        QByteArray json;
        if (!swaymsg({QStringLiteral("-t"), QStringLiteral("get_tree"), QStringLiteral("-r")},
                     &json))
            return {};
        std::function<QJsonObject(const QJsonObject &)> find =
            [&](const QJsonObject &node) -> QJsonObject {
            if (matches(node))
                return node;
            for (const char *children : {"nodes", "floating_nodes"}) {
                for (const QJsonValue &child : node.value(QLatin1String(children)).toArray()) {
                    const QJsonObject found = find(child.toObject());
                    if (!found.isEmpty())
                        return found;
                }
            }
            return {};
        };
        return find(QJsonDocument::fromJson(json).object());
    }

    static QRect rectOf(const QJsonObject &node)
    {
        const QJsonObject rect = node.value(u"rect").toObject();
        return QRect(rect.value(u"x").toInt(), rect.value(u"y").toInt(),
                     rect.value(u"width").toInt(), rect.value(u"height").toInt());
    }
};

int main(int argc, char **argv)
{
    return TestEnv::run<QGuiApplication, TestWaylandAppE2E>(argc, argv, false);
}

#include "test_wayland_app_e2e.moc"
