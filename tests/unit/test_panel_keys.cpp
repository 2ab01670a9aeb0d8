#include "PanelRig.h"
#include "TestMain.h"

#include "panel/PanelKeys.h"

#include <QKeyEvent>

// The picker's keyboard, driven with real key events through the real handler over a real store.
class TestPanelKeys : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PanelRig> m_rig;
    std::unique_ptr<PanelKeyHandler> m_keys;
    int m_settingsOpened = 0;

    bool press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        return m_keys->handle(QKeyEvent(QEvent::KeyPress, key, mods));
    }

private Q_SLOTS:
    void init()
    {
        m_keys.reset();
        m_rig = std::make_unique<PanelRig>();
        m_settingsOpened = 0;
        m_keys = std::make_unique<PanelKeyHandler>(
            m_rig->model, m_rig->actions,
            PanelKeyHandler::Actions{[this] { ++m_rig->hides; }, [this] { ++m_settingsOpened; }});
    }

    void labelsUseLinuxNames()
    {
        // Modifiers come out in the Linux order whatever order the glyphs were written in.
        QCOMPARE(PanelKeys::displayLabel(u"⌥⌘↩"_qs), u"Ctrl+Alt+↩"_qs);
        QCOMPARE(PanelKeys::displayLabel(u"⇧⌘D"_qs), u"Ctrl+Shift+D"_qs);
        QCOMPARE(PanelKeys::displayLabel(u"esc close"_qs), u"esc close"_qs);
        QVERIFY(!PanelKeys::footerHint().contains(u'⌘'));
        QCOMPARE(PanelKeys::quickPasteLabel(8), QStringLiteral("Ctrl+9"));
        QVERIFY(PanelKeys::quickPasteLabel(9).isEmpty());
    }

    void returnPastesTheSelection()
    {
        // A rich entry: plain paste must leave only its text on the clipboard.
        m_rig->add(QStringLiteral("older"));
        const QString rich = m_rig->add({FlavorList{Flavor{Uti::rtf, QByteArray("{\\rtf1 bold}")},
                                                    Flavor{Uti::plainText, QByteArray("bold")}}});
        m_rig->model.refresh(false);
        const QList<std::tuple<int, int, bool>> keys{
            {Qt::Key_Return, Qt::NoModifier, false},
            {Qt::Key_Enter, Qt::KeypadModifier, false},
            {Qt::Key_Return, Qt::ControlModifier | Qt::AltModifier, true}};
        int pastes = 0;
        for (const auto &[key, mods, plain] : keys) {
            QCOMPARE(m_rig->model.selectedClip()->id, rich);
            QVERIFY(press(key, Qt::KeyboardModifiers(mods)));
            QCOMPARE(m_rig->hides, ++pastes);
            QVERIFY(m_rig->waitForPaste(pastes));
            const FlavorList &written = m_rig->pasteboard.items.at(0);
            QVERIFY(Flavors::first(written, Uti::plainText));
            QCOMPARE(Flavors::first(written, Uti::rtf) != nullptr, !plain);
        }
    }

    void keysActOnWhatTheTypedTextFinds()
    {
        // Return, a quick-paste digit or an arrow pressed before the search's debounce has run
        // must act on the list the typed text gives, not on the one shown before it.
        m_rig->addThree();
        const QList<std::pair<int, int>> keys{{Qt::Key_Return, Qt::NoModifier},
                                              {Qt::Key_1, Qt::ControlModifier}};
        int writes = 0;
        for (const auto &[key, mods] : keys) {
            m_rig->model.setQuery(QStringLiteral("alp"));
            QVERIFY(press(key, Qt::KeyboardModifiers(mods)));
            QVERIFY(m_rig->waitForPaste(++writes));
            QCOMPARE(m_rig->pasteboardText(), QStringLiteral("alpha"));
            m_rig->model.setQuery(QString());
            m_rig->model.refresh(false);
        }
        m_rig->model.setQuery(QStringLiteral("be"));
        QVERIFY(press(Qt::Key_Down, Qt::NoModifier));
        QCOMPARE(m_rig->model.rowCount(), 1);
        QCOMPARE(m_rig->model.selectedClip()->excerpt, QStringLiteral("beta"));
    }

    void keysOnAnEmptyListDoNothing()
    {
        // Every paste orders the window out first, so no hide means no paste is on its way.
        for (const int key : {Qt::Key_Return, Qt::Key_D, Qt::Key_Backspace, Qt::Key_I})
            QVERIFY(press(key, key == Qt::Key_Return ? Qt::NoModifier : Qt::ControlModifier));
        QCOMPARE(m_rig->hides, 0);
        QVERIFY(!m_rig->model.hasPreview());
        QCoreApplication::processEvents();
        QVERIFY(m_rig->pasteboard.items.isEmpty());
    }

    void escapeClosesPreviewThenClearsSearchThenHides()
    {
        m_rig->addThree();
        m_rig->model.setQuery(QStringLiteral("gam"));
        m_rig->model.togglePreview();
        QVERIFY(press(Qt::Key_Escape));
        QVERIFY(!m_rig->model.hasPreview());
        QCOMPARE(m_rig->model.query(), QStringLiteral("gam"));
        QVERIFY(press(Qt::Key_Escape, Qt::ControlModifier));
        QVERIFY(m_rig->model.query().isEmpty());
        QCOMPARE(m_rig->hides, 0);
        QVERIFY(press(Qt::Key_Escape));
        QCOMPARE(m_rig->hides, 1);
    }

    void quickPasteDigits()
    {
        m_rig->addThree();
        m_rig->model.setSelection(2);
        // The first row, whatever is selected; the keypad's digits count too.
        QVERIFY(press(Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier));
        QCOMPARE(m_rig->hides, 1);
        QVERIFY(m_rig->waitForPaste());
        QCOMPARE(m_rig->pasteboardText(), QStringLiteral("gamma"));
    }

    // Each key with the second row selected: whether the picker takes it, then the rows (a
    // star marks a pin), the selection, the preview, settings opened and hides. Keys it leaves
    // alone reach the search field, so typing and text editing keep working.
    void keysActOnTheSelectedRow_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("mods");
        QTest::addColumn<bool>("consumed");
        QTest::addColumn<QString>("after");
        const char *unchanged = "gamma beta alpha | 1 0 0 0";
        const auto row = [](const char *name, int key, int mods, bool consumed, const char *after) {
            QTest::newRow(name) << key << mods << consumed << QString::fromUtf8(after);
        };
        const int ctrl = Qt::ControlModifier;
        row("Up", Qt::Key_Up, Qt::NoModifier, true, "gamma beta alpha | 0 0 0 0");
        row("Ctrl+Alt+Down", Qt::Key_Down, ctrl | Qt::AltModifier, true,
            "gamma beta alpha | 2 0 0 0");
        row("Ctrl+D pins", Qt::Key_D, ctrl, true, "gamma beta* alpha | 1 0 0 0");
        row("Ctrl+I previews", Qt::Key_I, ctrl, true, "gamma beta alpha | 1 1 0 0");
        row("Ctrl+Backspace deletes", Qt::Key_Backspace, ctrl, true, "gamma alpha | 1 0 0 0");
        row("Ctrl+, opens settings", Qt::Key_Comma, ctrl, true, "gamma beta alpha | 1 0 1 1");
        row("Ctrl+4 past the last row", Qt::Key_4, ctrl, true, unchanged);
        row("Ctrl+Shift+D", Qt::Key_D, ctrl | Qt::ShiftModifier, false, unchanged);
        row("Ctrl+Shift+1 is Ctrl+!", Qt::Key_Exclam, ctrl | Qt::ShiftModifier, false, unchanged);
        row("Ctrl+0", Qt::Key_0, ctrl, false, unchanged);
        row("Ctrl+V", Qt::Key_V, ctrl, false, unchanged);
        row("Backspace", Qt::Key_Backspace, Qt::NoModifier, false, unchanged);
    }
    void keysActOnTheSelectedRow()
    {
        QFETCH(int, key);
        QFETCH(int, mods);
        QFETCH(bool, consumed);
        QFETCH(QString, after);
        m_rig->addThree();
        m_rig->model.setSelection(1);
        QCOMPARE(press(key, Qt::KeyboardModifiers(mods)), consumed);
        QStringList rows;
        for (const Clip &clip : m_rig->model.clips())
            rows.append(clip.excerpt + (clip.pinned ? QStringLiteral("*") : QString()));
        QCOMPARE(QStringLiteral("%1 | %2 %3 %4 %5")
                     .arg(rows.join(u' '))
                     .arg(m_rig->model.selection())
                     .arg(int(m_rig->model.hasPreview()))
                     .arg(m_settingsOpened)
                     .arg(m_rig->hides),
                 after);
        QCOMPARE(m_rig->store.count(), m_rig->model.count());
    }
};

ULVANE_TEST_MAIN(TestPanelKeys)
#include "test_panel_keys.moc"
