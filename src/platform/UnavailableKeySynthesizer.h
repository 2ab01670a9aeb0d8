#pragma once

#include "platform/KeySynthesizer.h"

// For a desktop that accepts no synthetic keys from this process: every stroke is reported
// as not sent, so the clip stays on the clipboard for the user to paste, and no wrong key
// ever reaches a window.
class UnavailableKeySynthesizer : public KeySynthesizer
{
public:
    bool canSendKeys() const override { return false; }
    void sendPasteKeystroke(PasteKey key, std::function<void(bool sent)> done) override
    {
        Q_UNUSED(key);
        if (done)
            done(false);
    }
};
