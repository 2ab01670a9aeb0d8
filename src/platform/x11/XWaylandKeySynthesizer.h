#pragma once

#include "platform/KeySynthesizer.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11KeySynthesizer.h"

// The paste key stroke through XTEST on the XWayland server of a Wayland session. Such a
// stroke reaches X11 windows alone; sent while a Wayland window is in front it would go
// nowhere, or to a window the user no longer sees. So each stroke first asks the X server
// whether one of its windows has the focus, and is reported as not sent otherwise.
class XWaylandKeySynthesizer : public KeySynthesizer
{
public:
    // Connects to $DISPLAY, or to the given display name.
    explicit XWaylandKeySynthesizer(const QByteArray &displayName = {});

    bool canSendKeys() const override { return m_keys.canSendKeys(); }
    void sendPasteKeystroke(PasteKey key, std::function<void(bool sent)> done) override;

    // Whether the X server's window manager has made one of its windows the active one and
    // the keyboard focus is on a window; both stay empty while a Wayland window is in front.
    bool x11WindowInFront();

private:
    X11Connection m_x;
    X11KeySynthesizer m_keys;
};
