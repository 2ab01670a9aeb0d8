#include "FakePlatform.h"
#include "TestMain.h"

#include "paste/PasteService.h"
#include "paste/SerialPaste.h"
#include "store/NotificationCenter.h"
#include "store/Store.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

namespace {

const Flavor marker{PasteService::selfMarker, QByteArray(1, '\x01')};
constexpr double longAgo = 1000.0;

FlavorList text(const QString &value)
{
    return {Flavor{Uti::plainText, value.toUtf8()}};
}

FlavorList pngItem()
{
    return {Flavor{Uti::png, QByteArray("\x89PNG fake bytes")}};
}

} // namespace

class TestPaste : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<FakePasteboard> m_pasteboard;
    std::unique_ptr<FakeWorkspace> m_workspace;
    std::unique_ptr<FakeKeySynthesizer> m_keys;
    std::unique_ptr<PasteService> m_service;
    std::unique_ptr<SerialPaste> m_serial;
    QStringList m_log;
    bool m_autoPaste = true;

    Clip add(const ItemList &items, ClipKind kind = ClipKind::Text)
    {
        static int counter = 0;
        const QString id = QStringLiteral("ID-%1").arg(++counter);
        const std::optional<QString> stored = m_store->insert(
            items, kind, QStringLiteral("excerpt"), QString(), QString(), longAgo, {}, true, id);
        for (const Clip &c : m_store->search(QString(), ClipFilter::All, 100)) {
            if (stored && c.id == *stored)
                return c;
        }
        qFatal("test entry was not stored");
    }

    double createdOf(const QString &id)
    {
        for (const Clip &c : m_store->search(QString(), ClipFilter::All, 100)) {
            if (c.id == id)
                return c.created;
        }
        return -1;
    }

private Q_SLOTS:
    void init()
    {
        m_serial.reset();
        m_service.reset();
        m_dir = std::make_unique<QTemporaryDir>();
        m_store = std::make_unique<Store>(m_dir->path());
        m_pasteboard = std::make_unique<FakePasteboard>();
        m_workspace = std::make_unique<FakeWorkspace>();
        m_keys = std::make_unique<FakeKeySynthesizer>();
        m_log.clear();
        m_workspace->log = &m_log;
        m_keys->log = &m_log;
        m_autoPaste = true;
        m_service = std::make_unique<PasteService>(*m_pasteboard, *m_keys, *m_workspace, *m_store,
                                                   [this] { return m_autoPaste; });
        m_serial = std::make_unique<SerialPaste>(*m_service, *m_store);
    }

    void writtenContents_data()
    {
        QTest::addColumn<ItemList>("entry");
        QTest::addColumn<bool>("plain");
        QTest::addColumn<std::optional<Transform>>("transform");
        QTest::addColumn<ItemList>("written");

        const ItemList rich = {
            FlavorList{Flavor{Uti::plainText, "Hello"}, Flavor{Uti::html, "<b>Hello</b>"}}};
        const std::optional<Transform> none;
        QTest::newRow("plain without text")
            << ItemList{pngItem()} << true << none << ItemList{text(QString()) << marker};
        QTest::newRow("transform ignores rich flavors")
            << rich << false << std::optional(Transform::Upper)
            << ItemList{text(QStringLiteral("HELLO")) << marker};
        QTest::newRow("rich as copied")
            << rich << false << none << ItemList{rich.first() + FlavorList{marker}};
        QTest::newRow("three items, marker on the first only")
            << ItemList{text("a"), pngItem(), text("c")} << false << none
            << ItemList{text("a") << marker, pngItem(), text("c")};
    }

    void writtenContents()
    {
        QFETCH(ItemList, entry);
        QFETCH(bool, plain);
        QFETCH(std::optional<Transform>, transform);
        QFETCH(ItemList, written);

        m_autoPaste = false;
        const Clip clip = add(entry);
        m_service->paste(clip, plain, transform);
        QCOMPARE(m_pasteboard->items, written);
        QVERIFY(createdOf(clip.id) > longAgo);
    }

    void keyStroke_data()
    {
        QTest::addColumn<bool>("autoPaste");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<int>("strokes");
        QTest::newRow("allowed") << true << true << 1;
        QTest::newRow("auto-paste off") << false << true << 0;
        QTest::newRow("no key synthesis") << true << false << 0;
    }

    void keyStroke()
    {
        QFETCH(bool, autoPaste);
        QFETCH(bool, trusted);
        QFETCH(int, strokes);

        m_autoPaste = autoPaste;
        m_keys->trusted = trusted;
        const Clip clip = add({text(QStringLiteral("stroke me"))});
        QElapsedTimer clock;
        clock.start();
        m_service->paste(clip, false);
        QCOMPARE(m_pasteboard->writes, 1);
        QVERIFY(m_keys->strokes.isEmpty()); // never before the delay
        if (strokes > 0) {
            QTRY_COMPARE_WITH_TIMEOUT(m_keys->strokes.size(), 1, 3000);
            QVERIFY(clock.elapsed() >= PasteService::keyStrokeDelayMs - 5);
        }
        // Give a stray second stroke the chance to show up.
        QTest::qWait(3 * PasteService::keyStrokeDelayMs);
        QCOMPARE(m_keys->strokes.size(), strokes);
    }

    void missingContentPastesNothing()
    {
        const Clip clip = add({text(QStringLiteral("gone"))});
        QVERIFY(QFile::remove(m_store->contentPath(clip.id)));
        m_service->paste(clip, false);
        QCOMPARE(m_pasteboard->writes, 0);
        QCOMPARE(createdOf(clip.id), longAgo);
        QTest::qWait(3 * PasteService::keyStrokeDelayMs);
        QVERIFY(m_keys->strokes.isEmpty());
    }

    void strokeGoesToTheTargetWindow_data()
    {
        QTest::addColumn<quint64>("target");
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<QStringList>("calls");

        QTest::newRow("editor") << quint64(42) << QStringLiteral("Gedit")
                                << QStringList{QStringLiteral("activate 42"),
                                               QStringLiteral("stroke")};
        QTest::newRow("terminal") << quint64(42) << QStringLiteral("XTerm")
                                  << QStringList{QStringLiteral("activate 42"),
                                                 QStringLiteral("terminal stroke")};
        QTest::newRow("no target, active terminal")
            << quint64(0) << QStringLiteral("konsole")
            << QStringList{QStringLiteral("terminal stroke")};
    }

    void strokeGoesToTheTargetWindow()
    {
        QFETCH(quint64, target);
        QFETCH(QString, windowClass);
        QFETCH(QStringList, calls);

        m_workspace->active = 99; // the picker, say
        m_workspace->classes.insert(target ? target : 99, windowClass);
        m_service->setTargetWindow(target);
        m_service->paste(add({text(QStringLiteral("x"))}), false);
        QTRY_COMPARE_WITH_TIMEOUT(m_log, calls, 3000);

        // The target serves one paste; the next goes to whatever is active then.
        m_log.clear();
        m_service->sendCmdVIfPossible();
        QTRY_COMPARE_WITH_TIMEOUT(m_log.size(), 1, 3000);
        QVERIFY(!m_log.first().startsWith(QLatin1String("activate")));
    }

    void serialPastesInOrder()
    {
        m_autoPaste = false;
        QSignalSpy posts(&NotificationCenter::shared(), &NotificationCenter::serialChanged);
        QSignalSpy lengths(m_serial.get(), &SerialPaste::queueLengthChanged);
        m_serial->toggleRecording();
        for (const QString &value : {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")})
            m_serial->recordIfNeeded(add({text(value)}).id);
        QCOMPARE(m_serial->queueLength(), 3);
        QCOMPARE(posts.size(), 4);

        for (const QString &value :
             {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}) {
            m_serial->pasteNext();
            QCOMPARE(m_pasteboard->items, ItemList{text(value) << marker});
        }
        QCOMPARE(posts.size(), 7);
        QCOMPARE(lengths.last().first().toInt(), 0);

        const int writes = m_pasteboard->writes;
        m_serial->pasteNext();
        QCOMPARE(m_pasteboard->writes, writes);
        QCOMPARE(posts.size(), 7);
        QVERIFY(m_serial->isRecording());
    }

    void recordingStartsEmptyAndStopKeeps()
    {
        QSignalSpy recording(m_serial.get(), &SerialPaste::recordingChanged);
        m_serial->recordIfNeeded(QStringLiteral("not recording"));
        QCOMPARE(m_serial->queueLength(), 0);

        m_serial->toggleRecording();
        m_serial->recordIfNeeded(add({text(QStringLiteral("kept"))}).id);
        m_serial->toggleRecording();
        QCOMPARE(recording.size(), 2);
        QCOMPARE(m_serial->queueLength(), 1);
        m_autoPaste = false;
        m_serial->pasteNext();
        QCOMPARE(m_pasteboard->items, ItemList{text(QStringLiteral("kept")) << marker});

        m_serial->toggleRecording();
        m_serial->recordIfNeeded(QStringLiteral("left over"));
        m_serial->toggleRecording();
        m_serial->toggleRecording();
        QCOMPARE(m_serial->queueLength(), 0);

        m_serial->recordIfNeeded(QStringLiteral("x"));
        m_serial->clear();
        QVERIFY(!m_serial->isRecording());
        QCOMPARE(m_serial->queueLength(), 0);
    }

    void serialImageGoesWithFlavorsToTheTop()
    {
        const Clip image = add({pngItem()}, ClipKind::Image);
        m_serial->toggleRecording();
        m_serial->recordIfNeeded(image.id);
        m_serial->pasteNext();
        QCOMPARE(m_pasteboard->items, ItemList{pngItem() << marker});
        QVERIFY(createdOf(image.id) > longAgo);
        QTRY_COMPARE_WITH_TIMEOUT(m_keys->strokes.size(), 1, 3000);
    }

    void serialSkipsDeletedEntry()
    {
        const Clip gone = add({pngItem()}, ClipKind::Image);
        m_serial->toggleRecording();
        m_serial->recordIfNeeded(gone.id);
        m_store->remove(gone.id);
        QSignalSpy posts(&NotificationCenter::shared(), &NotificationCenter::serialChanged);
        m_serial->pasteNext();
        QCOMPARE(m_pasteboard->writes, 0);
        QCOMPARE(m_serial->queueLength(), 0);
        QCOMPARE(posts.size(), 1);
        QTest::qWait(3 * PasteService::keyStrokeDelayMs);
        QVERIFY(m_keys->strokes.isEmpty());
    }
};

ULVANE_TEST_MAIN(TestPaste)
#include "test_paste.moc"
