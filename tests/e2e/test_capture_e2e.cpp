// The real ulvane binary in a private X session, fed by real X11 clients (xclip, xdotool and
// this test's own clipboard offers), checked through the store it writes.
#include "TestMain.h"
#include "X11Clients.h"

#include "store/Store.h"

#include <QBuffer>
#include <QImage>
#include <QMimeData>
#include <QSettings>

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

class TestCaptureE2E : public QObject
{
    Q_OBJECT

    QProcess m_app;
    std::unique_ptr<Store> m_store;

    // Offers `data` as `target` on the clipboard from an xclip process, as other apps do.
    void copy(const QString &target, const QByteArray &data)
    {
        X11Clients::run(u"xclip"_qs,
                        {u"-selection"_qs, u"clipboard"_qs, u"-t"_qs, target, u"-i"_qs}, data);
    }

    QList<Clip> clips() { return m_store->search(QString(), ClipFilter::All, 400); }

private Q_SLOTS:
    void initTestCase()
    {
        // What is on the clipboard when Ulvane starts is never taken: the first test's counts
        // would be one too many.
        copy(u"UTF8_STRING"_qs, "there before launch");
        QSettings(qEnvironmentVariable("XDG_CONFIG_HOME") + u"/ulvane/ulvane.conf"_qs,
                  QSettings::IniFormat)
            .setValue(u"pauseHotkeyLabel"_qs, QStringLiteral("\u2303\u2325X")); // Ctrl+Alt+X
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
        QTRY_COMPARE_WITH_TIMEOUT(clips().size(), 1, 10000);
        const Clip first = clips().first();
        QCOMPARE(first.kind, ClipKind::Text);
        QCOMPARE(first.excerpt, u"hello from xclip"_qs);
        QCOMPARE(m_store->plainText(first.id), std::optional<QString>(u"hello from xclip"_qs));

        copy(u"UTF8_STRING"_qs, "second");
        QTRY_COMPARE_WITH_TIMEOUT(clips().size(), 2, 10000);
        copy(u"UTF8_STRING"_qs, "hello from xclip");
        QTRY_COMPARE_WITH_TIMEOUT(clips().first().id, first.id, 10000);
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
                                      u"Image %1×%2"_qs.arg(offer.w).arg(offer.h), 10000);
            const Clip image = clips().first();
            QVERIFY(image.kind == ClipKind::Image && image.hasImage);
            QVERIFY(m_store->thumbnail(image.id));
            const auto flavors = m_store->contentFlavors(image.id);
            QVERIFY(flavors && !flavors->isEmpty());
            QCOMPARE(flavors->first().uti, offer.keptAs);
            QCOMPARE(image.byteSize, flavors->first().data.size());
        }

        copy(u"text/uri-list"_qs, "file:///tmp/report.pdf\r\nfile:///tmp/notes.txt\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(clips().first().kind == ClipKind::File, 10000);
        QCOMPARE(clips().first().excerpt, u"report.pdf, notes.txt"_qs);

        auto *rich = new QMimeData;
        rich->setHtml(u"<b>bold</b> words"_qs);
        rich->setText(u"bold words"_qs);
        QGuiApplication::clipboard()->setMimeData(rich);
        QTRY_COMPARE_WITH_TIMEOUT(clips().first().excerpt, u"bold words"_qs, 10000);
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

        X11Clients::key(u"ctrl+alt+x"_qs); // pause
        QTest::qWait(500);
        copy(u"UTF8_STRING"_qs, "copied while paused");
        QTest::qWait(1000);
        X11Clients::key(u"ctrl+alt+x"_qs); // resume
        QTest::qWait(500);

        // A marker copy after them proves the monitor was looking all along: it alone is new.
        copy(u"UTF8_STRING"_qs, "copied after resuming");
        QTRY_COMPARE_WITH_TIMEOUT(clips().first().excerpt, u"copied after resuming"_qs, 10000);
        QCOMPARE(clips().at(1).excerpt, top.excerpt);
        QCOMPARE(clips().at(1).id, top.id);
    }
};

ULVANE_X11_TEST_MAIN(TestCaptureE2E)
#include "test_capture_e2e.moc"
