#include "TestMain.h"
#include "WaylandTestKeyboard.h"

#include "capture/PasteboardMonitor.h"
#include "platform/PasteKeys.h"
#include "platform/wayland/WaylandDataControl.h"
#include "platform/wayland/WaylandKeySynthesizer.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "store/Store.h"

#include <QBuffer>
#include <QEventLoop>
#include <QImage>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

namespace {

// Generous: only a hang should fail.
constexpr int settleMs = 30000;

QByteArray pngBytes()
{
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A real client's copy: wl-copy sets the clipboard and leaves a child serving it.
void wlCopy(const QStringList &args, const QByteArray &content)
{
    QProcess copy;
    copy.start(QStringLiteral("wl-copy"), args);
    QVERIFY(copy.waitForStarted());
    copy.write(content);
    copy.closeWriteChannel();
    QVERIFY(copy.waitForFinished(settleMs));
    QCOMPARE(copy.exitCode(), 0);
}

// Waits on the event loop: our own content is served from it.
QByteArray wlPaste(const QStringList &args)
{
    QProcess paste;
    QEventLoop loop;
    QObject::connect(&paste, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(settleMs, &loop, &QEventLoop::quit);
    paste.start(QStringLiteral("wl-paste"), args);
    loop.exec();
    if (paste.state() != QProcess::NotRunning) {
        paste.kill();
        paste.waitForFinished();
        return QByteArray("wl-paste hung");
    }
    return paste.readAllStandardOutput();
}

const Flavor *flavorOf(const std::optional<ItemList> &items, const QString &uti, int item = 0)
{
    if (!items || items->size() <= item)
        return nullptr;
    for (const Flavor &flavor : items->at(item)) {
        if (flavor.uti == uti)
            return &flavor;
    }
    return nullptr;
}

} // namespace

class TestWaylandPasteboard : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<WaylandPasteboard> m_pb;
    std::unique_ptr<WaylandWorkspace> m_workspace;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<PasteboardMonitor> m_monitor;
    std::unique_ptr<QProcess> m_owner;

    // The tests' own owner; true once the compositor has its selection.
    bool startOwner(const QStringList &args)
    {
        m_owner = std::make_unique<QProcess>();
        m_owner->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_owner->start(QStringLiteral(ULVANE_WAYLAND_OWNER), args);
        return m_owner->waitForReadyRead(settleMs) && m_owner->readLine().trimmed() == "ready";
    }

    // Waits until the clipboard changes have been taken in and every capture has ended.
    void settle(qint64 changesBefore, int changes)
    {
        QTRY_VERIFY_WITH_TIMEOUT(m_pb->changeCount() >= changesBefore + changes, settleMs);
        QTRY_VERIFY_WITH_TIMEOUT(m_monitor->lastChangeCount() == m_pb->changeCount() &&
                                     !m_monitor->isCapturing(),
                                 settleMs);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(qEnvironmentVariableIsSet("WAYLAND_DISPLAY"));
        auto control = std::make_unique<WaylandDataControl>();
        QVERIFY2(control->isValid(), "the compositor offers no data-control");
        m_pb = std::make_unique<WaylandPasteboard>(std::move(control));
        QVERIFY(m_pb->announcesChanges());
        m_workspace = std::make_unique<WaylandWorkspace>();
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_store = std::make_unique<Store>(m_dir->path());
        m_monitor = std::make_unique<PasteboardMonitor>(
            *m_pb, *m_workspace, *m_store, PasteboardMonitor::SettingsProvider(), CaptureHooks());
        m_monitor->start();
    }

    void cleanup()
    {
        if (m_owner) {
            m_owner->kill();
            m_owner->waitForFinished();
            m_owner.reset();
        }
        m_monitor.reset();
        m_store.reset();
    }

    // Offers of real clients come in as the type map says, and each copy is stored once.
    void realClientsCopies_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("uti");
        QTest::addColumn<QByteArrayList>("expected"); // item by item; empty: nothing kept

        QTest::newRow("text") << QStringList{"--type", "text/plain;charset=utf-8"}
                              << QByteArray("Привіт, wayland") << Uti::plainText
                              << QByteArrayList{"Привіт, wayland"};
        QTest::newRow("html") << QStringList{"--type", "text/html"} << QByteArray("<b>bold</b>")
                              << Uti::html << QByteArrayList{"<b>bold</b>"};
        QTest::newRow("png") << QStringList{"--type", "image/png"} << pngBytes() << Uti::png
                             << QByteArrayList{pngBytes()};
        QTest::newRow("files") << QStringList{"--type", "text/uri-list"}
                               << QByteArray("file:///tmp/a.txt\r\nfile:///tmp/b%20c.txt\r\n")
                               << Uti::fileUrl
                               << QByteArrayList{"file:///tmp/a.txt", "file:///tmp/b%20c.txt"};
        // The primary selection is the user's middle-click buffer, never history.
        QTest::newRow("primary only")
            << QStringList{"--primary", "--type", "text/plain"}
            << QByteArray("selected, not copied") << Uti::plainText << QByteArrayList{};
    }

    void realClientsCopies()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, content);
        QFETCH(QString, uti);
        QFETCH(QByteArrayList, expected);

        QSignalSpy finished(m_monitor.get(), &PasteboardMonitor::captureFinished);
        wlCopy(args, content);
        if (expected.isEmpty()) {
            // The clipboard proper is set afterwards: its change must be the only capture.
            wlCopy({QStringLiteral("--type"), QStringLiteral("text/plain")}, "marker");
            QTRY_COMPARE_WITH_TIMEOUT(m_store->count(), 1, settleMs);
            QCOMPARE(m_store->plainText(m_store->search({}, ClipFilter::All, 5).first().id),
                     QStringLiteral("marker"));
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_store->count(), 1, settleMs);
        QTRY_VERIFY_WITH_TIMEOUT(!m_monitor->isCapturing(), settleMs);
        QCOMPARE(finished.size(), 1);

        const std::optional<ItemList> items = m_pb->read(PasteboardMonitor::storableUTIs());
        QVERIFY(items);
        QCOMPARE(items->size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            const Flavor *flavor = flavorOf(items, uti, i);
            QVERIFY2(flavor, qPrintable(QStringLiteral("item %1 lacks %2").arg(i).arg(uti)));
            QCOMPARE(flavor->data, expected.at(i));
        }
    }

    // Owners that misbehave end their own read, never the capture: the next copy is stored.
    void hostileOwners_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("kept");

        QTest::newRow("never writes") << QStringList{"--type", "text/plain=x", "--silent"} << false;
        QTest::newRow("writes forever")
            << QStringList{"--type", "text/plain=x", "--trickle"} << false;
        QTest::newRow("100 MiB") << QStringList{"--type", "text/plain=x", "--flood", "104857600"}
                                 << false;
        QTest::newRow("password hint") << QStringList{"--type", "text/plain=hunter2", "--type",
                                                      "x-kde-passwordManagerHint=secret"}
                                       << false;
        QTest::newRow("thousands of types")
            << QStringList{"--type", "text/plain=many types", "--many", "3000"} << true;
    }

    void hostileOwners()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, kept);

        const qint64 before = m_pb->changeCount();
        QVERIFY(startOwner(args));
        settle(before, 1);
        QCOMPARE(m_store->count(), kept ? 1 : 0);

        wlCopy({QStringLiteral("--type"), QStringLiteral("text/plain")}, "after the owner");
        QTRY_COMPARE_WITH_TIMEOUT(m_store->count(), kept ? 2 : 1, settleMs);
    }

    // Copies are attributed to the window in front, as the compositor's window list tells,
    // and a window given the focus back is in front again.
    void windowInFront()
    {
        QVERIFY(m_workspace->knowsWindows());
        auto activeAppId = [this] {
            const std::optional<AppInfo> app = m_workspace->activeApplication();
            return app ? app->appId : QString();
        };
        QProcess first;
        QProcess second;
        first.start(QStringLiteral("foot"), {"--app-id", "ulvane-first", "sleep", "120"});
        QTRY_COMPARE_WITH_TIMEOUT(activeAppId(), QStringLiteral("ulvane-first"), settleMs);
        const quint64 firstWindow = m_workspace->activeWindow();
        second.start(QStringLiteral("foot"), {"--app-id", "ulvane-second", "sleep", "120"});
        QTRY_COMPARE_WITH_TIMEOUT(activeAppId(), QStringLiteral("ulvane-second"), settleMs);

        wlCopy({QStringLiteral("--type"), QStringLiteral("text/plain")}, "from the second");
        QTRY_COMPARE_WITH_TIMEOUT(m_store->count(), 1, settleMs);
        QCOMPARE(m_store->search({}, ClipFilter::All, 5).first().appId,
                 QStringLiteral("ulvane-second"));

        m_workspace->activateWindow(firstWindow);
        QTRY_COMPARE_WITH_TIMEOUT(activeAppId(), QStringLiteral("ulvane-first"), settleMs);
        QCOMPARE(m_workspace->windowClass(firstWindow), QStringLiteral("ulvane-first"));
        first.kill();
        second.kill();
        first.waitForFinished();
        second.waitForFinished();
    }

    // The paste stroke reaches the window in front with the key its kind takes: a terminal
    // that read Ctrl+V would get a control character instead of the clip, and a GTK window
    // drops a key that comes too soon after it gained the focus.
    void pasteKeystroke_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("script"); // writes what it receives to the file "$1"
        QTest::addColumn<bool>("altHeld");   // the user still holds a hot key's Alt

        QTest::newRow("terminal") << QStringLiteral("foot")
                                  << QStringLiteral("read -r line; printf %s \"$line\" > \"$1\"")
                                  << false;
        const QString gtkEditor = QStringLiteral(
            "import sys, gi; gi.require_version('Gtk', '3.0'); from gi.repository import "
            "Gtk\n"
            "w = Gtk.Window(); e = Gtk.Entry(); w.add(e)\n"
            "e.connect('changed', lambda e: open(sys.argv[1], 'w').write(e.get_text()))\n"
            "w.show_all(); Gtk.main()");
        QTest::newRow("GTK editor") << QStringLiteral("/usr/bin/python3") << gtkEditor << false;
        // The virtual keyboard carries its own modifiers: a key still held on another keyboard
        // must not turn the stroke into Ctrl+Alt+V.
        QTest::newRow("GTK editor, Alt still held")
            << QStringLiteral("/usr/bin/python3") << gtkEditor << true;
    }

    void pasteKeystroke()
    {
        QFETCH(QString, program);
        QFETCH(QString, script);
        QFETCH(bool, altHeld);
        WaylandKeySynthesizer keys;
        QVERIFY(keys.canSendKeys());
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("pasted"));
        QProcess target;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("wayland"));
        target.setProcessEnvironment(env);
        if (program == u"foot")
            target.start(program, {"sh", "-c", script, "sh", out});
        else
            target.start(program, {"-c", script, out});
        const auto stop = qScopeGuard([&target] { target.kill(), target.waitForFinished(); });
        const quint64 before = m_workspace->activeWindow();
        QTRY_VERIFY_WITH_TIMEOUT(
            m_workspace->activeWindow() != before && m_workspace->activeWindow() != 0, settleMs);

        QVERIFY(m_pb->write({{{Uti::plainText, "pasted by key\n"}}}));
        WaylandTestKeyboard user;
        if (altHeld)
            QVERIFY(user.hold(WaylandTestKeyboard::LeftAlt));
        const auto letGo = qScopeGuard([&user, altHeld] {
            if (altHeld)
                user.release(WaylandTestKeyboard::LeftAlt);
        });
        std::optional<bool> sent;
        const QString appId = m_workspace->windowClass(m_workspace->activeWindow());
        keys.sendPasteKeystroke(PasteKeys::forWindowClass(appId), [&sent](bool ok) { sent = ok; });
        QTRY_VERIFY_WITH_TIMEOUT(sent.has_value(), settleMs);
        QVERIFY(*sent);
        auto pasted = [&out] {
            QFile file(out);
            return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
        };
        QTRY_COMPARE_WITH_TIMEOUT(pasted(), QByteArray("pasted by key"), settleMs);
    }

    // Our own content is served to other clients and never captured, until replaced.
    void ownWrites()
    {
        const qint64 before = m_pb->changeCount();
        const ItemList items = {{{Uti::plainText, "pasted by us"}, {Uti::html, "<i>us</i>"}}};
        QVERIFY(m_pb->write(items));
        QVERIFY(m_pb->ownsClipboard());
        settle(before, 1);
        QCOMPARE(m_store->count(), 0);

        QCOMPARE(wlPaste({QStringLiteral("--no-newline")}), QByteArray("pasted by us"));
        // The primary selection for terminals whose paste key inserts it; never captured.
        QVERIFY(m_pb->writePrimary({{{Uti::plainText, "middle click"}}}));
        QCOMPARE(wlPaste({QStringLiteral("--no-newline"), QStringLiteral("--primary")}),
                 QByteArray("middle click"));
        QCOMPARE(wlPaste({QStringLiteral("--no-newline"), QStringLiteral("--type"),
                          QStringLiteral("text/html")}),
                 QByteArray("<i>us</i>"));
        // Read back in process on this thread, as the paste service does for plain text.
        const std::optional<ItemList> own = m_pb->read({Uti::plainText});
        const Flavor *text = flavorOf(own, Uti::plainText);
        QVERIFY(text);
        QCOMPARE(text->data, QByteArray("pasted by us"));

        wlCopy({QStringLiteral("--type"), QStringLiteral("text/plain")}, "someone else");
        QTRY_VERIFY_WITH_TIMEOUT(!m_pb->ownsClipboard(), settleMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_store->count(), 1, settleMs);
    }
};

int main(int argc, char **argv)
{
    return TestEnv::run<QGuiApplication, TestWaylandPasteboard>(argc, argv, false);
}

#include "test_wayland_pasteboard.moc"
