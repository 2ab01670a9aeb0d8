#pragma once

#include "platform/KeySynthesizer.h"

#include <QByteArray>
#include <QList>

struct xcb_connection_t;
struct _XCBKeySymbols; // xcb_key_symbols_t

// The paste key stroke through the XTEST extension, over an X connection of our own. The
// stroke goes to whichever window has the keyboard focus when it is sent.
class X11KeySynthesizer : public KeySynthesizer
{
public:
    // The longest wait for the user to let go of the modifiers before sending anyway.
    static constexpr int modifierWaitMs = 1000;

    // Connects to $DISPLAY, or to the given display name.
    explicit X11KeySynthesizer(const QByteArray &displayName = {});
    ~X11KeySynthesizer() override;
    X11KeySynthesizer(const X11KeySynthesizer &) = delete;
    X11KeySynthesizer &operator=(const X11KeySynthesizer &) = delete;

    bool isConnected() const { return m_connection != nullptr; }
    bool isTrusted() const override { return m_hasXTest; }
    bool sendPaste(bool terminal) override;

    // Whether any modifier key (Shift, Control, Alt, Super, AltGr...) is physically down now;
    // the lock keys do not count.
    bool anyModifierHeld();
    // Returns true once no modifier is held, false when the wait ran out.
    bool waitForModifiersReleased(int timeoutMs);

private:
    void connectToServer(const QByteArray &displayName);
    QList<quint8> modifierKeycodes();
    quint8 keycodeFor(quint32 keysym) const;
    void fakeKey(quint8 type, quint8 keycode);

    xcb_connection_t *m_connection = nullptr;
    _XCBKeySymbols *m_keySymbols = nullptr;
    quint32 m_root = 0;
    bool m_hasXTest = false;
};
