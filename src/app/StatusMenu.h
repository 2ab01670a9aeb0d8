#pragma once

#include <QImage>
#include <QString>

#include <functional>

class QMenu;

// What the tray menu shows, read at the moment it opens.
struct StatusMenuState
{
    QString version;
    int clipCount = 0;
    QString activeHotkeyLabel; // stored form ("⌥⌘V"), "Off" or empty
    bool paused = false;
    bool plainTextMode = false;
    bool recording = false;
    int queued = 0;
    bool trusted = true;
    bool launchAtLogin = false;
};

// What the tray menu's items do.
struct StatusMenuActions
{
    std::function<void()> showPanel;
    std::function<void()> togglePause;
    std::function<void()> togglePlainMode;
    std::function<void()> stripPasteboard;
    std::function<void()> toggleSerial;
    std::function<void()> serialNext;
    std::function<void()> serialClear;
    std::function<void()> grantAccess;
    std::function<void()> toggleLogin;
    std::function<void()> importCopyLess;
    std::function<void()> openSettings;
    std::function<void()> showAbout;
    std::function<void()> quit;
};

namespace StatusMenu {
// Empties `menu` and fills it for `state`; every item calls its action when triggered.
void fill(QMenu &menu, const StatusMenuState &state, const StatusMenuActions &actions);
// "Show Clipboard", or "Show Clipboard (Super+Alt+V)" when a key is in force.
QString showTitle(const QString &activeHotkeyLabel);
// The tray's tooltip, naming the show-panel key in force and the serial queue when pending.
QString toolTip(const QString &activeHotkeyLabel, int queued);

// The tray icon: a clipboard board with two cut-out lines and a clip, struck through while
// capture is paused, with the serial queue's length as a badge when items wait. `side` is in
// device-independent pixels.
QImage statusImage(bool paused, int queued = 0, int side = 18, qreal devicePixelRatio = 1.0);
} // namespace StatusMenu
