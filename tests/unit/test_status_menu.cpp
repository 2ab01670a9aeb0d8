#include "TestMain.h"

#include "app/StatusMenu.h"
#include "panel/Theme.h"

#include <QMenu>

// The tray's menu for each state it can be opened in, and the icon's pixels.
class TestStatusMenu : public QObject
{
    Q_OBJECT

private:
    QStringList titles(const QMenu &menu) const
    {
        QStringList texts;
        for (const QAction *action : menu.actions())
            texts.append(action->isSeparator() ? QStringLiteral("--") : action->text());
        return texts;
    }

    QAction *find(const QMenu &menu, const QString &text) const
    {
        for (QAction *action : menu.actions()) {
            if (action->text() == text)
                return action;
        }
        return nullptr;
    }

    // Share of pixels along the slash's diagonal that are painted.
    static double diagonalInk(const QImage &image)
    {
        int inked = 0;
        int total = 0;
        for (int i = 3; i < image.width() - 3; ++i) {
            // The slash runs from the top left to the bottom right in image coordinates.
            const QRgb pixel = image.pixel(i, i);
            inked += qAlpha(pixel) > 128;
            ++total;
        }
        return double(inked) / total;
    }

private Q_SLOTS:
    void showTitleFollowsTheKeyInForce()
    {
        QCOMPARE(StatusMenu::showTitle(QString()), QStringLiteral("Show Clipboard"));
        QCOMPARE(StatusMenu::showTitle(QStringLiteral("Off")), QStringLiteral("Show Clipboard"));
        QCOMPARE(StatusMenu::showTitle(QStringLiteral("⌥⌘V")),
                 QStringLiteral("Show Clipboard (Super+Alt+V)"));
        QCOMPARE(StatusMenu::showTitle(QStringLiteral("⌃⌥V")),
                 QStringLiteral("Show Clipboard (Ctrl+Alt+V)"));
        QVERIFY(StatusMenu::toolTip(QStringLiteral("⌥⌘V"), 0).contains(u"Super+Alt+V"));
        QVERIFY(!StatusMenu::toolTip(QStringLiteral("Off"), 0).contains(u"to open"));
        QVERIFY(StatusMenu::toolTip(QStringLiteral("Off"), 2).contains(u"2 queued"));
    }

    void itemsForAPlainTrustedState()
    {
        QMenu menu;
        StatusMenuState state;
        state.version = QStringLiteral("0.1.0");
        state.clipCount = 12;
        state.activeHotkeyLabel = QStringLiteral("⌥⌘V");
        StatusMenu::fill(menu, state, {});
        QCOMPARE(titles(menu), (QStringList{"Clipboard Manager", "v0.1.0  ·  12 clips", "--",
                                            "Show Clipboard (Super+Alt+V)", "--", "Pause Clipping",
                                            "Plain-Text Mode", "Strip Formatting on Pasteboard",
                                            "--", "Serial Paste: Start Recording", "--",
                                            "Launch at Login", "Import from CopyLess 2…",
                                            "Settings…", "About Ulvane", "--", "Quit Ulvane"}));
        QVERIFY(!menu.actions().at(0)->isEnabled());
        QVERIFY(!menu.actions().at(1)->isEnabled());
        QVERIFY(!find(menu, QStringLiteral("Pause Clipping"))->isChecked());
    }

    void itemsWhilePausedRecordingUntrusted()
    {
        QMenu menu;
        StatusMenuState state;
        state.version = QStringLiteral("0.1.0");
        state.paused = true;
        state.plainTextMode = true;
        state.recording = true;
        state.queued = 2;
        state.trusted = false;
        state.launchAtLogin = true;
        StatusMenu::fill(menu, state, {});
        const QStringList texts = titles(menu);
        QVERIFY(find(menu, QStringLiteral("Resume Clipping"))->isChecked());
        QVERIFY(find(menu, QStringLiteral("Plain-Text Mode"))->isChecked());
        QVERIFY(find(menu, QStringLiteral("Launch at Login"))->isChecked());
        const qsizetype stop = texts.indexOf(QStringLiteral("Serial Paste: Stop Recording"));
        QVERIFY(stop > 0);
        QCOMPARE(texts.at(stop + 1), QStringLiteral("Serial Paste: Paste Next (2 left)"));
        QCOMPARE(texts.at(stop + 2), QStringLiteral("Serial Paste: Clear Queue"));
        QCOMPARE(texts.at(stop + 3), QStringLiteral("--"));
        QCOMPARE(texts.at(stop + 4), QStringLiteral("⚠️ Enable Auto-Paste (Accessibility)…"));
        QCOMPARE(texts.at(stop + 5), QStringLiteral("--"));
        QCOMPARE(texts.at(stop + 6), QStringLiteral("Launch at Login"));

        // Reopening rebuilds from scratch: nothing of the previous state lingers.
        state.queued = 0;
        state.trusted = true;
        StatusMenu::fill(menu, state, {});
        QVERIFY(!titles(menu).contains(QStringLiteral("Serial Paste: Clear Queue")));
        QVERIFY(
            !titles(menu).contains(QStringLiteral("⚠️ Enable Auto-Paste (Accessibility)…")));
    }

    void itemsRunTheirActions()
    {
        QMenu menu;
        QStringList ran;
        StatusMenuActions actions;
        actions.showPanel = [&] { ran << "show"; };
        actions.togglePause = [&] { ran << "pause"; };
        actions.serialNext = [&] { ran << "next"; };
        actions.openSettings = [&] { ran << "settings"; };
        actions.quit = [&] { ran << "quit"; };
        StatusMenuState state;
        state.queued = 1;
        StatusMenu::fill(menu, state, actions);
        find(menu, QStringLiteral("Show Clipboard"))->trigger();
        find(menu, QStringLiteral("Pause Clipping"))->trigger();
        find(menu, QStringLiteral("Serial Paste: Paste Next (1 left)"))->trigger();
        find(menu, QStringLiteral("Settings…"))->trigger();
        find(menu, QStringLiteral("Quit Ulvane"))->trigger();
        // Items without an action do nothing rather than crash.
        find(menu, QStringLiteral("About Ulvane"))->trigger();
        QCOMPARE(ran, (QStringList{"show", "pause", "next", "settings", "quit"}));
    }

    void statusImagePixels()
    {
        const QImage plain = StatusMenu::statusImage(false, 0, 36);
        const QImage paused = StatusMenu::statusImage(true, 0, 36);
        QCOMPARE(plain.size(), QSize(36, 36));
        // The board's cut-out line is see-through; the board around it is painted.
        QVERIFY(qAlpha(plain.pixel(18, 16)) < 60);
        QVERIFY(qAlpha(plain.pixel(8, 18)) > 200);
        QCOMPARE(QColor(plain.pixel(8, 18)).rgb(), Brisel::text().rgb());
        // The clip on top, the corners clear.
        QVERIFY(qAlpha(plain.pixel(18, 36 - 30)) > 200);
        QCOMPARE(qAlpha(plain.pixel(1, 1)), 0);
        // Only the paused icon carries the slash.
        QVERIFY(diagonalInk(paused) > 0.9);
        QVERIFY(qAlpha(paused.pixel(5, 5)) > 100);
        QCOMPARE(qAlpha(plain.pixel(5, 5)), 0);
        // Beside the slash the board is cut away, so it shows across the board too.
        QVERIFY(qAlpha(plain.pixel(21, 18)) > 200);
        QVERIFY(qAlpha(paused.pixel(21, 18)) < 60);

        // A pending serial queue shows as an accent badge.
        const QImage queued = StatusMenu::statusImage(false, 3, 36);
        int accent = 0;
        for (int y = 0; y < 36; ++y)
            for (int x = 0; x < 36; ++x)
                accent += QColor(queued.pixel(x, y)).rgb() == Brisel::blue().rgb();
        QVERIFY(accent > 40);
    }
};

ULVANE_WIDGET_TEST_MAIN(TestStatusMenu, false)
#include "test_status_menu.moc"
