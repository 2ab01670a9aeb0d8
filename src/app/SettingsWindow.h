#pragma once

#include "exchange/CopyLessImporter.h"

#include <QWidget>

#include <functional>
#include <optional>

class AppIconManager;
class AppIconPicker;
class HotKeyCenter;
class LoginItem;
class Prefs;
class QAbstractButton;
class QButtonGroup;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class Store;

// What the settings need from the running application, and the seams for the dialogs it
// shows. Every member may be left empty: the dialogs then use Qt's message boxes and file
// dialogs, `trusted` counts as true, and the footer has no About link.
struct SettingsHooks
{
    // Whether auto-paste can deliver its key stroke; the warning row shows when it cannot.
    std::function<bool()> trusted;
    // The warning row's "Grant…" button.
    std::function<void()> grantAccess;
    // The CopyLess 2 import; runs on a pool thread. Absent result: its store was not found.
    // Without it the window imports into its own store with no text recognition queued.
    std::function<std::optional<CopyLessImporter::Result>()> importCopyLess;
    // The footer's "About Ulvane" link.
    std::function<void()> openAbout;
    // Asks before a destructive action; true goes ahead.
    std::function<bool(const QString &message, const QString &detail)> confirm;
    // Reports the outcome of an import or export.
    std::function<void(const QString &message)> inform;
    // Where to export to / what to import; empty when the user cancelled.
    std::function<QString(const QString &suggestedName)> chooseExportFile;
    std::function<QString()> chooseImportFile;
};

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
                   AppIconManager &icons, SettingsHooks hooks = {}, QWidget *parent = nullptr);
    ~SettingsWindow() override;

    Tab currentTab() const;
    void setCurrentTab(Tab tab);

    // Reads what the window shows but does not observe: the login item, whether auto-paste
    // can strike keys, the hot key actually bound, the store's figures and the icon style.
    // Runs whenever the window is shown.
    void refresh();
    void refreshDataFigures();

    // The Data tab's actions, as its buttons run them.
    void exportHistory();
    void importHistory();
    void importCopyLess();
    void confirmClear(bool keepPinned);

    // The warning under the show-panel picker, or empty when it is not shown.
    QString hotkeyWarning() const;

Q_SIGNALS:
    // After a CopyLess 2 import finished and its result was reported.
    void copyLessImportFinished();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *buildTabStrip();
    QWidget *buildGeneral();
    QWidget *buildShortcuts();
    QWidget *buildFilters();
    QWidget *buildAppearance();
    QWidget *buildData();
    QWidget *buildFooter();

    QComboBox *hotkeyPicker(const QString &name, const QStringList &choices,
                            void (Prefs::*store)(const QString &));
    void bindPrefs();

    void syncHistoryCap();
    void syncFontSize();
    void syncDensity();
    void syncHotkeyPickers();
    void syncIgnoredApps();
    void syncSwitches();
    void syncLoginItem();
    void updateAccessibilityRow();
    void updateHotkeyWarning();

    void finishCopyLessImport(const std::optional<CopyLessImporter::Result> &result);
    bool confirm(const QString &message, const QString &detail);
    void inform(const QString &message);

    Prefs &m_prefs;
    Store &m_store;
    HotKeyCenter &m_hotKeys;
    LoginItem &m_loginItem;
    AppIconManager &m_icons;
    SettingsHooks m_hooks;

    QButtonGroup *m_tabs = nullptr;
    QStackedWidget *m_pages = nullptr;

    QAbstractButton *m_launchAtLogin = nullptr;
    QAbstractButton *m_autoPaste = nullptr;
    QWidget *m_accessibilityRow = nullptr;
    QComboBox *m_historyCap = nullptr;
    QAbstractButton *m_plainTextMode = nullptr;
    QAbstractButton *m_soundOn = nullptr;
    QAbstractButton *m_paused = nullptr;
    bool m_syncing = false; // controls follow Prefs without writing back

    QComboBox *m_showHotkey = nullptr;
    QLabel *m_hotkeyWarning = nullptr;
    QComboBox *m_serialNextHotkey = nullptr;
    QComboBox *m_plainModeHotkey = nullptr;
    QComboBox *m_pauseHotkey = nullptr;

    QAbstractButton *m_ignoreHandoff = nullptr;
    QPlainTextEdit *m_ignoredApps = nullptr;

    QComboBox *m_fontSize = nullptr;
    QComboBox *m_density = nullptr;
    AppIconPicker *m_iconPicker = nullptr;

    QLabel *m_clipsStored = nullptr;
    QLabel *m_diskUsage = nullptr;
    QPushButton *m_importCopyLess = nullptr;
};
