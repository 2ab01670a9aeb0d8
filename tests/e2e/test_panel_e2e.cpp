// The real ulvane binary in a private X session: its hot key brings up the picker over the
// window the user is in, typing filters, Return pastes back into that window. Screenshots of
// the picker land in artifacts/ next to the test for people to look at.
#include "../unit/TestMain.h"
#include "X11Clients.h"

#include "platform/x11/X11Workspace.h"
#include "store/Store.h"

#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>
#include <QScreen>
#include <QSet>
#include <QSettings>

using namespace X11Clients;

namespace {

QByteArray png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

class TestPanelE2E : public QObject
{
    Q_OBJECT

    QProcess m_app;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<X11Workspace> m_workspace;
    TargetWindow m_target;
    QString m_artifacts;

    void copy(const QString &target, const QByteArray &data)
    {
        const int before = m_store->count();
        run(u"xclip"_qs, {u"-selection"_qs, u"clipboard"_qs, u"-t"_qs, target, u"-i"_qs}, data);
        QTRY_VERIFY_WITH_TIMEOUT(m_store->count() > before, timeoutMs);
    }

    // The picker's window while it is on screen; 0 when it is not.
    quint64 panelWindow()
    {
        const QByteArray found = run(
            u"xdotool"_qs, {u"search"_qs, u"--all"_qs, u"--onlyvisible"_qs, u"--pid"_qs,
                            QString::number(m_app.processId()), u"--name"_qs, u"^Clipboard$"_qs});
        const QList<QByteArray> lines = found.trimmed().split('\n');
        return lines.last().toULongLong();
    }

    QImage screenshot(const QString &name)
    {
        const QString path = m_artifacts + QLatin1Char('/') + name;
        run(u"import"_qs, {u"-window"_qs, u"root"_qs, path});
        return QImage(path);
    }

    bool activateTarget()
    {
        m_workspace->activateWindow(m_target.winId());
        return QTest::qWaitFor([&] { return m_workspace->activeWindow() == m_target.winId(); },
                               timeoutMs);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_artifacts = QDir::currentPath() + u"/artifacts"_qs;
        QDir().mkpath(m_artifacts);
        QSettings settings(qEnvironmentVariable("XDG_CONFIG_HOME") + u"/ulvane/ulvane.conf"_qs,
                           QSettings::IniFormat);
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
        QTRY_VERIFY_WITH_TIMEOUT((log += m_app.readAllStandardError()).contains("[App] launched"),
                                 20000);
        m_store = std::make_unique<Store>(qEnvironmentVariable("XDG_DATA_HOME") + u"/Vesk"_qs);

        // One clip of every kind the rows draw differently.
        QImage image(360, 120, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            QFont font = painter.font();
            font.setPixelSize(48);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(image.rect(), Qt::AlignCenter, u"Invoice 42"_qs);
        }
        copy(u"image/png"_qs, png(image));
        copy(u"text/uri-list"_qs, "file:///etc/hosts\r\nfile:///etc/os-release\r\n");
        copy(u"UTF8_STRING"_qs, "#E0457B"); // not the accent colour, so only the swatch has it
        copy(u"UTF8_STRING"_qs, "for (int i = 0; i < n; ++i) {\n    total += values[i];\n}\n");
        copy(u"UTF8_STRING"_qs, "https://example.org/docs/getting-started");
        copy(u"UTF8_STRING"_qs, "second thing to paste");
        copy(u"UTF8_STRING"_qs, "Meeting notes: bring the quarterly figures and the signed "
                                "contract, then book the room for Thursday afternoon.");
    }

    void cleanupTestCase()
    {
        m_app.terminate();
        if (!m_app.waitForFinished(5000))
            m_app.kill();
    }

    void hotKeyShowsThePanelOverTheActiveWindow()
    {
        QVERIFY(activateTarget());
        QCOMPARE(panelWindow(), 0u);
        // The pointer decides the screen; the panel is centred on it, 8 % above the middle.
        run(u"xdotool"_qs, {u"mousemove"_qs, u"300"_qs, u"300"_qs});
        key(u"super+alt+v"_qs);
        quint64 panel = 0;
        QTRY_VERIFY_WITH_TIMEOUT((panel = panelWindow()) != 0, timeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_workspace->activeWindow(), panel, timeoutMs);

        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect frame = windowGeometry(panel);
        QCOMPARE(frame.size(), QSize(720, 460));
        QVERIFY2(qAbs(frame.center().x() - screen.center().x()) <= 2,
                 qPrintable(QString::number(frame.x())));
        const int expectedTop =
            qRound(screen.y() + screen.height() / 2.0 - 230 - screen.height() * 0.08);
        QVERIFY2(qAbs(frame.y() - expectedTop) <= 2, qPrintable(QString::number(frame.y())));

        // Give the thumbnails and the caret a moment, then keep a picture for people.
        QTest::qWait(300);
        const QImage shot = screenshot(u"panel.png"_qs);
        QVERIFY(!shot.isNull());
        const QImage area = shot.copy(frame);
        QSet<QRgb> colours;
        int bright = 0;
        for (int y = 0; y < area.height(); y += 2) {
            for (int x = 0; x < area.width(); x += 2) {
                const QRgb pixel = area.pixel(x, y);
                colours.insert(pixel);
                bright += qGray(pixel) > 160;
            }
        }
        // Text, a thumbnail, a swatch and the accent: far more than a blank rectangle.
        QVERIFY2(colours.size() > 200, qPrintable(QString::number(colours.size())));
        QVERIFY2(bright > 500, qPrintable(QString::number(bright)));
        // The colour swatch is painted in the copied colour.
        bool swatch = false;
        for (int y = 0; y < area.height() && !swatch; ++y) {
            for (int x = 0; x < area.width() && !swatch; ++x)
                swatch = area.pixel(x, y) == qRgb(0xE0, 0x45, 0x7B);
        }
        QVERIFY(swatch);

        // The preview opens beside the list; the first Escape only closes it.
        key(u"ctrl+i"_qs);
        QTest::qWait(300);
        screenshot(u"panel-preview.png"_qs);
        key(u"Escape"_qs);
        QTest::qWait(200);
        QCOMPARE(panelWindow(), panel);
    }

    void typingFiltersAndReturnPastesIntoThePreviousWindow()
    {
        quint64 panel = panelWindow();
        if (panel == 0) {
            QVERIFY(activateTarget());
            key(u"super+alt+v"_qs);
            QTRY_VERIFY_WITH_TIMEOUT((panel = panelWindow()) != 0, timeoutMs);
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_workspace->activeWindow(), panel, timeoutMs);
        run(u"xdotool"_qs, {u"type"_qs, u"--delay"_qs, u"40"_qs, u"second"_qs});
        QTest::qWait(400); // the search waits for the typing to pause
        screenshot(u"panel-search.png"_qs);
        key(u"Return"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(panelWindow(), 0u, timeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_target.pasted, QStringList{u"second thing to paste"_qs},
                                  timeoutMs);
        QCOMPARE(m_workspace->activeWindow(), quint64(m_target.winId()));
        // The pasted clip moves to the top and nothing new is stored.
        QCOMPARE(m_store->search(QString(), ClipFilter::All, 1).first().excerpt,
                 u"second thing to paste"_qs);
    }

    void escapeAndTheHotKeyHideIt()
    {
        QVERIFY(activateTarget());
        key(u"super+alt+v"_qs);
        quint64 panel = 0;
        QTRY_VERIFY_WITH_TIMEOUT((panel = panelWindow()) != 0, timeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_workspace->activeWindow(), panel, timeoutMs);
        key(u"Escape"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(panelWindow(), 0u, timeoutMs);

        QVERIFY(activateTarget());
        key(u"super+alt+v"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(panelWindow() != 0, timeoutMs);
        key(u"super+alt+v"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(panelWindow(), 0u, timeoutMs);
        QVERIFY(m_target.pasted.size() <= 1);
    }
};

ULVANE_X11_TEST_MAIN(TestPanelE2E)
#include "test_panel_e2e.moc"
