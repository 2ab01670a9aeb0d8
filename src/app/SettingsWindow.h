#pragma once

#include "app/settings/DataPage.h"

#include <QWidget>

#include <memory>

class AppIconManager;
class AppearancePage;
class FiltersPage;
class GeneralPage;
class HotKeyCenter;
class LoginItem;
class Prefs;
class QAction;
class QPushButton;
class QStackedWidget;
class SettingsDialogs;
class ShortcutsPage;
class Store;
class TabStrip;

// The settings window: five tabs (General, Shortcuts, Filters, Appearance, Data) over the
// preferences, the login item, the icon style and the store, and a footer with the version.
// Controls write through to Prefs the moment they change and follow Prefs when something
// else changes it. Closing only hides the window, so reopening shows the same tab.
//
// Hot-key pickers rebind through HotKeyCenter, which reads Prefs::shared(): give the window
// that same Prefs object.
class SettingsWindow : public QWidget
{
    Q_OBJECT

public:
    enum Tab { General, Shortcuts, Filters, Appearance, Data };

    static constexpr int windowWidth = 520;
    static constexpr int windowHeight = 468;

    SettingsWindow(Prefs &prefs, Store &store, HotKeyCenter &hotKeys, LoginItem &loginItem,
                   AppIconManager &icons, QWidget *parent = nullptr);
    ~SettingsWindow() override;

    // The application's verbs the window offers as well. Without them the auto-paste notice
    // never shows and the footer has no About link.
    void setEnableAutoPasteAction(QAction *action);
    void setAboutAction(QAction *action);
    // Whether the desktop names the application of each copy (the Filters tab says when not).
    void setSourcesKnown(bool known);
    // Replaces Qt's message boxes and file dialogs.
    void setDialogs(std::unique_ptr<SettingsDialogs> dialogs);
    // The CopyLess 2 import the Data tab runs.
    void setCopyLessJob(DataPage::CopyLessJob job);

    Tab currentTab() const;
    void setCurrentTab(Tab tab);

    // Reads what the window shows but does not observe: the login item, whether auto-paste
    // can strike keys, the hot key actually bound, the store's figures and the icon style.
    // Runs whenever the window is shown.
    void refresh();

    // The warning under the show-panel picker, or empty when it is not shown.
    QString hotkeyWarning() const;

Q_SIGNALS:
    // After a CopyLess 2 import finished and its result was reported.
    void copyLessImportFinished();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *buildFooter();

    std::unique_ptr<SettingsDialogs> m_dialogs;
    TabStrip *m_tabs;
    QStackedWidget *m_pages;
    GeneralPage *m_general;
    ShortcutsPage *m_shortcuts;
    FiltersPage *m_filters;
    AppearancePage *m_appearance;
    DataPage *m_data;
    QPushButton *m_aboutLink = nullptr;
};
