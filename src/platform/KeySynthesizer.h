#pragma once

#include "platform/PasteKeys.h"

#include <functional>

// Sends the paste key stroke into another application.
class KeySynthesizer
{
public:
    virtual ~KeySynthesizer() = default;

    // Whether synthetic key strokes can be delivered at all (on X11: the server offers XTEST).
    virtual bool canSendKeys() const = 0;

    // Sends the key once no modifier key is physically held (or a second has passed), so a
    // hot key the user still holds never turns Ctrl+V into Ctrl+Alt+V. The wait runs on the
    // event loop; `done` is told whether a stroke went out. Calls made while one waits are
    // sent after it, in order.
    virtual void sendPasteKeystroke(PasteKey key, std::function<void(bool sent)> done) = 0;
};
