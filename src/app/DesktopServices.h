#pragma once

#include <memory>
#include <QObject>

class CanberraEventSound;
class PasteboardMonitor;
class PasteService;
class SerialPaste;
class X11KeySynthesizer;
class X11Pasteboard;
class X11Workspace;

// The running application's capture and paste machinery on the X11 desktop: the platform
// services, the monitor that stores every copy, the paste service, serial paste, and the
// global hot keys, wired to the preferences, the store and text recognition.
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

    PasteService &pasteService() const { return *m_paste; }
    SerialPaste &serialPaste() const { return *m_serial; }
    X11Workspace &workspace() const { return *m_workspace; }
    // Whether synthetic key strokes can be delivered (the X server offers XTEST).
    bool keyStrokesTrusted() const;

Q_SIGNALS:
    // The show-panel hot key; the picker answers it.
    void togglePanelRequested();

private:
    std::unique_ptr<X11Pasteboard> m_pasteboard;
    std::unique_ptr<X11Workspace> m_workspace;
    std::unique_ptr<X11KeySynthesizer> m_keys;
    std::unique_ptr<CanberraEventSound> m_sound;
    std::unique_ptr<PasteService> m_paste;
    std::unique_ptr<SerialPaste> m_serial;
    std::unique_ptr<PasteboardMonitor> m_monitor;
};
