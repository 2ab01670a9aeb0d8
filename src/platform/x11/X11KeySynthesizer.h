#pragma once

#include "platform/KeySynthesizer.h"
#include "platform/x11/X11Connection.h"

#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QTimer>

// The paste key stroke through the XTEST extension, over an X connection of our own. The
// stroke goes to whichever window has the keyboard focus when it is sent.
class X11KeySynthesizer : public QObject, public KeySynthesizer
{
    Q_OBJECT

public:
    // The longest wait for the user to let go of the modifiers before sending anyway.
    static constexpr int modifierWaitMs = 1000;
    // How often the keyboard is looked at while waiting.
    static constexpr int pollIntervalMs = 10;

    // Connects to $DISPLAY, or to the given display name.
    explicit X11KeySynthesizer(const QByteArray &displayName = {}, QObject *parent = nullptr);

    bool isConnected() const { return m_x.isValid(); }
    bool canSendKeys() const override { return m_hasXTest; }
    void sendPasteKeystroke(PasteKey key, std::function<void(bool sent)> done) override;

    // Whether any modifier key (Shift, Control, Alt, Super, AltGr...) is physically down now;
    // the lock keys do not count.
    bool anyModifierHeld();

private:
    struct Stroke
    {
        PasteKey key = PasteKey::ControlV;
        std::function<void(bool)> done;
        // Pressed in order, released in reverse.
        QList<quint8> keycodes;
    };

    bool prepare(Stroke &stroke);
    void startNext();
    void poll();
    bool send(const Stroke &stroke);
    QList<quint8> modifierKeycodes();
    void fakeKey(quint8 type, quint8 keycode);

    X11Connection m_x;
    bool m_hasXTest = false;
    QList<Stroke> m_queue; // the first one is waiting for the modifiers
    QDeadlineTimer m_deadline;
    QTimer m_poll;
};
