#include "ContentBuilders.h"
#include "FakePlatform.h"
#include "TestMain.h"

#include "capture/PasteboardMonitor.h"
#include "core/ImageUtil.h"
#include "paste/PasteService.h"
#include "store/Store.h"

#include <QImageWriter>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace {

// Generous: a capture on a loaded machine may take seconds, and only a hang should fail.
constexpr int settleMs = 30000;

QStringList utis(const FlavorList &flavors)
{
    QStringList list;
    for (const Flavor &f : flavors)
        list.append(f.uti);
    return list;
}

} // namespace

class TestMonitor : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<FakePasteboard> m_pasteboard;
    std::unique_ptr<FakeWorkspace> m_workspace;
    CaptureSettings m_settings;
    QStringList m_serial;
    QStringList m_ocr;
    int m_sounds = 0;
    bool m_hooksThrow = false;
    QThread *m_hookThread = nullptr;
    std::unique_ptr<PasteboardMonitor> m_monitor;

    PasteboardMonitor &makeMonitor()
    {
        CaptureHooks hooks;
        hooks.recordSerial = [this](const QString &id) {
            if (m_hooksThrow)
                throw std::runtime_error("hook failed");
            m_serial.append(id);
            m_hookThread = QThread::currentThread();
        };
        hooks.enqueueOcr = [this](const QString &id) { m_ocr.append(id); };
        hooks.playSound = [this] { ++m_sounds; };
        m_monitor = std::make_unique<PasteboardMonitor>(
            *m_pasteboard, *m_workspace, *m_store, [this] { return m_settings; }, hooks);
        return *m_monitor;
    }

    // One look at the clipboard, and the capture it may start run to its end.
    void tickAndSettle()
    {
        m_monitor->tick();
        QTRY_VERIFY_WITH_TIMEOUT(!m_monitor->isCapturing(), settleMs);
    }

    // Stores one copy through a tick and gives back what the store kept, if anything.
    std::optional<FlavorList> captureOne(const ItemList &offer)
    {
        const qint64 before = m_store->count();
        m_pasteboard->copy(offer);
        tickAndSettle();
        if (m_store->count() == before)
            return std::nullopt;
        const QList<Clip> clips = m_store->search(QString(), ClipFilter::All, 1);
        return m_store->contentFlavors(clips.first().id);
    }

private Q_SLOTS:
    void init()
    {
        m_monitor.reset();
        m_dir = std::make_unique<QTemporaryDir>();
        m_store = std::make_unique<Store>(m_dir->path());
        m_pasteboard = std::make_unique<FakePasteboard>();
        m_workspace = std::make_unique<FakeWorkspace>();
        m_settings = CaptureSettings{};
        m_settings.soundOn = true;
        m_serial.clear();
        m_ocr.clear();
        m_sounds = 0;
        m_hooksThrow = false;
        m_hookThread = nullptr;
    }

    void contentAtLaunchIsNotCaptured()
    {
        m_pasteboard->copyText(QStringLiteral("copied before launch"));
        makeMonitor();
        tickAndSettle();
        QCOMPARE(m_store->count(), 0);

        m_pasteboard->copyText(QStringLiteral("first copy after launch"));
        tickAndSettle();
        QCOMPARE(m_store->count(), 1);
    }

    void changeWhilePausedIsNeverCapturedLater()
    {
        makeMonitor();
        m_settings.paused = true;
        m_pasteboard->copyText(QStringLiteral("secret while paused"));
        tickAndSettle();
        m_settings.paused = false;
        tickAndSettle();
        QCOMPARE(m_store->count(), 0);
        QCOMPARE(m_monitor->lastChangeCount(), m_pasteboard->count);
    }

    void changesBetweenSleepAndWakeAreSkipped()
    {
        makeMonitor().start();
        m_workspace->sleep();
        m_pasteboard->copyText(QStringLiteral("while asleep"), true);
        tickAndSettle();
        m_workspace->wake();
        tickAndSettle();
        QCOMPARE(m_store->count(), 0);

        m_pasteboard->copyText(QStringLiteral("after wake"), true);
        QTRY_COMPARE_WITH_TIMEOUT(m_store->count(), 1, settleMs);
    }

    void vetoingTypes_data()
    {
        QTest::addColumn<QString>("extraType");
        QTest::addColumn<bool>("ignoreHandoff");
        QTest::addColumn<bool>("stored");

        QTest::newRow("concealed") << PasteboardMonitor::concealedTypes().first() << false << false;
        QTest::newRow("own marker") << Uti::selfMarker << false << false;
        QTest::newRow("remote clipboard, ignored")
            << QStringLiteral("com.apple.is-remote-clipboard") << true << false;
        QTest::newRow("remote clipboard, kept")
            << QStringLiteral("com.apple.is-remote-clipboard") << false << true;
        QTest::newRow("Handoff, ignored") << QStringLiteral("com.apple.Handoff.x") << true << false;
        QTest::newRow("handoff lower case") << QStringLiteral("com.x.handoff") << true << true;
        QTest::newRow("concealed prefix only")
            << QStringLiteral("org.nspasteboard.ConcealedTypeX") << false << true;
    }

    void vetoingTypes()
    {
        QFETCH(QString, extraType);
        QFETCH(bool, ignoreHandoff);
        QFETCH(bool, stored);

        makeMonitor();
        m_settings.ignoreHandoff = ignoreHandoff;
        m_pasteboard->copy(
            {textItems(QStringLiteral("hunter2")).first(), FlavorList{Flavor{extraType, "1"}}});
        tickAndSettle();
        QCOMPARE(m_store->count(), stored ? 1 : 0);
        // One look at the offer per copy: its types and, when they pass, its contents.
        QCOMPARE(m_pasteboard->offers, 1);
        // A vetoed offer is never transferred, so a secret does not even pass through memory.
        if (!stored)
            QCOMPARE(m_pasteboard->reads, 0);
    }

    void sourceApplication_data()
    {
        QTest::addColumn<std::optional<AppInfo>>("app");
        QTest::addColumn<QStringList>("ignored");
        QTest::addColumn<bool>("stored");

        const QStringList none;
        const QStringList keepass = {QStringLiteral("org.keepassxc.KeePassXC")};
        QTest::newRow("our desktop id")
            << std::optional(AppInfo{QStringLiteral("org.brisel.Ulvane"), QString(), 1}) << none
            << false;
        QTest::newRow("our pid") << std::optional(AppInfo{QStringLiteral("ulvane"), QString(),
                                                          qint64(::getpid())})
                                 << none << false;
        QTest::newRow("ignored") << std::optional(AppInfo{keepass.first(), QString(), 9}) << keepass
                                 << false;
        QTest::newRow("other") << std::optional(AppInfo{QStringLiteral("firefox-esr"),
                                                        QStringLiteral("Firefox"), 9})
                               << keepass << true;
        QTest::newRow("no window") << std::optional<AppInfo>() << keepass << true;
    }

    void sourceApplication()
    {
        QFETCH(std::optional<AppInfo>, app);
        QFETCH(QStringList, ignored);
        QFETCH(bool, stored);

        makeMonitor();
        m_workspace->app = app;
        m_settings.ignoredAppIds = ignored;
        QCOMPARE(captureOne(textItems(QStringLiteral("from somewhere"))).has_value(), stored);
        if (stored) {
            const Clip clip = m_store->search(QString(), ClipFilter::All, 1).first();
            QCOMPARE(clip.appId, app ? app->appId : QString());
            QCOMPARE(clip.appName, app ? app->name : QString());
        }
    }

    void sizeLimitCoversTheWholeCapture()
    {
        makeMonitor();
        // Split over two items: the limit is for the whole capture, not per flavor.
        const QByteArray text(10, 'a');
        for (const qint64 over : {0, 1}) {
            const QByteArray html(Flavors::maxCaptureBytes - text.size() + over, 'b');
            QCOMPARE(captureOne({FlavorList{Flavor{Uti::plainText, text}},
                                 FlavorList{Flavor{Uti::html, html}}})
                         .has_value(),
                     over == 0);
        }
    }

    // What of an offer is kept: plain-text mode, unstorable types, and TIFF turned into PNG.
    void storedFlavors_data()
    {
        QTest::addColumn<bool>("plainMode");
        QTest::addColumn<FlavorList>("item");
        QTest::addColumn<QStringList>("storedTypes");
        QTest::addColumn<QColor>("pngColor"); // invalid: no PNG kept

        const Flavor text{Uti::plainText, QByteArray("bold")};
        const Flavor rtf{Uti::rtf, QByteArray("{\\rtf1 \\b bold}")};
        const Flavor html{Uti::html, QByteArray("<b>bold</b>")};
        QTest::newRow("rich, mode off")
            << false << FlavorList{text, rtf, html}
            << QStringList{Uti::plainText, Uti::rtf, Uti::html} << QColor();
        QTest::newRow("rich, mode on")
            << true << FlavorList{text, rtf, html} << QStringList{Uti::plainText} << QColor();
        QTest::newRow("nothing plain, kept whole")
            << true << FlavorList{rtf, html} << QStringList{Uti::rtf, Uti::html} << QColor();
        QTest::newRow("unstorable types dropped")
            << false << FlavorList{Flavor{QStringLiteral("text/x-other"), "x"}, text}
            << QStringList{Uti::plainText} << QColor();
        if (!QImageWriter::supportedImageFormats().contains("tiff"))
            return;
        const Flavor red{Uti::png, filledPng(4, 4, Qt::red)};
        const Flavor blueTiff{Uti::tiff, encoded(filledImage(4, 4, Qt::blue), "TIFF")};
        const Flavor brokenTiff{Uti::tiff, QByteArray("not an image")};
        const QStringList onlyPng = {Uti::png};
        QTest::newRow("png first")
            << false << FlavorList{red, blueTiff} << onlyPng << QColor(Qt::red);
        QTest::newRow("tiff first")
            << false << FlavorList{blueTiff, red} << onlyPng << QColor(Qt::blue);
        QTest::newRow("broken tiff first") << false << FlavorList{brokenTiff, red}
                                           << QStringList{Uti::tiff, Uti::png} << QColor(Qt::red);
    }

    void storedFlavors()
    {
        QFETCH(bool, plainMode);
        QFETCH(FlavorList, item);
        QFETCH(QStringList, storedTypes);
        QFETCH(QColor, pngColor);

        makeMonitor();
        m_settings.plainTextMode = plainMode;
        const std::optional<FlavorList> stored = captureOne({item});
        QVERIFY(stored);
        QCOMPARE(utis(*stored), storedTypes);
        if (pngColor.isValid())
            QCOMPARE(ImageUtil::decode(Flavors::first(*stored, Uti::png)->data).pixelColor(0, 0),
                     pngColor);
    }

    void repeatedCopyStoresOneEntry()
    {
        makeMonitor();
        QVERIFY(captureOne(textItems(QStringLiteral("twice"))));
        QVERIFY(!captureOne(textItems(QStringLiteral("twice"))));
        QCOMPARE(m_store->count(), 1);
        QCOMPARE(m_sounds, 1);
        QCOMPARE(m_serial.size(), 1);
        QVERIFY(m_ocr.isEmpty());

        m_settings.soundOn = false;
        QVERIFY(captureOne(textItems(QStringLiteral("quiet"))));
        QCOMPARE(m_sounds, 1);
        QCOMPARE(m_serial.size(), 2);
    }

    void ownWritesAreNotCapturedAgain()
    {
        makeMonitor().start();
        FakeKeySynthesizer keys;
        PasteService paste(*m_pasteboard, keys, *m_workspace, *m_store, [] { return false; });
        QVERIFY(paste.writePlain(QStringLiteral("pasted back")));
        tickAndSettle();
        QCOMPARE(m_store->count(), 0);
        QCOMPARE(m_monitor->lastChangeCount(), m_pasteboard->count);
    }

    void imageGetsThumbnailAndRecognition()
    {
        makeMonitor();
        const QByteArray png = filledPng(800, 400, Qt::green);
        QVERIFY(captureOne({FlavorList{Flavor{Uti::png, png}}}));
        const Clip clip = m_store->search(QString(), ClipFilter::All, 1).first();
        QCOMPARE(clip.kind, ClipKind::Image);
        QCOMPARE(m_ocr, QStringList{clip.id});
        QCOMPARE(m_serial, QStringList{clip.id});
        QVERIFY(m_store->thumbnail(clip.id));
    }

    // Announced changes are captured at once. Only where changes go unannounced does a poll
    // run; elsewhere a missed announcement waits for the next look (the picker's).
    void changeSignalCapturesAtOnceAndPollOnlyWhereNeeded()
    {
        for (const bool announces : {false, true}) {
            init();
            m_pasteboard->announces = announces;
            makeMonitor().start();
            QCOMPARE(m_monitor->isPolling(), !announces);
            m_pasteboard->copyText(QStringLiteral("announced"), true);
            QVERIFY(m_monitor->isCapturing()); // started without waiting for a poll
            QTRY_COMPARE_WITH_TIMEOUT(m_store->count(), 1, settleMs);

            m_pasteboard->copyText(QStringLiteral("missed signal"));
            if (announces) {
                QTest::qWait(3 * PasteboardMonitor::pollIntervalMs);
                QCOMPARE(m_store->count(), 1);
                m_monitor->tick();
            }
            QTRY_COMPARE_WITH_TIMEOUT(m_store->count(), 2, settleMs);
        }
    }

    // An owner that is slow to answer holds up only the capture thread: the GUI thread's
    // timers keep running, later ticks start no second read, and the hooks run on the GUI
    // thread once the copy is stored.
    void slowOwnerDoesNotHoldTheGuiThread()
    {
        makeMonitor();
        QSemaphore answer;
        m_pasteboard->onRead = [&answer] { answer.acquire(); };
        QSignalSpy finished(m_monitor.get(), &PasteboardMonitor::captureFinished);

        m_pasteboard->copyText(QStringLiteral("from a slow owner"));
        // The owner answers only once released below: a read on this thread would never return.
        m_monitor->tick();
        QVERIFY(m_monitor->isCapturing());
        int timerRuns = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&timerRuns] { ++timerRuns; });
        timer.start(10);
        QTRY_VERIFY_WITH_TIMEOUT(timerRuns >= 5, settleMs);
        m_monitor->tick();
        QCOMPARE(m_store->count(), 0);

        answer.release();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, settleMs);
        QCOMPARE(m_store->count(), 1);
        QCOMPARE(m_hookThread, QThread::currentThread());
        m_pasteboard->onRead = nullptr;
    }

    void failingHookDoesNotEscape()
    {
        makeMonitor();
        m_hooksThrow = true;
        QVERIFY(captureOne(textItems(QStringLiteral("kept anyway"))));
        m_hooksThrow = false;
        QVERIFY(captureOne(textItems(QStringLiteral("next copy"))));
    }
};

ULVANE_TEST_MAIN(TestMonitor)
#include "test_monitor.moc"
