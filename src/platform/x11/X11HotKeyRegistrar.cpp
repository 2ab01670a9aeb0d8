#include "platform/x11/X11HotKeyRegistrar.h"

#include <QMetaObject>
#include <QSocketNotifier>

#include <X11/keysym.h>

namespace {

// The modifier bits of an event's state; the rest are pointer buttons.
constexpr quint16 ModifierBits = 0xff;

// Lower-case letters and digits are consecutive key symbols, as Qt's keys are.
xcb_keysym_t keysymFor(Qt::Key key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return xcb_keysym_t(XK_a + (key - Qt::Key_A));
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return xcb_keysym_t(XK_0 + (key - Qt::Key_0));
    return XCB_NO_SYMBOL;
}

} // namespace

X11HotKeyRegistrar::X11HotKeyRegistrar(const QByteArray &displayName, QObject *parent)
    : HotKeyRegistrar(parent), m_x(displayName)
{
    if (!m_x.isValid())
        return;
    m_numLockMask = findNumLockMask();
    m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_x.get()),
                                                   QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &X11HotKeyRegistrar::drainEvents);
}

X11HotKeyRegistrar::~X11HotKeyRegistrar()
{
    // Before the connection closes: the notifier watches its socket.
    m_notifier.reset();
}

quint16 X11HotKeyRegistrar::xModifiers(Qt::KeyboardModifiers modifiers)
{
    quint16 mask = 0;
    if (modifiers & Qt::MetaModifier)
        mask |= XCB_MOD_MASK_4;
    if (modifiers & Qt::ShiftModifier)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Qt::AltModifier)
        mask |= XCB_MOD_MASK_1;
    if (modifiers & Qt::ControlModifier)
        mask |= XCB_MOD_MASK_CONTROL;
    return mask;
}

quint8 X11HotKeyRegistrar::keycodeFor(Qt::Key key)
{
    const xcb_keysym_t keysym = keysymFor(key);
    return keysym == XCB_NO_SYMBOL ? 0 : m_x.keycodeFor(keysym);
}

// NumLock sits on whichever modifier the keymap puts it on (usually Mod2); zero when the
// keymap has no NumLock key at all.
quint16 X11HotKeyRegistrar::findNumLockMask()
{
    const QList<quint8> numLock = m_x.keycodesFor(XK_Num_Lock);
    if (numLock.isEmpty())
        return 0;
    const X11Connection::ModifierMap map = m_x.modifierMap();
    for (int modifier = 0; map.keycodes && modifier < 8; ++modifier) {
        for (int i = 0; i < map.perModifier; ++i) {
            const quint8 code = map.keycodes[modifier * map.perModifier + i];
            if (code && numLock.contains(code))
                return static_cast<quint16>(1u << modifier);
        }
    }
    return 0;
}

QList<quint16> X11HotKeyRegistrar::lockVariants() const
{
    QList<quint16> variants{0, XCB_MOD_MASK_LOCK};
    if (m_numLockMask) {
        variants.append(m_numLockMask);
        variants.append(static_cast<quint16>(m_numLockMask | XCB_MOD_MASK_LOCK));
    }
    return variants;
}

HotKeyRegistrar::Grab X11HotKeyRegistrar::grab(QKeyCombination combination)
{
    if (!m_x.isUsable())
        return {0, GrabStatus::NoDisplay};
    const quint8 keycode = keycodeFor(combination.key());
    if (!keycode)
        return {0, GrabStatus::UnknownKey};
    const KeyGrab wanted{keycode, xModifiers(combination.keyboardModifiers())};
    // X lets a client grab its own combination again without complaint; two bindings of one
    // combination would then both claim every press.
    for (const KeyGrab &held : std::as_const(m_grabs)) {
        if (held.keycode == wanted.keycode && held.modifiers == wanted.modifiers)
            return {0, GrabStatus::AlreadyHeld};
    }

    xcb_connection_t *c = m_x.get();
    const QList<quint16> variants = lockVariants();
    QList<xcb_void_cookie_t> cookies;
    for (const quint16 variant : variants) {
        cookies.append(xcb_grab_key_checked(c, 1, m_x.root(), wanted.modifiers | variant, keycode,
                                            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    QList<quint16> granted;
    int error = 0;
    for (qsizetype i = 0; i < cookies.size(); ++i) {
        const XcbReply<xcb_generic_error_t> reply(xcb_request_check(c, cookies.at(i)));
        if (reply) {
            if (!error)
                error = reply->error_code;
        } else {
            granted.append(variants.at(i));
        }
    }
    // Checking the replies may have pulled events off the socket without waking the notifier.
    scheduleDrain();
    if (error) {
        // Half a grab would fire only in some lock states; give all of it back.
        ungrab(wanted, granted);
        return {0, GrabStatus::Refused, error};
    }
    if (!m_x.isUsable())
        return {0, GrabStatus::NoDisplay};

    quint32 handle = m_nextHandle++;
    if (handle == 0)
        handle = m_nextHandle++;
    m_grabs.insert(handle, wanted);
    return {handle, GrabStatus::Granted};
}

void X11HotKeyRegistrar::release(quint32 handle)
{
    const auto found = m_grabs.constFind(handle);
    if (found == m_grabs.constEnd())
        return;
    const KeyGrab grab = *found;
    m_grabs.erase(found);
    ungrab(grab, lockVariants());
}

void X11HotKeyRegistrar::ungrab(const KeyGrab &grab, const QList<quint16> &variants)
{
    if (!m_x.isValid() || variants.isEmpty())
        return;
    for (const quint16 variant : variants)
        xcb_ungrab_key(m_x.get(), grab.keycode, m_x.root(), grab.modifiers | variant);
    xcb_flush(m_x.get());
}

void X11HotKeyRegistrar::scheduleDrain()
{
    if (m_drainQueued)
        return;
    m_drainQueued = true;
    QMetaObject::invokeMethod(this, &X11HotKeyRegistrar::drainEvents, Qt::QueuedConnection);
}

void X11HotKeyRegistrar::drainEvents()
{
    m_drainQueued = false;
    if (!m_x.isValid())
        return;
    while (XcbEvent event{xcb_poll_for_event(m_x.get())}) {
        switch (event->response_type & 0x7f) {
        case XCB_KEY_PRESS: {
            const auto *press = reinterpret_cast<const xcb_key_press_event_t *>(event.get());
            handleKeyPress(press->detail, press->state, press->time);
            break;
        }
        case XCB_KEY_RELEASE: {
            const auto *release = reinterpret_cast<const xcb_key_release_event_t *>(event.get());
            m_releasedKeycode = release->detail;
            m_releaseTime = release->time;
            break;
        }
        default:
            // Errors of unchecked requests (an ungrab of a key we never held) and anything
            // else the server sends us are of no interest.
            break;
        }
    }
    // A server that went away leaves the socket readable for ever.
    if (!m_x.isUsable() && m_notifier)
        m_notifier->setEnabled(false);
}

void X11HotKeyRegistrar::handleKeyPress(quint8 keycode, quint16 state, quint32 time)
{
    const bool autoRepeat = keycode == m_releasedKeycode && time == m_releaseTime;
    m_releasedKeycode = 0;
    if (autoRepeat)
        return;
    const quint16 modifiers = state & ModifierBits & ~(XCB_MOD_MASK_LOCK | m_numLockMask);
    for (auto it = m_grabs.cbegin(); it != m_grabs.cend(); ++it) {
        if (it->keycode == keycode && it->modifiers == modifiers) {
            Q_EMIT pressed(it.key());
            return;
        }
    }
}
