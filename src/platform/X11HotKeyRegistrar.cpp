#include "platform/X11HotKeyRegistrar.h"
#include "platform/X11Display.h"

#include "platform/MacKeyCodes.h"

#include <QMetaObject>
#include <QSocketNotifier>

#include <cstdlib>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace {

constexpr xcb_keysym_t NumLockKeysym = 0xff7f;
// The modifier bits of an event's state; the rest are pointer buttons.
constexpr quint16 ModifierBits = 0xff;

// Lower-case letters and digits share their keysym values with ASCII.
xcb_keysym_t keysymFor(quint32 macKeyCode)
{
    const std::optional<char> character = MacKeyCodes::toCharacter(macKeyCode);
    if (!character)
        return XCB_NO_SYMBOL;
    const char c = *character;
    return static_cast<xcb_keysym_t>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

} // namespace

X11HotKeyRegistrar::X11HotKeyRegistrar(const QByteArray &displayName, QObject *parent)
    : HotKeyRegistrar(parent)
{
    connectToServer(displayName);
}

X11HotKeyRegistrar::~X11HotKeyRegistrar()
{
    disconnectFromServer();
}

void X11HotKeyRegistrar::connectToServer(const QByteArray &displayName)
{
    const X11Display display = connectToDisplay(displayName);
    if (!display.connection)
        return;
    m_connection = display.connection;
    m_root = display.root;
    m_keySymbols = xcb_key_symbols_alloc(m_connection);
    m_numLockMask = findNumLockMask();

    m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_connection),
                                                   QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &X11HotKeyRegistrar::drainEvents);
}

void X11HotKeyRegistrar::disconnectFromServer()
{
    m_notifier.reset();
    if (m_keySymbols)
        xcb_key_symbols_free(m_keySymbols);
    m_keySymbols = nullptr;
    if (m_connection)
        xcb_disconnect(m_connection);
    m_connection = nullptr;
    m_grabs.clear();
}

quint16 X11HotKeyRegistrar::xModifiers(quint32 carbonMods)
{
    quint16 mask = 0;
    if (carbonMods & CommandMod)
        mask |= XCB_MOD_MASK_4;
    if (carbonMods & ShiftMod)
        mask |= XCB_MOD_MASK_SHIFT;
    if (carbonMods & OptionMod)
        mask |= XCB_MOD_MASK_1;
    if (carbonMods & ControlMod)
        mask |= XCB_MOD_MASK_CONTROL;
    return mask;
}

quint8 X11HotKeyRegistrar::keycodeFor(quint32 macKeyCode) const
{
    const xcb_keysym_t keysym = keysymFor(macKeyCode);
    if (keysym == XCB_NO_SYMBOL || !m_keySymbols)
        return 0;
    xcb_keycode_t *keycodes = xcb_key_symbols_get_keycode(m_keySymbols, keysym);
    const quint8 keycode = keycodes ? keycodes[0] : 0;
    free(keycodes);
    return keycode;
}

// NumLock sits on whichever modifier the keymap puts it on (usually Mod2); zero when the
// keymap has no NumLock key at all.
quint16 X11HotKeyRegistrar::findNumLockMask() const
{
    if (!m_keySymbols)
        return 0;
    xcb_keycode_t *numLockCodes = xcb_key_symbols_get_keycode(m_keySymbols, NumLockKeysym);
    if (!numLockCodes)
        return 0;
    quint16 mask = 0;
    xcb_get_modifier_mapping_reply_t *reply = xcb_get_modifier_mapping_reply(
        m_connection, xcb_get_modifier_mapping(m_connection), nullptr);
    if (reply) {
        const xcb_keycode_t *mapped = xcb_get_modifier_mapping_keycodes(reply);
        const int perModifier = reply->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8 && !mask; ++modifier) {
            for (int i = 0; i < perModifier && !mask; ++i) {
                const xcb_keycode_t code = mapped[modifier * perModifier + i];
                for (const xcb_keycode_t *n = numLockCodes; code && *n != XCB_NO_SYMBOL; ++n) {
                    if (*n == code) {
                        mask = static_cast<quint16>(1u << modifier);
                        break;
                    }
                }
            }
        }
        free(reply);
    }
    free(numLockCodes);
    return mask;
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

quint32 X11HotKeyRegistrar::grab(quint32 keyCode, quint32 carbonMods, int *status)
{
    auto fail = [status](int code) {
        if (status)
            *status = code;
        return quint32(0);
    };
    if (!m_connection || xcb_connection_has_error(m_connection))
        return fail(NoDisplay);
    const quint8 keycode = keycodeFor(keyCode);
    if (!keycode)
        return fail(UnknownKey);
    const Grab wanted{keycode, xModifiers(carbonMods)};
    // X lets a client grab its own combination again without complaint; two bindings of one
    // combination would then both claim every press.
    for (const Grab &held : std::as_const(m_grabs)) {
        if (held.keycode == wanted.keycode && held.modifiers == wanted.modifiers)
            return fail(AlreadyHeld);
    }

    const QList<quint16> variants = lockVariants();
    QList<xcb_void_cookie_t> cookies;
    for (const quint16 variant : variants) {
        cookies.append(xcb_grab_key_checked(m_connection, 1, m_root, wanted.modifiers | variant,
                                            keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    QList<quint16> granted;
    int error = 0;
    for (qsizetype i = 0; i < cookies.size(); ++i) {
        xcb_generic_error_t *reply = xcb_request_check(m_connection, cookies.at(i));
        if (reply) {
            if (!error)
                error = reply->error_code;
            free(reply);
        } else {
            granted.append(variants.at(i));
        }
    }
    // Checking the replies may have pulled events off the socket without waking the notifier.
    scheduleDrain();
    if (error) {
        // Half a grab would fire only in some lock states; give all of it back.
        ungrab(wanted, granted);
        return fail(error);
    }
    if (xcb_connection_has_error(m_connection))
        return fail(NoDisplay);

    quint32 handle = m_nextHandle++;
    if (handle == 0)
        handle = m_nextHandle++;
    m_grabs.insert(handle, wanted);
    return handle;
}

void X11HotKeyRegistrar::release(quint32 handle)
{
    const auto found = m_grabs.constFind(handle);
    if (found == m_grabs.constEnd())
        return;
    const Grab grab = *found;
    m_grabs.erase(found);
    ungrab(grab, lockVariants());
}

void X11HotKeyRegistrar::ungrab(const Grab &grab, const QList<quint16> &variants)
{
    if (!m_connection || variants.isEmpty())
        return;
    for (const quint16 variant : variants)
        xcb_ungrab_key(m_connection, grab.keycode, m_root, grab.modifiers | variant);
    xcb_flush(m_connection);
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
    if (!m_connection)
        return;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        switch (event->response_type & 0x7f) {
        case XCB_KEY_PRESS: {
            const auto *press = reinterpret_cast<const xcb_key_press_event_t *>(event);
            handleKeyPress(press->detail, press->state, press->time);
            break;
        }
        case XCB_KEY_RELEASE: {
            const auto *release = reinterpret_cast<const xcb_key_release_event_t *>(event);
            m_releasedKeycode = release->detail;
            m_releaseTime = release->time;
            break;
        }
        default:
            // Errors of unchecked requests (an ungrab of a key we never held) and anything
            // else the server sends us are of no interest.
            break;
        }
        free(event);
    }
    // A server that went away leaves the socket readable for ever.
    if (xcb_connection_has_error(m_connection) && m_notifier)
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
