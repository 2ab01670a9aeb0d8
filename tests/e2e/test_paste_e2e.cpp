// Serial paste against a real X server: the real pasteboard, window activation, XTEST key
// strokes and key grabs, with a window of this process as the paste target and xmessage as a
// foreign application that takes the focus in between. A paste from the picker into the window
// it was shown over is test_app_e2e's.

#include "capture/PasteboardMonitor.h"
#include "paste/PasteService.h"
#include "paste/SerialPaste.h"
#include "platform/x11/X11HotKeyRegistrar.h"
#include "platform/x11/X11KeySynthesizer.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11Workspace.h"
#include "StderrCapture.h"
#include "store/Store.h"
#include "TestFiles.h"
#include "TestMain.h"
#include "X11Clients.h"
#include "X11RawOwner.h"

#include <memory>

using namespace X11Clients;

class TestPasteE2E : public QObject
{
    Q_OBJECT

private:
    bool activate(quint64 window)
    {
        m_workspace->activateWindow(window);
        return QTest::qWaitFor([&] { return m_workspace->activeWindow() == window; }, timeoutMs);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<X11Pasteboard> m_pasteboard;
    std::unique_ptr<X11Workspace> m_workspace;
    std::unique_ptr<X11KeySynthesizer> m_keys;
    std::unique_ptr<PasteService> m_service;
    std::unique_ptr<SerialPaste> m_serial;
    std::unique_ptr<PasteboardMonitor> m_monitor;
    TargetWindow m_target;
    QProcess m_foreign;
    quint64 m_foreignWindow = 0;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_store = std::make_unique<Store>(m_dir.path());
        m_pasteboard = std::make_unique<X11Pasteboard>();
        m_workspace = std::make_unique<X11Workspace>();
        m_keys = std::make_unique<X11KeySynthesizer>();
        QVERIFY(m_workspace->isConnected());
        QVERIFY(m_keys->canSendKeys());
        m_service = std::make_unique<PasteService>(*m_pasteboard, *m_keys, *m_workspace, *m_store,
                                                   [] { return true; });
        m_serial = std::make_unique<SerialPaste>(*m_service, *m_store);
        CaptureHooks hooks;
        hooks.recordSerial = [this](const QString &id) { m_serial->recordIfNeeded(id); };
        m_monitor = std::make_unique<PasteboardMonitor>(
            *m_pasteboard, *m_workspace, *m_store, [] { return CaptureSettings{}; }, hooks);
        m_monitor->start();

        m_target.setTitle(u"paste target"_qs);
        m_target.resize(320, 200);
        m_target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_target));

        // Copies count as the user's only while a foreign application is in front.
        m_foreign.start(u"xmessage"_qs, {u"elsewhere"_qs});
        QVERIFY(m_foreign.waitForStarted(timeoutMs));
        const QByteArray found =
            run(u"xdotool"_qs, {u"search"_qs, u"--sync"_qs, u"--classname"_qs, u"xmessage"_qs});
        m_foreignWindow = found.trimmed().split('\n').last().toULongLong();
        QVERIFY(m_foreignWindow != 0);
    }

    void cleanupTestCase()
    {
        m_foreign.kill();
        m_foreign.waitForFinished(timeoutMs);
    }

    // Foreign copies made while the monitor runs come back one per press, oldest first.
    void serialPasteThroughHotKey()
    {
        X11HotKeyRegistrar registrar;
        const HotKeyRegistrar::Grab grab =
            registrar.grab(QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key_P));
        QVERIFY2(grab.granted(), qPrintable(QString::number(int(grab.status))));
        const quint32 handle = grab.handle;
        connect(&registrar, &HotKeyRegistrar::pressed, m_serial.get(), [&](quint32 pressed) {
            if (pressed == handle)
                m_serial->pasteNext();
        });

        QVERIFY(activate(m_foreignWindow));
        m_serial->toggleRecording();
        const QStringList copies = {u"first copy"_qs, u"second copy"_qs, u"third copy"_qs};
        for (const QString &copy : copies) {
            const int queued = m_serial->queueLength();
            run(u"xclip"_qs, {u"-selection"_qs, u"clipboard"_qs}, copy.toUtf8());
            QTRY_COMPARE_WITH_TIMEOUT(m_serial->queueLength(), queued + 1, timeoutMs);
        }

        QVERIFY(activate(m_target.winId()));
        for (qsizetype i = 0; i < copies.size(); ++i) {
            run(u"xdotool"_qs, {u"key"_qs, u"ctrl+alt+p"_qs});
            QTRY_COMPARE_WITH_TIMEOUT(m_target.pasted.size(), i + 1, timeoutMs);
        }
        QCOMPARE(m_target.pasted, copies);
        // Our own writes never come back as new copies while recording.
        QCOMPARE(m_serial->queueLength(), 0);
    }

    void terminalsGetTheirPasteKey_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<QString>("key");
        // xterm pastes only the primary selection from the keyboard.
        QTest::newRow("xterm") << u"xterm"_qs << u"XTerm"_qs << u"Shift+Insert"_qs;
        QTest::newRow("st") << u"st"_qs << u"st-256color"_qs << u"Ctrl+Shift+V"_qs;
    }

    // The real terminal runs a shell line that keeps what arrives: a wrong key types a
    // control character instead, and the line never comes.
    void terminalsGetTheirPasteKey()
    {
        QFETCH(QString, program);
        QFETCH(QString, windowClass);
        QFETCH(QString, key);
        const QString out = m_dir.filePath(program + u".out"_qs);
        QProcess terminal;
        terminal.start(program, {u"-e"_qs, u"sh"_qs, u"-c"_qs,
                                 u"IFS= read -r line; printf %s \"$line\" > \"$0\""_qs, out});
        const auto stop = qScopeGuard([&terminal] { terminal.kill(), terminal.waitForFinished(); });
        const QByteArray found =
            run(u"xdotool"_qs,
                {u"search"_qs, u"--sync"_qs, u"--onlyvisible"_qs, u"--class"_qs, windowClass});
        const quint64 window = found.trimmed().split('\n').last().toULongLong();
        QVERIFY(window != 0);
        // The user was working in it, as when the picker came up over it.
        QVERIFY(activate(window));
        const QString text = u"typed into "_qs + program;
        StderrCapture log;
        m_service->pasteText(text + u'\n', PasteTarget{window});
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(fileText(out)), text, timeoutMs);
        QVERIFY(log.text().contains(u"[Paste] sent %1 to %2"_qs.arg(key, windowClass).toUtf8()));
    }

    // The owner is read off the GUI thread: the call comes back before anything is written,
    // and the plain text takes the rich offer's place once it has been read.
    void stripFormattingReadsOffTheGuiThread()
    {
        X11Raw::OfferOwner owner({{"text/html", "<b>bold</b>"}, {"UTF8_STRING", "bold"}});
        QVERIFY(owner.claim());
        QTRY_VERIFY_WITH_TIMEOUT(!m_pasteboard->ownsClipboard(), timeoutMs);
        m_service->stripFormatting();
        QVERIFY(!m_pasteboard->ownsClipboard());
        QTRY_VERIFY_WITH_TIMEOUT(m_pasteboard->ownsClipboard(), timeoutMs);
        QCOMPARE(m_pasteboard->read({Uti::plainText, Uti::html}).value(),
                 (ItemList{{{Uti::plainText, "bold"}}}));
    }
};

ULVANE_X11_TEST_MAIN(TestPasteE2E)
#include "test_paste_e2e.moc"
