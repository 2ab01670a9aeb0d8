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
    void addThree()
    {
        for (const char *text : {"alpha", "beta", "gamma"})
            m_rig->add(QString::fromLatin1(text));
        m_rig->model.refresh(false);
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
        const QList<std::pair<QString, QString>> labels{{"⌘1", "Ctrl+1"},
                                                        {"⌥↩", "Alt+↩"},
                                                        {"⌥⌘↩", "Ctrl+Alt+↩"},
                                                        {"⇧⌘D", "Ctrl+Shift+D"},
                                                        {"esc close", "esc close"}};
        for (const auto &[label, shown] : labels)
            QCOMPARE(PanelKeys::displayLabel(label), shown);
        QVERIFY(!PanelKeys::footerHint().contains(u'⌘'));
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
        NewClip rich;
        rich.items = {FlavorList{Flavor{Uti::rtf, QByteArray("{\\rtf1 bold}")},
                                 Flavor{Uti::plainText, QByteArray("bold")}}};
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
        QVERIFY(m_rig->waitForPaste());
        QCOMPARE(m_rig->pasteboard.items.size(), 1);
        QStringList types;
        for (const Flavor &flavor : m_rig->pasteboard.items.at(0))
            types.append(flavor.uti);
        QVERIFY(types.contains(Uti::plainText));
        QCOMPARE(types.contains(Uti::rtf), !plain);
    }

    void keysActOnWhatTheTypedTextFinds()
    {
        // Return, a quick-paste digit or an arrow pressed before the search's debounce has run
        // must act on the list the typed text gives, not on the one shown before it.
        addThree();
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
        // Beyond the list: consumed, nothing happens.
        QVERIFY(press(Qt::Key_4, Qt::ControlModifier));
        QCOMPARE(m_rig->hides, 0);
        // The first row, whatever is selected; the keypad's digits count too.
        QVERIFY(press(Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier));
        QCOMPARE(m_rig->hides, 1);
        QVERIFY(m_rig->waitForPaste());
        QCOMPARE(m_rig->pasteboardText(), QStringLiteral("gamma"));
    }

    // Each key with the second row selected: whether the picker takes it, then the rows (a
    // star marks a pin), the preview, settings opened and hides. Keys it leaves alone reach
    // the search field, so typing and text editing keep working.
    void keysActOnTheSelectedRow_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("mods");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("consumed");
        QTest::addColumn<QString>("after");
        const QString unchanged = QStringLiteral("gamma beta alpha | 0 0 0");
        const auto row = [](const char *name, int key, int mods, bool consumed,
                            const QString &after, const QString &text = {}) {
            QTest::newRow(name) << key << mods << text << consumed << after;
        };
        const int ctrl = Qt::ControlModifier;
        row("Ctrl+D pins", Qt::Key_D, ctrl, true, QStringLiteral("gamma beta* alpha | 0 0 0"));
        row("Ctrl+I previews", Qt::Key_I, ctrl, true, QStringLiteral("gamma beta alpha | 1 0 0"));
        row("Ctrl+Backspace deletes", Qt::Key_Backspace, ctrl, true,
            QStringLiteral("gamma alpha | 0 0 0"));
        row("Ctrl+, opens settings", Qt::Key_Comma, ctrl, true,
            QStringLiteral("gamma beta alpha | 0 1 1"));
        row("Ctrl+Shift+D", Qt::Key_D, ctrl | Qt::ShiftModifier, false, unchanged);
        row("Ctrl+Shift+1 is Ctrl+!", Qt::Key_Exclam, ctrl | Qt::ShiftModifier, false, unchanged);
        row("Ctrl+0", Qt::Key_0, ctrl, false, unchanged);
        row("digit", Qt::Key_2, Qt::NoModifier, false, unchanged, QStringLiteral("2"));
        row("letter", Qt::Key_A, Qt::NoModifier, false, unchanged, QStringLiteral("a"));
        row("Backspace", Qt::Key_Backspace, Qt::NoModifier, false, unchanged);
        row("Ctrl+A", Qt::Key_A, ctrl, false, unchanged);
        row("Ctrl+V", Qt::Key_V, ctrl, false, unchanged);
        row("Alt+D", Qt::Key_D, Qt::AltModifier, false, unchanged);
        row("Tab", Qt::Key_Tab, Qt::NoModifier, false, unchanged);
        row("PageDown", Qt::Key_PageDown, Qt::NoModifier, false, unchanged);
        row("Ctrl+End", Qt::Key_End, ctrl, false, unchanged);
        row("Ctrl+Right", Qt::Key_Right, ctrl, false, unchanged);
        row("Ctrl+Delete", Qt::Key_Delete, ctrl, false, unchanged);
        row("Ctrl+F5", Qt::Key_F5, ctrl, false, unchanged);
    }
    void keysActOnTheSelectedRow()
    {
        QFETCH(int, key);
        QFETCH(int, mods);
        QFETCH(QString, text);
        QFETCH(bool, consumed);
        QFETCH(QString, after);
        addThree();
        m_rig->model.setSelection(1);
        QCOMPARE(press(key, Qt::KeyboardModifiers(mods), text), consumed);
        QStringList rows;
        for (const Clip &clip : m_rig->model.clips())
            rows.append(clip.excerpt + (clip.pinned ? QStringLiteral("*") : QString()));
        QCOMPARE(QStringLiteral("%1 | %2 %3 %4")
                     .arg(rows.join(u' '))
                     .arg(int(m_rig->model.hasPreview()))
                     .arg(m_settingsOpened)
                     .arg(m_rig->hides),
                 after);
        QCOMPARE(m_rig->store.count(), m_rig->model.count());
    }
};

ULVANE_TEST_MAIN(TestPanelKeys)
#include "test_panel_keys.moc"
