#pragma once

#include "exchange/CopyLessImporter.h"

#include <QObject>
#include <QPointer>

#include <memory>

class AboutWindow;
class AppActions;
class AppIconCache;
class AppIconManager;
class DesktopServices;
class LoginItem;
class PanelController;
class QMenu;
class QSystemTrayIcon;
class SettingsWindow;
class ShowChannel;
class TrayHostWatch;

// The running application: starts capture, the hot keys and text recognition, lives in the
// tray with a menu rebuilt each time it opens, owns the picker, and opens the settings and
// About windows on demand (each built once and reused).
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    explicit AppDelegate(ShowChannel &channel, QObject *parent = nullptr);
    ~AppDelegate() override;

    // Starts capture and the hot keys, and schedules the rest (the picker, the tray, text
    // recognition of what is waiting), which ends with the "[App] launched" log line.
    void start();

    QSystemTrayIcon *trayIcon() const { return m_tray; }
    QMenu *statusMenu() const { return m_menu.get(); }
    AppActions &actions() const { return *m_actions; }

    // Fills the tray menu for the state things are in now.
    void refreshStatusMenu();
    // Redraws the tray icon and its tooltip from the preferences and the serial queue.
    void refreshStatusIcon();

    void showPanel();
    void openSettings();
    void showAbout();
    void importCopyLess();
    void stripPasteboard();
    void showAutoPasteHelp();

private:
    // The start-up steps capture does not need; at once when a request needs them earlier.
    void finishStart();
    void setupActions();
    void setupStatusItem();
    void showStatusItem(bool hostDrawsMenu);
    static void logNoTray();
    void reportCopyLessImport(const std::optional<CopyLessImporter::Result> &result);
    void onShowRequested();

    ShowChannel &m_channel;
    std::unique_ptr<DesktopServices> m_services;
    std::unique_ptr<AppIconCache> m_appIcons;
    std::unique_ptr<LoginItem> m_loginItem;
    std::unique_ptr<AppActions> m_actions;
    std::unique_ptr<PanelController> m_panel;
    std::unique_ptr<AppIconManager> m_icons;
    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon *m_tray = nullptr;
    std::unique_ptr<TrayHostWatch> m_trayHost; // until a tray host appears, on Wayland
    QPointer<SettingsWindow> m_settings;
    QPointer<AboutWindow> m_about;
    bool m_importRunning = false;
};
