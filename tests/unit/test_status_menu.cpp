#include "PanelRig.h"
#include "TestMain.h"

#include "app/AppActions.h"
#include "app/LoginItem.h"
#include "app/StatusMenu.h"
#include "panel/AppIconCache.h"
#include "panel/PanelView.h"
#include "paste/SerialPaste.h"
#include "platform/xdg/DesktopEntry.h"
#include "prefs/Prefs.h"

#include <QMenu>
#include <QToolButton>

// The application's verbs as the tray and the picker show them: state read from one place, the
// same action behind both menus, and the tray icon's states.
class TestStatusMenu : public QObject
{
    Q_OBJECT

    struct Fixture
    {
        PanelRig rig;
        Prefs prefs{rig.dir.filePath(QStringLiteral("prefs.conf"))};
        SerialPaste serial{rig.paste, rig.store};
        LoginItem login{rig.dir.filePath(QStringLiteral("autostart/") + DesktopEntry::fileName),
                        QStringLiteral("/usr/bin/ulvane")};
        bool canSendKeys = true;
        AppActions actions{prefs, serial, login, [this] { return canSendKeys; }};
    };

    static QList<QAction *> shown(const QMenu &menu)
    {
        QList<QAction *> items;
        for (QAction *action : menu.actions()) {
            if (!action->isSeparator())
                items.append(action);
        }
        return items;
    }

private Q_SLOTS:
    void actionsFollowTheState_data()
    {
        QTest::addColumn<bool>("paused");
        QTest::addColumn<bool>("plain");
        QTest::addColumn<bool>("login");
        QTest::addColumn<bool>("canSendKeys");
        QTest::addColumn<int>("queued");
        QTest::newRow("defaults") << false << false << false << true << 0;
        QTest::newRow("everything on") << true << true << true << false << 2;
    }

    void actionsFollowTheState()
    {
        QFETCH(bool, paused);
        QFETCH(bool, plain);
        QFETCH(bool, login);
        QFETCH(bool, canSendKeys);
        QFETCH(int, queued);
        Fixture f;
        f.prefs.setPaused(paused);
        f.prefs.setPlainTextMode(plain);
        f.login.set(login);
        f.canSendKeys = canSendKeys;
        f.serial.toggleRecording();
        for (int i = 0; i < queued; ++i)
            f.serial.recordIfNeeded(f.rig.add(QStringLiteral("queued %1").arg(i)));
        QCOMPARE(f.serial.queueLength(), queued);
        f.actions.refresh();

        QCOMPARE(f.actions.pauseClipping()->isChecked(), paused);
        QCOMPARE(f.actions.pauseClipping()->text().startsWith(u"Resume"), paused);
        QCOMPARE(f.actions.plainTextMode()->isChecked(), plain);
        QCOMPARE(f.actions.launchAtLogin()->isChecked(), login);
        QCOMPARE(f.actions.enableAutoPaste()->isVisible(), !canSendKeys);
        QCOMPARE(f.actions.serialPasteNext()->isVisible(), queued > 0);
        QCOMPARE(f.actions.serialClear()->isVisible(), queued > 0);
        QVERIFY(f.actions.serialRecording()->text().contains(u"Stop"));

        // The tray shows exactly the verbs that apply now, with no empty group.
        QMenu menu;
        StatusMenu::fill(menu, f.actions, QStringLiteral("0.1.0"), 3);
        for (QAction *action : shown(menu)) {
            if (action->parent() == &f.actions)
                QVERIFY2(action->isVisible(), qPrintable(action->text()));
        }
        QVERIFY(shown(menu).contains(f.actions.enableAutoPaste()) == !canSendKeys);
        QVERIFY(shown(menu).contains(f.actions.serialClear()) == (queued > 0));
        const QList<QAction *> items = menu.actions();
        for (qsizetype i = 1; i < items.size(); ++i)
            QVERIFY(!(items[i]->isSeparator() && items[i - 1]->isSeparator()));
    }

    void togglesActOnTheStateNotTheCheckMark()
    {
        Fixture f;
        f.actions.refresh();
        // Paused elsewhere (a hot key) after the menu last read the state.
        f.prefs.setPaused(true);
        f.actions.pauseClipping()->trigger();
        QVERIFY(!f.prefs.paused());
    }

    void theTrayAndThePickerRunTheSameVerbs()
    {
        Fixture f;
        AppIconCache icons([](const QString &) { return QString(); });
        PanelActions pickerActions;
        pickerActions.more = {f.actions.launchAtLogin(), f.actions.pauseClipping(), nullptr,
                              f.actions.showAbout(), f.actions.quit()};
        pickerActions.openSettings = f.actions.openSettings();
        pickerActions.enableAutoPaste = f.actions.enableAutoPaste();
        PanelView picker(f.rig.model, f.rig.actions, f.prefs, f.rig.store, icons, pickerActions);
        QMenu tray;
        f.actions.refresh();
        StatusMenu::fill(tray, f.actions, QStringLiteral("0.1.0"), 0);

        int settingsOpened = 0;
        connect(f.actions.openSettings(), &QAction::triggered, this, [&] { ++settingsOpened; });
        for (QAction *action : shown(*picker.moreMenu()))
            QVERIFY2(shown(tray).contains(action), qPrintable(action->text()));
        f.actions.pauseClipping()->trigger();
        QVERIFY(f.prefs.paused());
        picker.moreMenu()->actions().at(1)->trigger();
        QVERIFY(!f.prefs.paused());

        // The gear opens the settings and the picker gets out of the way.
        picker.settingsButton()->click();
        QCOMPARE(settingsOpened, 1);
        QCOMPARE(f.rig.hides, 1);
    }

    void showTitleNamesTheKeyInForce()
    {
        QCOMPARE(StatusMenu::showTitle(QString()), StatusMenu::showTitle(QStringLiteral("Off")));
        QVERIFY(StatusMenu::showTitle(QStringLiteral("⌥⌘V")).contains(u"Super+Alt+V"));
        QVERIFY(!StatusMenu::toolTip(QStringLiteral("Off"), 0).contains(u"to open"));
        QVERIFY(StatusMenu::toolTip(QStringLiteral("Off"), 2).contains(u"2 queued"));
    }

    void statusImageShowsPauseAndQueue()
    {
        const QImage plain = StatusMenu::statusImage(false, 0, 36);
        QVERIFY(StatusMenu::statusImage(true, 0, 36) != plain);
        QVERIFY(StatusMenu::statusImage(false, 3, 36) != plain);
    }
};

ULVANE_WIDGET_TEST_MAIN(TestStatusMenu, false)
#include "test_status_menu.moc"
