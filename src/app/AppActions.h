#pragma once

#include <QObject>

#include <functional>

class LoginItem;
class Prefs;
class QAction;
class SerialPaste;

// The application's verbs, built once as actions and shown wherever they are offered: the tray
// menu, the picker's "More" menu and the settings. Whichever place triggers one, the same thing
// runs. The verbs on preferences, serial paste, the login item and quitting are wired here; the
// ones that open windows or reach the desktop are connected by the application that owns those.
//
// refresh() sets every text, check mark and visibility from the current state; the menus run it
// as they open, since some of that state (the login item, the key in force) announces no change.
class AppActions : public QObject
{
    Q_OBJECT

public:
    // `canSendKeys`: whether synthetic key strokes reach other windows (auto-paste needs them).
    AppActions(Prefs &prefs, SerialPaste &serial, LoginItem &loginItem,
               std::function<bool()> canSendKeys, QObject *parent = nullptr);
    ~AppActions() override;

    void refresh();
    // Only whether "Enable Auto-Paste" shows: the one piece of state the picker's footer reads
    // on every appearance, without the file read of the login item.
    void refreshAutoPaste();

    // "Show Clipboard", naming the show-panel key in force.
    QAction *showClipboard() const { return m_showClipboard; }
    // Checked while paused; its text says what a click does.
    QAction *pauseClipping() const { return m_pauseClipping; }
    QAction *plainTextMode() const { return m_plainTextMode; }
    QAction *stripFormatting() const { return m_stripFormatting; }
    QAction *serialRecording() const { return m_serialRecording; }
    // Visible while the serial queue holds something.
    QAction *serialPasteNext() const { return m_serialPasteNext; }
    QAction *serialClear() const { return m_serialClear; }
    // Visible exactly while this desktop takes no synthetic keys.
    QAction *enableAutoPaste() const { return m_enableAutoPaste; }
    QAction *launchAtLogin() const { return m_launchAtLogin; }
    QAction *importCopyLess() const { return m_importCopyLess; }
    QAction *openSettings() const { return m_openSettings; }
    QAction *showAbout() const { return m_showAbout; }
    QAction *quit() const { return m_quit; }

private:
    QAction *make(const QString &text, bool checkable = false);

    Prefs &m_prefs;
    SerialPaste &m_serial;
    LoginItem &m_loginItem;
    std::function<bool()> m_canSendKeys;

    QAction *m_showClipboard;
    QAction *m_pauseClipping;
    QAction *m_plainTextMode;
    QAction *m_stripFormatting;
    QAction *m_serialRecording;
    QAction *m_serialPasteNext;
    QAction *m_serialClear;
    QAction *m_enableAutoPaste;
    QAction *m_launchAtLogin;
    QAction *m_importCopyLess;
    QAction *m_openSettings;
    QAction *m_showAbout;
    QAction *m_quit;
};
