#pragma once

#include "platform/PlatformServices.h"

#include <memory>
#include <QObject>

class DesktopEntryIndex;
class HotKeyCenter;
class PasteboardMonitor;
class PasteService;
class SerialPaste;
class SleepWatcher;
class Workspace;

// The running application's capture and paste machinery: the desktop's platform services, the
// monitor that stores every copy, the paste service, serial paste, and the global hot keys,
// wired to the preferences, the store and text recognition.
class DesktopServices : public QObject
{
    Q_OBJECT

public:
    explicit DesktopServices(QObject *parent = nullptr);
    ~DesktopServices() override;

    // Binds the global hot keys from the preferences.
    void bindHotKeys();
    // Starts watching the clipboard.
    void startCapture();
    // Looks at the clipboard once more, in case a change announcement went missing.
    void recheckClipboard();
    // Looks again after each wake from sleep, too.
    void recheckAfterSleep();

    PasteService &pasteService() const { return *m_paste; }
    SerialPaste &serialPaste() const { return *m_serial; }
    Workspace &workspace() const { return *m_platform.workspace; }
    HotKeyCenter &hotKeys() const { return *m_hotKeys; }
    DesktopEntryIndex &desktopEntries() const { return *m_platform.desktopEntries; }
    // Whether synthetic key strokes can be delivered (the X server offers XTEST).
    bool canSendKeys() const;

Q_SIGNALS:
    // The show-panel hot key; the picker answers it.
    void togglePanelRequested();

private:
    PlatformServices m_platform;
    std::unique_ptr<HotKeyCenter> m_hotKeys;
    std::unique_ptr<PasteService> m_paste;
    std::unique_ptr<SerialPaste> m_serial;
    std::unique_ptr<PasteboardMonitor> m_monitor;
    std::unique_ptr<SleepWatcher> m_sleep;
};
