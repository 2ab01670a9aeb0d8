// The real ulvane binary in a private X session, fed by real X11 clients (xclip, xdotool and
// this test's own clipboard offers) and checked through the store it writes: what it captures
// and what it leaves alone, then its hot key bringing up the picker over the window the user
// is in, typing filtering it and Return pasting back into that window.
#include "TestMain.h"
#include "X11Clients.h"

#include "platform/x11/X11Workspace.h"
#include "store/Store.h"

#include <QBuffer>
#include <QImage>
#include <QMimeData>
#include <QScreen>
#include <QSettings>

using namespace X11Clients;

namespace {

QByteArray imageBytes(int w, int h, const char *format)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

} // namespace

class TestAppE2E : public QObject
{
    Q_OBJECT

    QProcess m_app;
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

    bool activateTarget()
    {
        m_workspace->activateWindow(m_target.winId());
        return QTest::qWaitFor([&] { return m_workspace->activeWindow() == m_target.winId(); },
                               timeoutMs);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // What is on the clipboard when Ulvane starts is never taken: the first test's counts
        // would be one too many.
        copy(u"UTF8_STRING"_qs, "there before launch");
        QSettings settings(qEnvironmentVariable("XDG_CONFIG_HOME") + u"/ulvane/ulvane.conf"_qs,
                           QSettings::IniFormat);
        settings.setValue(u"pauseHotkeyLabel"_qs, QStringLiteral("\u2303\u2325X")); // Ctrl+Alt+X
        settings.setValue(u"autoPaste"_qs, true);
        settings.sync();

        m_workspace = std::make_unique<X11Workspace>();
        m_target.setTitle(u"paste target"_qs);
        m_target.resize(400, 240);
        m_target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_target));

        m_app.start(QStringLiteral(ULVANE_BINARY), {});
        QVERIFY(m_app.waitForStarted());
        QByteArray log;
        for (const char *line : {"[Monitor] started", "[App] launched"})
            QTRY_VERIFY_WITH_TIMEOUT((log += m_app.readAllStandardError()).contains(line), 20000);
        m_store = std::make_unique<Store>(qEnvironmentVariable("XDG_DATA_HOME") + u"/Vesk"_qs);
    }

    void cleanupTestCase()
    {
        m_app.terminate();
        if (!m_app.waitForFinished(5000))
            m_app.kill();
        // The xclip servers end with the session's X server.
    }

    void textIsStoredOnceAndMovesToTheTop()
    {
        copy(u"UTF8_STRING"_qs, "hello from xclip");
        QTRY_COMPARE_WITH_TIMEOUT(clips().size(), 1, timeoutMs);
        const Clip first = clips().first();
        QCOMPARE(first.kind, ClipKind::Text);
        QCOMPARE(first.excerpt, u"hello from xclip"_qs);
        QCOMPARE(m_store->plainText(first.id), std::optional<QString>(u"hello from xclip"_qs));

        copy(u"UTF8_STRING"_qs, "another text");
        QTRY_COMPARE_WITH_TIMEOUT(clips().size(), 2, timeoutMs);
        copy(u"UTF8_STRING"_qs, "hello from xclip");
        QTRY_COMPARE_WITH_TIMEOUT(clips().first().id, first.id, timeoutMs);
        QCOMPARE(clips().size(), 2);
    }

    // Every image offer is kept with a thumbnail; a TIFF-only one as PNG.
    void imagesFilesAndRichTextKeepTheirKinds()
    {
        const struct
        {
            const char *format;
            QString target;
            int w, h;
            QString keptAs;
        } images[] = {{"PNG", u"image/png"_qs, 640, 480, Uti::png},
                      {"JPEG", u"image/jpeg"_qs, 300, 200, Uti::jpeg},
                      {"TIFF", u"image/tiff"_qs, 120, 90, Uti::png}};
        for (const auto &offer : images) {
            copy(offer.target, imageBytes(offer.w, offer.h, offer.format));
            QTRY_COMPARE_WITH_TIMEOUT(clips().first().excerpt,
                                      u"Image %1×%2"_qs.arg(offer.w).arg(offer.h), timeoutMs);
            const Clip image = clips().first();
            QVERIFY(image.kind == ClipKind::Image && image.hasImage);
            QVERIFY(m_store->thumbnail(image.id));
            const auto flavors = m_store->contentFlavors(image.id);
            QVERIFY(flavors && !flavors->isEmpty());
            QCOMPARE(flavors->first().uti, offer.keptAs);
            QCOMPARE(image.byteSize, flavors->first().data.size());
        }

        copy(u"text/uri-list"_qs, "file:///tmp/report.pdf\r\nfile:///tmp/notes.txt\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(clips().first().kind == ClipKind::File, timeoutMs);
        QCOMPARE(clips().first().excerpt, u"report.pdf, notes.txt"_qs);

        auto *rich = new QMimeData;
        rich->setHtml(u"<b>bold</b> words"_qs);
        rich->setText(u"bold words"_qs);
        QGuiApplication::clipboard()->setMimeData(rich);
        QTRY_COMPARE_WITH_TIMEOUT(clips().first().excerpt, u"bold words"_qs, timeoutMs);
        const auto richFlavors = m_store->contentFlavors(clips().first().id);
        QVERIFY(richFlavors && Flavors::contains(*richFlavors, Uti::html));
        QVERIFY(Flavors::contains(*richFlavors, Uti::plainText));
    }

    // Secrets, Ulvane's own pastes, oversized copies and copies while paused.
    void copiesThatAreNeverStored()
    {
        const Clip top = clips().first();
        auto *secret = new QMimeData;
        secret->setText(u"hunter2"_qs);
        secret->setData(u"x-kde-passwordManagerHint"_qs, "secret");
        QGuiApplication::clipboard()->setMimeData(secret);
        QTest::qWait(800);
        auto *own = new QMimeData;
        own->setText(u"pasted by ulvane"_qs);
        own->setData(u"org.brisel.Ulvane.self"_qs, QByteArray(1, '\x01'));
        QGuiApplication::clipboard()->setMimeData(own);
        QTest::qWait(800);
        copy(u"UTF8_STRING"_qs, QByteArray(26214401, 'x'));
        QTest::qWait(2500);

        key(u"ctrl+alt+x"_qs); // pause
        QTest::qWait(500);
        copy(u"UTF8_STRING"_qs, "copied while paused");
        QTest::qWait(1000);
        key(u"ctrl+alt+x"_qs); // resume
        QTest::qWait(500);

        // A marker copy after them proves the monitor was looking all along: it alone is new.
        copy(u"UTF8_STRING"_qs, "copied after resuming");
        QTRY_COMPARE_WITH_TIMEOUT(clips().first().excerpt, u"copied after resuming"_qs, timeoutMs);
        QCOMPARE(clips().at(1).excerpt, top.excerpt);
        QCOMPARE(clips().at(1).id, top.id);
    }

    void hotKeyShowsThePickerOverTheActiveWindow()
    {
        for (const char *text : {"second thing to paste", "Meeting notes: bring the figures"}) {
            copy(u"UTF8_STRING"_qs, text);
            QTRY_COMPARE_WITH_TIMEOUT(clips().first().excerpt, QString::fromUtf8(text), timeoutMs);
        }
        QVERIFY(activateTarget());
        QCOMPARE(picker(), 0u);
        // The pointer decides the screen; the picker is centred on it, 8 % above the middle.
        run(u"xdotool"_qs, {u"mousemove"_qs, u"300"_qs, u"300"_qs});
        key(u"super+alt+v"_qs);
        quint64 window = 0;
        QTRY_VERIFY_WITH_TIMEOUT((window = picker()) != 0, timeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_workspace->activeWindow(), window, timeoutMs);

        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect frame = windowGeometry(window);
        QCOMPARE(frame.size(), QSize(720, 460));
        QVERIFY2(qAbs(frame.center().x() - screen.center().x()) <= 2,
                 qPrintable(QString::number(frame.x())));
        const int expectedTop =
            qRound(screen.y() + screen.height() / 2.0 - 230 - screen.height() * 0.08);
        QVERIFY2(qAbs(frame.y() - expectedTop) <= 2, qPrintable(QString::number(frame.y())));

        // The preview opens beside the list; the first Escape only closes it.
        key(u"ctrl+i"_qs);
        QTest::qWait(300);
        key(u"Escape"_qs);
        QTest::qWait(200);
        QCOMPARE(picker(), window);
    }

    void typingFiltersAndReturnPastesIntoThePreviousWindow()
    {
        quint64 window = picker();
        if (window == 0) {
            QVERIFY(activateTarget());
            key(u"super+alt+v"_qs);
            QTRY_VERIFY_WITH_TIMEOUT((window = picker()) != 0, timeoutMs);
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_workspace->activeWindow(), window, timeoutMs);
        run(u"xdotool"_qs, {u"type"_qs, u"--delay"_qs, u"40"_qs, u"second"_qs});
        QTest::qWait(400); // the search waits for the typing to pause
        key(u"Return"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(picker(), 0u, timeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_target.pasted, QStringList{u"second thing to paste"_qs},
                                  timeoutMs);
        QCOMPARE(m_workspace->activeWindow(), quint64(m_target.winId()));
        // The pasted clip moves to the top and nothing new is stored.
        QCOMPARE(clips().first().excerpt, u"second thing to paste"_qs);
    }

    void escapeAndTheHotKeyHideIt()
    {
        QVERIFY(activateTarget());
        key(u"super+alt+v"_qs);
        quint64 window = 0;
        QTRY_VERIFY_WITH_TIMEOUT((window = picker()) != 0, timeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_workspace->activeWindow(), window, timeoutMs);
        key(u"Escape"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(picker(), 0u, timeoutMs);

        QVERIFY(activateTarget());
        key(u"super+alt+v"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(picker() != 0, timeoutMs);
        key(u"super+alt+v"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(picker(), 0u, timeoutMs);
        QVERIFY(m_target.pasted.size() <= 1);
    }
};

ULVANE_X11_TEST_MAIN(TestAppE2E)
#include "test_app_e2e.moc"
