// The real ulvane binary in a private X session, fed by real X11 clients (xclip, xdotool and
// this test's own clipboard offers), checked through the store it writes.
#include "../unit/TestMain.h"

#include "store/Store.h"

#include <QBuffer>
#include <QClipboard>
#include <QImage>
#include <QMimeData>
#include <QProcess>
#include <QSettings>

namespace {

QByteArray imageBytes(int w, int h, const char *format = "PNG")
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

class TestCaptureE2E : public QObject
{
    Q_OBJECT

    QProcess m_app;
    QByteArray m_log;
    std::unique_ptr<Store> m_store;
    QString m_dataDir;

    // Offers `data` as `target` on the clipboard from an xclip process, as other apps do.
    void xclipCopy(const QString &target, const QByteArray &data)
    {
        QProcess xclip;
        xclip.start(u"xclip"_qs, {u"-selection"_qs, u"clipboard"_qs, u"-t"_qs, target, u"-i"_qs});
        QVERIFY(xclip.waitForStarted());
        xclip.write(data);
        xclip.closeWriteChannel();
        QVERIFY(xclip.waitForFinished(10000)); // xclip forks a server and exits
    }

    QList<Clip> clips() { return m_store->search(QString(), ClipFilter::All, 400); }

    void waitForLog(const QByteArray &line)
    {
        QTRY_VERIFY_WITH_TIMEOUT((m_log += m_app.readAllStandardError()).contains(line), 20000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_dataDir = qEnvironmentVariable("XDG_DATA_HOME") + u"/Vesk"_qs;
        // What is on the clipboard when Ulvane starts is never taken.
        xclipCopy(u"UTF8_STRING"_qs, "there before launch");
        QSettings(qEnvironmentVariable("XDG_CONFIG_HOME") + u"/ulvane/ulvane.conf"_qs,
                  QSettings::IniFormat)
            .setValue(u"pauseHotkeyLabel"_qs, QStringLiteral("\u2303\u2325X")); // Ctrl+Alt+X
        m_app.start(QStringLiteral(ULVANE_BINARY), {});
        QVERIFY(m_app.waitForStarted());
        waitForLog("[Monitor] started");
        waitForLog("[App] launched");
        m_store = std::make_unique<Store>(m_dataDir);
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
        xclipCopy(u"UTF8_STRING"_qs, "hello from xclip");
        QTRY_COMPARE_WITH_TIMEOUT(clips().size(), 1, 10000);
        const Clip first = clips().first();
        QCOMPARE(first.kind, ClipKind::Text);
        QCOMPARE(first.excerpt, u"hello from xclip"_qs);
        QCOMPARE(m_store->plainText(first.id), std::optional<QString>(u"hello from xclip"_qs));

        xclipCopy(u"UTF8_STRING"_qs, "second");
        QTRY_COMPARE_WITH_TIMEOUT(clips().size(), 2, 10000);
        xclipCopy(u"UTF8_STRING"_qs, "hello from xclip");
        QTRY_COMPARE_WITH_TIMEOUT(clips().first().id, first.id, 10000);
        QCOMPARE(clips().size(), 2);
    }

    void imagesAndFilesKeepTheirKinds()
    {
        const QByteArray png = imageBytes(640, 480);
        xclipCopy(u"image/png"_qs, png);
        QTRY_VERIFY_WITH_TIMEOUT(clips().first().kind == ClipKind::Image, 10000);
        const Clip image = clips().first();
        QCOMPARE(image.excerpt, u"Image 640×480"_qs);
        QVERIFY(image.hasImage);
        QCOMPARE(image.byteSize, png.size());
        QCOMPARE(m_store->thumbnail(image.id)->size(), QSize(220, 165));

        xclipCopy(u"text/uri-list"_qs, "file:///tmp/report.pdf\r\nfile:///tmp/notes.txt\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(clips().first().kind == ClipKind::File, 10000);
        QCOMPARE(clips().first().excerpt, u"report.pdf, notes.txt"_qs);
    }

    void otherImageFormatsAndRichText()
    {
        xclipCopy(u"image/jpeg"_qs, imageBytes(300, 200, "JPEG"));
        QTRY_COMPARE_WITH_TIMEOUT(clips().first().excerpt, u"Image 300×200"_qs, 10000);
        QVERIFY(clips().first().hasImage);
        QVERIFY(m_store->thumbnail(clips().first().id));

        // A TIFF-only offer is kept as PNG.
        xclipCopy(u"image/tiff"_qs, imageBytes(120, 90, "TIFF"));
        QTRY_COMPARE_WITH_TIMEOUT(clips().first().excerpt, u"Image 120×90"_qs, 10000);
        const auto flavors = m_store->contentFlavors(clips().first().id);
        QVERIFY(flavors && !flavors->isEmpty());
        QCOMPARE(flavors->first().uti, Uti::png);

        auto *rich = new QMimeData;
        rich->setHtml(u"<b>bold</b> words"_qs);
        rich->setText(u"bold words"_qs);
        QGuiApplication::clipboard()->setMimeData(rich);
        QTRY_COMPARE_WITH_TIMEOUT(clips().first().excerpt, u"bold words"_qs, 10000);
        const auto richFlavors = m_store->contentFlavors(clips().first().id);
        QVERIFY(richFlavors && Flavors::contains(*richFlavors, Uti::html));
        QVERIFY(Flavors::contains(*richFlavors, Uti::plainText));
    }

    void secretsAndOwnPastesAreNeverStored()
    {
        const qsizetype before = clips().size();
        auto *secret = new QMimeData;
        secret->setText(u"hunter2"_qs);
        secret->setData(u"x-kde-passwordManagerHint"_qs, "secret");
        QGuiApplication::clipboard()->setMimeData(secret);
        auto *own = new QMimeData;
        own->setText(u"pasted by ulvane"_qs);
        own->setData(u"org.brisel.Ulvane.self"_qs, QByteArray(1, '\x01'));
        QTest::qWait(800);
        QGuiApplication::clipboard()->setMimeData(own);
        QTest::qWait(800);
        // A marker copy after them proves the monitor was looking all along.
        xclipCopy(u"UTF8_STRING"_qs, "marker after secrets");
        QTRY_COMPARE_WITH_TIMEOUT(clips().first().excerpt, u"marker after secrets"_qs, 10000);
        QCOMPARE(clips().size(), before + 1);
        for (const Clip &c : clips())
            QVERIFY(c.excerpt != u"hunter2"_qs && c.excerpt != u"pasted by ulvane"_qs);
        QVERIFY(!m_log.contains("there before launch"));
        for (const Clip &c : clips())
            QVERIFY(c.excerpt != u"there before launch"_qs);
    }

    void oversizedCopyIsDropped()
    {
        const qsizetype before = clips().size();
        xclipCopy(u"UTF8_STRING"_qs, QByteArray(26214401, 'x'));
        QTest::qWait(2500);
        xclipCopy(u"UTF8_STRING"_qs, "after the big one");
        QTRY_COMPARE_WITH_TIMEOUT(clips().first().excerpt, u"after the big one"_qs, 8000);
        QCOMPARE(clips().size(), before + 1);
    }

    void copiesWhilePausedAreNeverStored()
    {
        const qsizetype before = clips().size();
        QProcess::execute(u"xdotool"_qs, {u"key"_qs, u"ctrl+alt+x"_qs}); // pause
        QTest::qWait(500);
        xclipCopy(u"UTF8_STRING"_qs, "copied while paused");
        QTest::qWait(1000);
        QProcess::execute(u"xdotool"_qs, {u"key"_qs, u"ctrl+alt+x"_qs}); // resume
        QTest::qWait(500);
        xclipCopy(u"UTF8_STRING"_qs, "copied after resuming");
        QTRY_COMPARE_WITH_TIMEOUT(clips().first().excerpt, u"copied after resuming"_qs, 10000);
        QCOMPARE(clips().size(), before + 1);
    }
};

ULVANE_X11_TEST_MAIN(TestCaptureE2E)
#include "test_capture_e2e.moc"
