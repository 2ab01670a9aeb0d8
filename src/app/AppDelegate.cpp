#include "app/AppDelegate.h"

#include "app/AboutWindow.h"
#include "app/AppActions.h"
#include "app/AppIconManager.h"
#include "app/DesktopServices.h"
#include "app/LoginItem.h"
#include "app/SettingsWindow.h"
#include "app/StatusMenu.h"
#include "core/Log.h"
#include "exchange/CopyLessImporter.h"
#include "ocr/OCRService.h"
#include "panel/AppIconCache.h"
#include "panel/PanelController.h"
#include "paste/PasteService.h"
#include "paste/SerialPaste.h"
#include "platform/ShowChannel.h"
#include "platform/TrayHostWatch.h"
#include "platform/Workspace.h"
#include "platform/xdg/DesktopEntryIndex.h"
#include "prefs/HotKeys.h"
#include "prefs/Prefs.h"
#include "store/Store.h"

#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QThreadPool>
#include <QTimer>

AppDelegate::AppDelegate(ShowChannel &channel, QObject *parent)
    : QObject(parent), m_channel(channel)
{}

AppDelegate::~AppDelegate()
{
    delete m_settings.data();
    delete m_about.data();
}

void AppDelegate::start()
{
    // Capture first: a copy made while the rest is built must not be missed. The picker, the
    // tray and the artwork follow once the event loop runs.
    Prefs &prefs = Prefs::shared();
    Store &store = Store::shared();
    store.setHistoryCap(prefs.historyCap());
    // Files a kill left without their row. Off the main thread: a large history lists a
    // hundred thousand names. Captures meanwhile are safe, their files being too young to go.
    QThreadPool::globalInstance()->start([&store] { store.removeOrphanFiles(); });
    m_services = std::make_unique<DesktopServices>();
    m_loginItem = std::make_unique<LoginItem>();
    m_icons = std::make_unique<AppIconManager>();
    setupActions();

    // Every preference change, the pause and the hot keys' labels in the tooltip among them,
    // also announces changed(): one connection redraws the icon once per change.
    connect(&prefs, &Prefs::changed, this, &AppDelegate::refreshStatusIcon);
    connect(&m_services->serialPaste(), &SerialPaste::changed, this,
            &AppDelegate::refreshStatusIcon);
    // Where the desktop assigns the keys, the key in force is known only once it answers.
    connect(&m_services->hotKeys(), &HotKeyCenter::changed, this, &AppDelegate::refreshStatusIcon);
    connect(&prefs, &Prefs::historyCapChanged, &store,
            [&store, &prefs] { store.setHistoryCap(prefs.historyCap()); });
    // A request that arrives before the rest is built builds it first.
    connect(m_services.get(), &DesktopServices::togglePanelRequested, this, [this] {
        finishStart();
        m_panel->toggle();
    });
    connect(&m_channel, &ShowChannel::showRequested, this, &AppDelegate::onShowRequested);
    m_services->bindHotKeys();
    m_services->startCapture();
    QTimer::singleShot(0, this, &AppDelegate::finishStart);
}

void AppDelegate::finishStart()
{
    if (m_panel)
        return;
    Prefs &prefs = Prefs::shared();
    Store &store = Store::shared();
    DesktopEntryIndex *entries = &m_services->desktopEntries();
    m_appIcons = std::make_unique<AppIconCache>([entries](const QString &appId) {
        const std::optional<DesktopEntryIndex::Entry> entry = entries->byId(appId);
        return entry ? entry->icon : QString();
    });
    PanelActions pickerActions;
    pickerActions.more = {m_actions->launchAtLogin(),  m_actions->pauseClipping(),
                          m_actions->importCopyLess(), nullptr,
                          m_actions->showAbout(),      m_actions->quit()};
    pickerActions.openSettings = m_actions->openSettings();
    pickerActions.enableAutoPaste = m_actions->enableAutoPaste();
    // Built ahead of its first appearance, so that costs no construction.
    m_panel = std::make_unique<PanelController>(store, m_services->pasteService(),
                                                m_services->workspace(), prefs, *m_appIcons,
                                                pickerActions);
    // The picker's menu shows the same verbs as the tray, so it reads the same state first;
    // whether keys can be sent is read again on each appearance, for the footer, and only
    // that: showing the picker is a hot path.
    connect(m_panel->panel()->moreMenu(), &QMenu::aboutToShow, m_actions.get(),
            &AppActions::refresh);
    connect(m_panel.get(), &PanelController::shown, m_actions.get(), &AppActions::refreshAutoPaste);
    // Capture follows change announcements alone; the picker, where the user looks for what
    // they copied, makes sure none went missing. It looks before it takes the keyboard: once
    // the picker is in front, a copy would count as made in this application and be skipped.
    connect(m_panel.get(), &PanelController::aboutToShow, m_services.get(),
            &DesktopServices::recheckClipboard);
    m_services->recheckAfterSleep();

    m_icons->applyStored();
    m_loginItem->repair();
    setupStatusItem();
    OCRService::shared().processPendingBacklog();

    Log::line(QStringLiteral("[App] launched, store count=%1, hotkey=%2")
                  .arg(store.count())
                  .arg(Prefs::activeHotkeyLabel()));
}

void AppDelegate::setupActions()
{
    m_actions =
        std::make_unique<AppActions>(Prefs::shared(), m_services->serialPaste(), *m_loginItem,
                                     [this] { return m_services->canSendKeys(); });
    AppActions *actions = m_actions.get();
    connect(actions->showClipboard(), &QAction::triggered, this, &AppDelegate::showPanel);
    connect(actions->stripFormatting(), &QAction::triggered, this, &AppDelegate::stripPasteboard);
    connect(actions->enableAutoPaste(), &QAction::triggered, this, &AppDelegate::showAutoPasteHelp);
    connect(actions->importCopyLess(), &QAction::triggered, this, &AppDelegate::importCopyLess);
    connect(actions->openSettings(), &QAction::triggered, this, &AppDelegate::openSettings);
    connect(actions->showAbout(), &QAction::triggered, this, &AppDelegate::showAbout);
}

void AppDelegate::setupStatusItem()
{
    m_menu = std::make_unique<QMenu>();
    connect(m_menu.get(), &QMenu::aboutToShow, this, &AppDelegate::refreshStatusMenu);
    // Filled once now as well: some tray hosts read the menu before it is ever opened.
    refreshStatusMenu();
    // On Wayland the icon can only go to a status-notifier host over D-Bus, and a desktop
    // often starts its bar alongside its applications: the icon waits for the host.
    const bool onWayland = QGuiApplication::platformName().startsWith(u"wayland");
    if (onWayland) {
        m_trayHost = std::make_unique<TrayHostWatch>();
        if (!m_trayHost->isHostRegistered()) {
            logNoTray();
            connect(m_trayHost.get(), &TrayHostWatch::hostAppeared, this,
                    [this] { showStatusItem(true); });
            return;
        }
    } else if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        logNoTray();
    }
    showStatusItem(onWayland);
}

void AppDelegate::logNoTray()
{
    Log::line(QStringLiteral("[App] no system tray; open the picker with its hot key or "
                             "`ulvane --show`"));
}

// A Wayland client has no pointer position and no window to hang a menu from: a menu of its
// own would open as a window, filling a tiled screen. There the host draws the menu on a
// right click, and a left click opens the picker; elsewhere a left click opens the same menu,
// as a menu-bar item does.
void AppDelegate::showStatusItem(bool hostDrawsMenu)
{
    // Called from the watch's own signal: it goes once that is over.
    if (m_trayHost)
        m_trayHost.release()->deleteLater();
    m_tray = new QSystemTrayIcon(this);
    m_tray->setContextMenu(m_menu.get());
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this, hostDrawsMenu](QSystemTrayIcon::ActivationReason reason) {
                if (reason != QSystemTrayIcon::Trigger)
                    return;
                if (hostDrawsMenu)
                    showPanel();
                else
                    m_menu->popup(QCursor::pos());
            });
    refreshStatusIcon();
    m_tray->show();
}

void AppDelegate::refreshStatusIcon()
{
    if (!m_tray)
        return;
    const int queued = m_services ? m_services->serialPaste().queueLength() : 0;
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48})
        icon.addPixmap(
            QPixmap::fromImage(StatusMenu::statusImage(Prefs::shared().paused(), queued, side)));
    m_tray->setIcon(icon);
    m_tray->setToolTip(StatusMenu::toolTip(Prefs::activeHotkeyLabel(), queued));
}

void AppDelegate::refreshStatusMenu()
{
    m_actions->refresh();
    StatusMenu::fill(*m_menu, *m_actions, AboutWindow::shortVersion(), Store::shared().count());
}

void AppDelegate::showPanel()
{
    finishStart();
    m_panel->show();
}

void AppDelegate::onShowRequested()
{
    finishStart();
    m_panel->show();
    // Linux needs no grant for key strokes, so there is no prompt to show here; a display
    // without XTEST is reported by the picker's footer instead.
}

void AppDelegate::stripPasteboard()
{
    m_services->pasteService().stripFormatting();
}

void AppDelegate::showAutoPasteHelp()
{
    PasteService::openAutoPasteHelp();
}

void AppDelegate::openSettings()
{
    if (!m_settings) {
        m_settings = new SettingsWindow(Prefs::shared(), Store::shared(), m_services->hotKeys(),
                                        *m_loginItem, *m_icons);
        m_settings->setEnableAutoPasteAction(m_actions->enableAutoPaste());
        m_settings->setAboutAction(m_actions->showAbout());
        m_settings->setSourcesKnown(m_services->workspace().knowsApplications());
        m_settings->setCopyLessJob([] { return CopyLessImporter::run(Store::shared()); });
    }
    // The auto-paste notice follows whether keys can be sent now.
    m_actions->refresh();
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
    // The picker stays on top of every window and would cover this one.
    m_panel->hide();
}

void AppDelegate::showAbout()
{
    if (!m_about)
        m_about = new AboutWindow(Store::shared());
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
    m_panel->hide();
}

void AppDelegate::importCopyLess()
{
    if (m_importRunning)
        return;
    m_importRunning = true;
    // The import reads another program's database and copies its files: off the main thread,
    // so the picker and capture stay live meanwhile.
    QPointer<AppDelegate> self(this);
    QThreadPool::globalInstance()->start([self] {
        const std::optional<CopyLessImporter::Result> result =
            CopyLessImporter::run(Store::shared());
        QMetaObject::invokeMethod(qApp, [self, result] {
            if (self)
                self->reportCopyLessImport(result);
        });
    });
}

void AppDelegate::reportCopyLessImport(const std::optional<CopyLessImporter::Result> &result)
{
    m_importRunning = false;
    QMessageBox box;
    if (!result) {
        box.setText(QStringLiteral("CopyLess 2 Store Not Found"));
        box.setInformativeText(QStringLiteral("Nothing to import."));
    } else {
        box.setText(QStringLiteral("CopyLess 2 Import Complete"));
        box.setInformativeText(
            QStringLiteral("Imported %1 clips, skipped %2 duplicates.\nTotal now: %3.")
                .arg(result->imported)
                .arg(result->skipped)
                .arg(Store::shared().count()));
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}
