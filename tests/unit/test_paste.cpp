#include "PanelRig.h"
#include "TestMain.h"

#include "paste/SerialPaste.h"

#include <QFile>
#include <QSignalSpy>

#include <memory>

namespace {

const Flavor marker{Uti::selfMarker, QByteArray(1, '\x01')};
constexpr double longAgo = 2000.0; // later than every clip the rig adds
constexpr int strayStrokeWaitMs = 3 * PasteService::keyStrokeDelayMs;
// Only a stroke that never comes should fail, however loaded the machine.
constexpr int strokeTimeoutMs = 30000;

FlavorList text(const QString &value)
{
    return {Flavor{Uti::plainText, value.toUtf8()}};
}

FlavorList pngItem()
{
    return {Flavor{Uti::png, QByteArray("\x89PNG fake bytes")}};
}

struct Rig : PanelRig
{
    QStringList log;
    SerialPaste serial{paste, store};

    Rig()
    {
        autoPaste = true;
        workspace.log = keys.log = &log;
    }

    Clip clip(const QString &id) { return store.clip(id).value_or(Clip{}); }
    Clip add(const ItemList &items, ClipKind kind = ClipKind::Text)
    {
        return clip(PanelRig::add(items, kind));
    }
};

} // namespace

class TestPaste : public QObject
{
    Q_OBJECT

    std::unique_ptr<Rig> m_rig;

private Q_SLOTS:
    void init() { m_rig = std::make_unique<Rig>(); }

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
            << ItemList{text("HELLO") << marker};
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

        m_rig->autoPaste = false;
        const Clip clip = m_rig->add(entry);
        m_rig->paste.paste(clip, plain, PasteTarget{}, transform);
        QCOMPARE(m_rig->pasteboard.items, written);
        QVERIFY(m_rig->clip(clip.id).created > longAgo);
    }

    void keyStroke_data()
    {
        QTest::addColumn<bool>("autoPaste");
        QTest::addColumn<bool>("canSend");
        QTest::addColumn<bool>("contentGone");
        QTest::addColumn<int>("strokes");
        QTest::newRow("allowed") << true << true << false << 1;
        QTest::newRow("auto-paste off") << false << true << false << 0;
        QTest::newRow("no key synthesis") << true << false << false << 0;
        // Nothing written: the entry keeps its place and no stale contents get pasted.
        QTest::newRow("content file gone") << true << true << true << 0;
    }

    void keyStroke()
    {
        QFETCH(bool, autoPaste);
        QFETCH(bool, canSend);
        QFETCH(bool, contentGone);
        QFETCH(int, strokes);

        m_rig->autoPaste = autoPaste;
        m_rig->keys.canSend = canSend;
        const Clip clip = m_rig->add({text("stroke me")});
        if (contentGone)
            QVERIFY(QFile::remove(m_rig->store.contentPath(clip.id)));
        m_rig->paste.paste(clip, false, PasteTarget{});
        QCOMPARE(m_rig->pasteboard.writes, contentGone ? 0 : 1);
        QCOMPARE(m_rig->clip(clip.id).created > longAgo, !contentGone);
        QVERIFY(m_rig->keys.strokes.isEmpty()); // never before the delay
        if (strokes > 0)
            QTRY_COMPARE_WITH_TIMEOUT(m_rig->keys.strokes.size(), 1, strokeTimeoutMs);
        QTest::qWait(strayStrokeWaitMs);
        QCOMPARE(m_rig->keys.strokes.size(), strokes);
    }

    void strokeGoesToTheTargetWindow_data()
    {
        QTest::addColumn<quint64>("target");
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<bool>("onPrimary");
        QTest::newRow("editor") << quint64(42) << u"Gedit"_qs
                                << QStringList{"activate 42", "Ctrl+V"} << false;
        QTest::newRow("no target, active terminal")
            << quint64(0) << u"konsole"_qs << QStringList{"Ctrl+Shift+V"} << false;
        // xterm binds no key to the clipboard: Shift+Insert pastes the primary selection.
        QTest::newRow("xterm") << quint64(42) << u"XTerm"_qs
                               << QStringList{"activate 42", "Shift+Insert"} << true;
    }

    void strokeGoesToTheTargetWindow()
    {
        QFETCH(quint64, target);
        QFETCH(QString, windowClass);
        QFETCH(QStringList, calls);
        QFETCH(bool, onPrimary);

        m_rig->workspace.active = 99; // the picker, say
        m_rig->workspace.classes.insert(target ? target : 99, windowClass);
        m_rig->paste.paste(m_rig->add({text("x")}), false, PasteTarget{target});
        QTRY_COMPARE_WITH_TIMEOUT(m_rig->log, calls, strokeTimeoutMs);
        QCOMPARE(m_rig->pasteboard.primary, onPrimary ? ItemList{text("x") << marker} : ItemList());
    }

    // A paste asked for while the previous stroke still waits for the modifiers to be let go
    // (the serial-paste hot key held down) must not replace the clipboard under that stroke.
    void pasteWaitsForTheStrokeBefore()
    {
        m_rig->keys.holdStrokes = true;
        const Clip first = m_rig->add({text("first")});
        const Clip second = m_rig->add({text("second")});
        m_rig->paste.paste(first, false, PasteTarget{});
        QTRY_COMPARE_WITH_TIMEOUT(m_rig->keys.waiting(), 1, strokeTimeoutMs);
        QVERIFY(m_rig->paste.isStrokePending());

        m_rig->paste.paste(second, false, PasteTarget{});
        m_rig->paste.pasteText(QStringLiteral("third"), PasteTarget{});
        QCOMPARE(m_rig->pasteboard.items, ItemList{text("first") << marker});

        m_rig->keys.release(); // the stroke for "first" goes; "second" is written after it
        QCOMPARE(m_rig->keys.strokes.size(), 1);
        QCOMPARE(m_rig->pasteboard.items, ItemList{text("second") << marker});
        QTRY_COMPARE_WITH_TIMEOUT(m_rig->keys.waiting(), 1, strokeTimeoutMs);
        m_rig->keys.release();
        QCOMPARE(m_rig->pasteboard.items, ItemList{text("third") << marker});
        QTRY_COMPARE_WITH_TIMEOUT(m_rig->keys.waiting(), 1, strokeTimeoutMs);
        m_rig->keys.release();
        QCOMPARE(m_rig->keys.strokes.size(), 3);
        QVERIFY(!m_rig->paste.isStrokePending());
    }

    void serialQueue()
    {
        SerialPaste &serial = m_rig->serial;
        m_rig->autoPaste = false;
        QSignalSpy posts(&serial, &SerialPaste::changed);
        QSignalSpy lengths(&serial, &SerialPaste::queueLengthChanged);
        QSignalSpy recording(&serial, &SerialPaste::recordingChanged);
        serial.recordIfNeeded(QStringLiteral("not recording"));
        QCOMPARE(serial.queueLength(), 0);

        const QStringList values = {"A", "B", "C"};
        serial.toggleRecording();
        for (const QString &value : values)
            serial.recordIfNeeded(m_rig->add({text(value)}).id);
        serial.toggleRecording(); // stopping keeps the queue
        QCOMPARE(serial.queueLength(), 3);
        QCOMPARE(posts.size(), 5);
        QCOMPARE(recording.size(), 2);

        for (const QString &value : values) {
            serial.pasteNext();
            QCOMPARE(m_rig->pasteboard.items, ItemList{text(value) << marker});
        }
        QCOMPARE(posts.size(), 8);
        QCOMPARE(lengths.last().first().toInt(), 0);
        serial.pasteNext(); // an empty queue writes and announces nothing
        QCOMPARE(m_rig->pasteboard.writes, 3);
        QCOMPARE(posts.size(), 8);
        QCOMPARE(recording.size(), 2);

        // Starting again empties the queue; clearing also stops.
        serial.toggleRecording();
        serial.recordIfNeeded(QStringLiteral("left over"));
        serial.toggleRecording();
        serial.toggleRecording();
        QCOMPARE(serial.queueLength(), 0);
        serial.recordIfNeeded(QStringLiteral("x"));
        serial.clear();
        QVERIFY(!serial.isRecording());
        QCOMPARE(serial.queueLength(), 0);
    }

    void serialSkipsDeletedEntryThenPastesImage()
    {
        SerialPaste &serial = m_rig->serial;
        const Clip gone = m_rig->add({text("gone")});
        const Clip image = m_rig->add({pngItem()}, ClipKind::Image);
        serial.toggleRecording();
        serial.recordIfNeeded(gone.id);
        serial.recordIfNeeded(image.id);
        m_rig->store.remove(gone.id);

        QSignalSpy posts(&serial, &SerialPaste::changed);
        serial.pasteNext();
        QCOMPARE(m_rig->pasteboard.writes, 0);
        QCOMPARE(serial.queueLength(), 1);
        QCOMPARE(posts.size(), 1);
        QTest::qWait(strayStrokeWaitMs);
        QVERIFY(m_rig->keys.strokes.isEmpty());

        // An image goes back with its flavors and moves to the top.
        serial.pasteNext();
        QCOMPARE(m_rig->pasteboard.items, ItemList{pngItem() << marker});
        QVERIFY(m_rig->clip(image.id).created > longAgo);
        QTRY_COMPARE_WITH_TIMEOUT(m_rig->keys.strokes.size(), 1, strokeTimeoutMs);
    }
};

ULVANE_TEST_MAIN(TestPaste)
#include "test_paste.moc"
