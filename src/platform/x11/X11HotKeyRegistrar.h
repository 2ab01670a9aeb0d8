#pragma once

#include "platform/HotKeyRegistrar.h"
#include "platform/x11/X11Connection.h"

#include <QHash>
#include <QList>

#include <memory>

class QSocketNotifier;

// Global hot keys as passive key grabs on the root window, over a connection of our own so
// Qt's event handling never sees (or eats) the presses. Each combination is grabbed once per
// CapsLock/NumLock state, because X matches grabs against the exact modifier state and a lit
// CapsLock would otherwise silence every hot key.
class X11HotKeyRegistrar : public HotKeyRegistrar
{
    Q_OBJECT

public:
    // Connects to $DISPLAY, or to the given display name. Without a server every grab fails.
    explicit X11HotKeyRegistrar(const QByteArray &displayName = {}, QObject *parent = nullptr);
    ~X11HotKeyRegistrar() override;

    bool isConnected() const { return m_x.isValid(); }

    Grab grab(QKeyCombination combination) override;
    void release(quint32 handle) override;

    // The X modifier mask for Qt's modifiers: Meta is Super (Mod4), Alt is Mod1.
    static quint16 xModifiers(Qt::KeyboardModifiers modifiers);

private:
    struct KeyGrab
    {
        quint8 keycode = 0;
        quint16 modifiers = 0;
    };

    quint8 keycodeFor(Qt::Key key);
    quint16 findNumLockMask();
    QList<quint16> lockVariants() const;
    void ungrab(const KeyGrab &grab, const QList<quint16> &variants);
    void drainEvents();
    void scheduleDrain();
    void handleKeyPress(quint8 keycode, quint16 state, quint32 time);

    X11Connection m_x;
    quint16 m_numLockMask = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QHash<quint32, KeyGrab> m_grabs;
    quint32 m_nextHandle = 1;
    // The last key release, to tell auto-repeat (a release and a press with one timestamp)
    // from a real second press: a held hot key must not toggle the panel again and again.
    quint8 m_releasedKeycode = 0;
    quint32 m_releaseTime = 0;
    bool m_drainQueued = false;
};
