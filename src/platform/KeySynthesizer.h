#pragma once

#include <QtGlobal>

// Sends the paste key stroke into another application.
class KeySynthesizer
{
public:
    virtual ~KeySynthesizer() = default;

    // Whether synthetic key strokes can be delivered at all (on X11: the server offers XTEST).
    virtual bool isTrusted() const = 0;

    // Ctrl+V, or Ctrl+Shift+V when `terminal` is set. Waits (at most 1 s) until no modifier key
    // is physically held, so a hot key the user still holds never turns it into Ctrl+Alt+V.
    // False when nothing could be sent.
    virtual bool sendPaste(bool terminal) = 0;
};
