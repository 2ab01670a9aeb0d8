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

    bool press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString &text = {})
    {
        const QKeyEvent event(QEvent::KeyPress, key, mods, text);
        return m_keys->handle(event);
    }

    // Rows: "gamma" (0), "beta" (1), "alpha" (2).
    QStringList addThree()
    {
        QStringList ids;
        for (const char *text : {"alpha", "beta", "gamma"})
            ids.prepend(m_rig->add(QString::fromLatin1(text)));
        m_rig->model.refresh(false);
        return ids;
    }

    // The paste runs after the window had time to go away.
    void waitForPaste() { QTest::qWait(PanelModel::pasteDelayMs + 30); }

private Q_SLOTS:
    void init()
    {
        m_keys.reset();
        m_rig = std::make_unique<PanelRig>();
        m_settingsOpened = 0;
        m_keys = std::make_unique<PanelKeyHandler>(
            m_rig->model, m_rig->store,
            PanelKeyHandler::Actions{[this] { ++m_rig->hides; }, [this] { ++m_settingsOpened; }});
    }

    void labelsUseLinuxNames()
    {
        QCOMPARE(PanelKeys::displayLabel(QStringLiteral("⌘1")), QStringLiteral("Ctrl+1"));
        QCOMPARE(PanelKeys::displayLabel(QStringLiteral("⌥↩")), QStringLiteral("Alt+↩"));
        QCOMPARE(PanelKeys::displayLabel(QStringLiteral("⌥⌘↩")), QStringLiteral("Ctrl+Alt+↩"));
        QCOMPARE(PanelKeys::displayLabel(QStringLiteral("⇧⌘D")), QStringLiteral("Ctrl+Shift+D"));
        QCOMPARE(PanelKeys::displayLabel(QStringLiteral("esc close")), QStringLiteral("esc close"));
        QCOMPARE(PanelKeys::footerHint(),
                 QStringLiteral("↩ paste · Alt+↩ plain · Ctrl+1–9 quick · Ctrl+D pin · "
                                "Ctrl+I preview · Ctrl+⌫ delete · esc close"));
        QCOMPARE(PanelKeys::quickPasteLabel(0), QStringLiteral("Ctrl+1"));
        QCOMPARE(PanelKeys::quickPasteLabel(8), QStringLiteral("Ctrl+9"));
        QVERIFY(PanelKeys::quickPasteLabel(9).isEmpty());
        QVERIFY(PanelKeys::quickPasteLabel(-1).isEmpty());
    }

    void arrowsMoveAndStopAtTheEnds()
    {
        addThree();
        QVERIFY(press(Qt::Key_Up));
        QCOMPARE(m_rig->model.selection(), 0);
        QVERIFY(press(Qt::Key_Down, Qt::ControlModifier | Qt::AltModifier));
        QVERIFY(press(Qt::Key_Down));
        QCOMPARE(m_rig->model.selection(), 2);
        QVERIFY(press(Qt::Key_Down));
        QCOMPARE(m_rig->model.selection(), 2);
        QVERIFY(press(Qt::Key_Up, Qt::ControlModifier));
        QCOMPARE(m_rig->model.selection(), 1);
    }

    void returnPastesTheSelection_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("mods");
        QTest::addColumn<bool>("plain");
        QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier) << false;
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << false;
        QTest::newRow("Ctrl+Return") << int(Qt::Key_Return) << int(Qt::ControlModifier) << false;
        QTest::newRow("Alt+Return") << int(Qt::Key_Return) << int(Qt::AltModifier) << true;
        QTest::newRow("Ctrl+Alt+Return")
            << int(Qt::Key_Return) << int(Qt::ControlModifier | Qt::AltModifier) << true;
    }
    void returnPastesTheSelection()
    {
        QFETCH(int, key);
        QFETCH(int, mods);
        QFETCH(bool, plain);
        // A rich entry: plain paste must leave only its text on the clipboard.
        const ItemList items{FlavorList{Flavor{Uti::rtf, QByteArray("{\\rtf1 bold}")},
                                        Flavor{Uti::plainText, QByteArray("bold")}}};
        NewClip rich;
        rich.items = items;
        rich.excerpt = QStringLiteral("bold");
        rich.created = 5000.0;
        rich.ifStored = NewClip::IfStored::StoreAgain;
        rich.id = QStringLiteral("RICH");
        QVERIFY(m_rig->store.add(rich));
        m_rig->add(QStringLiteral("older"));
        m_rig->model.refresh(false);
        QCOMPARE(m_rig->model.selectedClip()->id, QStringLiteral("RICH"));

        QVERIFY(press(key, Qt::KeyboardModifiers(mods)));
        QCOMPARE(m_rig->hides, 1);
        waitForPaste();
        QCOMPARE(m_rig->pasteboard.items.size(), 1);
        QStringList types;
        for (const Flavor &flavor : m_rig->pasteboard.items.at(0))
            types.append(flavor.uti);
        QVERIFY(types.contains(Uti::plainText));
        QCOMPARE(types.contains(Uti::rtf), !plain);
    }

    void returnOnAnEmptyListKeepsThePanel()
    {
        QVERIFY(press(Qt::Key_Return));
        QCOMPARE(m_rig->hides, 0);
        waitForPaste();
        QVERIFY(m_rig->pasteboard.items.isEmpty());
    }

    void escapeClosesPreviewThenClearsSearchThenHides()
    {
        addThree();
        m_rig->model.setQuery(QStringLiteral("gam"));
        m_rig->model.togglePreview();
        QVERIFY(m_rig->model.hasPreview());

        QVERIFY(press(Qt::Key_Escape));
        QVERIFY(!m_rig->model.hasPreview());
        QCOMPARE(m_rig->model.query(), QStringLiteral("gam"));
        QCOMPARE(m_rig->hides, 0);

        QVERIFY(press(Qt::Key_Escape, Qt::ControlModifier));
        QVERIFY(m_rig->model.query().isEmpty());
        QCOMPARE(m_rig->hides, 0);

        QVERIFY(press(Qt::Key_Escape));
        QCOMPARE(m_rig->hides, 1);
    }

    void quickPasteDigits()
    {
        addThree();
        m_rig->model.setSelection(2);
        // Shift turns the digit into another character: no shortcut.
        QVERIFY(!press(Qt::Key_Exclam, Qt::ControlModifier | Qt::ShiftModifier));
        QVERIFY(!press(Qt::Key_0, Qt::ControlModifier));
        // Beyond the list: consumed, nothing happens.
        QVERIFY(press(Qt::Key_4, Qt::ControlModifier));
        QCOMPARE(m_rig->hides, 0);
        // The first row, whatever is selected; the keypad's digits count too.
        QVERIFY(press(Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier));
        QCOMPARE(m_rig->hides, 1);
        waitForPaste();
        QCOMPARE(m_rig->pasteboardText(), QStringLiteral("gamma"));
        // Without Control a digit is typing.
        QVERIFY(!press(Qt::Key_2, Qt::NoModifier, QStringLiteral("2")));
    }

    void pinToggleAndDelete()
    {
        const QStringList ids = addThree();
        QVERIFY(press(Qt::Key_D, Qt::ControlModifier));
        QVERIFY(m_rig->model.clips().at(0).pinned);
        QVERIFY(!press(Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier));
        QVERIFY(press(Qt::Key_D, Qt::ControlModifier));
        QVERIFY(!m_rig->model.clips().at(0).pinned);

        m_rig->model.setSelection(1);
        // Plain Backspace edits the search text; Control+Backspace deletes the selected row.
        QVERIFY(!press(Qt::Key_Backspace));
        QCOMPARE(m_rig->model.count(), 3);
        QVERIFY(press(Qt::Key_Backspace, Qt::ControlModifier));
        QCOMPARE(m_rig->model.count(), 2);
        QCOMPARE(m_rig->store.count(), 2);
        for (const Clip &clip : m_rig->model.clips())
            QVERIFY(clip.id != ids.at(1));

        m_rig->model.setQuery(QStringLiteral("nothing-matches-this"));
        m_rig->model.refresh(false);
        QVERIFY(press(Qt::Key_Backspace, Qt::ControlModifier));
        QVERIFY(press(Qt::Key_D, Qt::ControlModifier));
        QCOMPARE(m_rig->store.count(), 2);
    }

    void previewAndSettings()
    {
        addThree();
        QVERIFY(press(Qt::Key_I, Qt::ControlModifier));
        QVERIFY(m_rig->model.hasPreview());
        QVERIFY(press(Qt::Key_I, Qt::ControlModifier));
        QVERIFY(!m_rig->model.hasPreview());
        QVERIFY(press(Qt::Key_Comma, Qt::ControlModifier));
        QCOMPARE(m_settingsOpened, 1);
        QCOMPARE(m_rig->hides, 1);
    }

    void otherKeysReachTheFocusedControl_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("mods");
        QTest::addColumn<QString>("text");
        QTest::newRow("letter") << int(Qt::Key_A) << int(Qt::NoModifier) << QStringLiteral("a");
        QTest::newRow("Ctrl+A") << int(Qt::Key_A) << int(Qt::ControlModifier) << QString();
        QTest::newRow("Ctrl+V") << int(Qt::Key_V) << int(Qt::ControlModifier) << QString();
        QTest::newRow("Alt+D") << int(Qt::Key_D) << int(Qt::AltModifier) << QString();
        QTest::newRow("Tab") << int(Qt::Key_Tab) << int(Qt::NoModifier) << QString();
        QTest::newRow("PageDown") << int(Qt::Key_PageDown) << int(Qt::NoModifier) << QString();
        QTest::newRow("Home") << int(Qt::Key_Home) << int(Qt::NoModifier) << QString();
        QTest::newRow("End") << int(Qt::Key_End) << int(Qt::ControlModifier) << QString();
        QTest::newRow("Left") << int(Qt::Key_Left) << int(Qt::NoModifier) << QString();
        QTest::newRow("Ctrl+Right") << int(Qt::Key_Right) << int(Qt::ControlModifier) << QString();
        QTest::newRow("Ctrl+Delete")
            << int(Qt::Key_Delete) << int(Qt::ControlModifier) << QString();
        QTest::newRow("Ctrl+F5") << int(Qt::Key_F5) << int(Qt::ControlModifier) << QString();
    }
    void otherKeysReachTheFocusedControl()
    {
        QFETCH(int, key);
        QFETCH(int, mods);
        QFETCH(QString, text);
        addThree();
        QVERIFY(!press(key, Qt::KeyboardModifiers(mods), text));
        QCOMPARE(m_rig->model.count(), 3);
        QCOMPARE(m_rig->model.selection(), 0);
        QCOMPARE(m_rig->hides, 0);
    }
};

ULVANE_TEST_MAIN(TestPanelKeys)
#include "test_panel_keys.moc"
