#include "platform/X11KeySynthesizer.h"
#include "platform/X11Display.h"

#include "core/Log.h"

#include <QDeadlineTimer>
#include <QThread>

#include <cstdlib>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

namespace {

namespace Keysym {
constexpr quint32 v = 0x0076;
constexpr quint32 V = 0x0056;
constexpr quint32 shiftL = 0xffe1;
constexpr quint32 controlL = 0xffe3;
constexpr quint32 capsLock = 0xffe5;
constexpr quint32 shiftLock = 0xffe6;
constexpr quint32 numLock = 0xff7f;
constexpr quint32 scrollLock = 0xff14;
} // namespace Keysym

constexpr int lockModifierIndex = 1; // Shift, Lock, Control, Mod1 ... Mod5
constexpr int pollIntervalMs = 10;

} // namespace

X11KeySynthesizer::X11KeySynthesizer(const QByteArray &displayName)
{
    connectToServer(displayName);
}

X11KeySynthesizer::~X11KeySynthesizer()
{
    if (m_keySymbols)
        xcb_key_symbols_free(m_keySymbols);
    if (m_connection)
        xcb_disconnect(m_connection);
}

void X11KeySynthesizer::connectToServer(const QByteArray &displayName)
{
    const X11Display display = connectToDisplay(displayName);
    if (!display.connection)
        return;
    m_connection = display.connection;
    m_root = display.root;
    m_keySymbols = xcb_key_symbols_alloc(m_connection);
    const xcb_query_extension_reply_t *xtest = xcb_get_extension_data(m_connection, &xcb_test_id);
    m_hasXTest = xtest && xtest->present;
}

quint8 X11KeySynthesizer::keycodeFor(quint32 keysym) const
{
    if (!m_keySymbols)
        return 0;
    xcb_keycode_t *codes = xcb_key_symbols_get_keycode(m_keySymbols, keysym);
    if (!codes)
        return 0;
    const quint8 code = codes[0] == XCB_NO_SYMBOL ? 0 : codes[0];
    std::free(codes);
    return code;
}

QList<quint8> X11KeySynthesizer::modifierKeycodes()
{
    QList<quint8> keycodes;
    xcb_get_modifier_mapping_reply_t *reply = xcb_get_modifier_mapping_reply(
        m_connection, xcb_get_modifier_mapping(m_connection), nullptr);
    if (!reply)
        return keycodes;
    const xcb_keycode_t *map = xcb_get_modifier_mapping_keycodes(reply);
    const int perModifier = reply->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        if (modifier == lockModifierIndex)
            continue;
        for (int i = 0; i < perModifier; ++i) {
            const quint8 code = map[modifier * perModifier + i];
            if (code == 0 || keycodes.contains(code))
                continue;
            // A lit lock key changes no stroke; only keys held down do.
            const quint32 sym = xcb_key_symbols_get_keysym(m_keySymbols, code, 0);
            if (sym == Keysym::numLock || sym == Keysym::capsLock || sym == Keysym::shiftLock ||
                sym == Keysym::scrollLock)
                continue;
            keycodes.append(code);
        }
    }
    std::free(reply);
    return keycodes;
}

bool X11KeySynthesizer::anyModifierHeld()
{
    if (!m_connection)
        return false;
    const QList<quint8> modifiers = modifierKeycodes();
    xcb_query_keymap_reply_t *keymap =
        xcb_query_keymap_reply(m_connection, xcb_query_keymap(m_connection), nullptr);
    if (!keymap)
        return false;
    bool held = false;
    for (const quint8 code : modifiers) {
        if (keymap->keys[code >> 3] & (1u << (code & 7))) {
            held = true;
            break;
        }
    }
    std::free(keymap);
    return held;
}

bool X11KeySynthesizer::waitForModifiersReleased(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (anyModifierHeld()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(pollIntervalMs);
    }
    return true;
}

void X11KeySynthesizer::fakeKey(quint8 type, quint8 keycode)
{
    xcb_test_fake_input(m_connection, type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

bool X11KeySynthesizer::sendPaste(bool terminal)
{
    if (!m_connection || !m_hasXTest || xcb_connection_has_error(m_connection))
        return false;
    // The server tells every client about keyboard remapping whether asked or not; keep the
    // key symbols current and the queue empty.
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        if ((event->response_type & 0x7f) == XCB_MAPPING_NOTIFY)
            xcb_refresh_keyboard_mapping(m_keySymbols,
                                         reinterpret_cast<xcb_mapping_notify_event_t *>(event));
        std::free(event);
    }

    const quint8 control = keycodeFor(Keysym::controlL);
    const quint8 shift = terminal ? keycodeFor(Keysym::shiftL) : 0;
    quint8 v = keycodeFor(Keysym::v);
    if (v == 0)
        v = keycodeFor(Keysym::V);
    if (control == 0 || v == 0 || (terminal && shift == 0)) {
        Log::line(QStringLiteral("[Paste] no key codes for the paste key stroke"));
        return false;
    }

    if (!waitForModifiersReleased(modifierWaitMs))
        Log::line(QStringLiteral("[Paste] modifier keys still held; sending the paste anyway"));

    fakeKey(XCB_KEY_PRESS, control);
    if (terminal)
        fakeKey(XCB_KEY_PRESS, shift);
    fakeKey(XCB_KEY_PRESS, v);
    fakeKey(XCB_KEY_RELEASE, v);
    if (terminal)
        fakeKey(XCB_KEY_RELEASE, shift);
    fakeKey(XCB_KEY_RELEASE, control);
    // A round trip, so the stroke has reached the server before the caller goes on.
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    return !xcb_connection_has_error(m_connection);
}
