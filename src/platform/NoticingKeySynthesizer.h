#pragma once

#include "platform/KeySynthesizer.h"
#include "platform/PasteNotice.h"

#include <QPointer>

#include <memory>

// Where the desktop may refuse a synthetic key for the window in front, a stroke that could
// not be sent ends in a notice telling the user to paste by hand. The paste is always
// attempted, so it is never silent: either the key goes out or the notice does.
class NoticingKeySynthesizer : public KeySynthesizer
{
public:
    NoticingKeySynthesizer(std::unique_ptr<KeySynthesizer> keys,
                           std::unique_ptr<PasteNotice> notice)
        : m_keys(std::move(keys)), m_notice(std::move(notice))
    {}

    bool canSendKeys() const override { return true; }

    void sendPasteKeystroke(PasteKey key, std::function<void(bool sent)> done) override
    {
        const QPointer<PasteNotice> notice(m_notice.get());
        m_keys->sendPasteKeystroke(key, [notice, key, done = std::move(done)](bool sent) {
            if (!sent && notice)
                notice->show(key);
            if (done)
                done(sent);
        });
    }

private:
    std::unique_ptr<KeySynthesizer> m_keys;
    std::unique_ptr<PasteNotice> m_notice;
};
