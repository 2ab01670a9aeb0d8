#include "platform/x11/X11KeySynthesizer.h"

#include "core/Log.h"

#include <X11/keysym.h>
#include <xcb/xtest.h>

namespace {

constexpr int lockModifierIndex = 1; // Shift, Lock, Control, Mod1 ... Mod5

} // namespace

X11KeySynthesizer::X11KeySynthesizer(const QByteArray &displayName, QObject *parent)
    : QObject(parent), m_x(displayName)
{
    if (m_x.isValid()) {
        const xcb_query_extension_reply_t *xtest = xcb_get_extension_data(m_x.get(), &xcb_test_id);
        m_hasXTest = xtest && xtest->present;
    }
    m_poll.setInterval(pollIntervalMs);
    connect(&m_poll, &QTimer::timeout, this, &X11KeySynthesizer::poll);
}

QList<quint8> X11KeySynthesizer::modifierKeycodes()
{
    QList<quint8> keycodes;
    const X11Connection::ModifierMap map = m_x.modifierMap();
    for (int modifier = 0; map.keycodes && modifier < 8; ++modifier) {
        if (modifier == lockModifierIndex)
            continue;
        for (int i = 0; i < map.perModifier; ++i) {
            const quint8 code = map.keycodes[modifier * map.perModifier + i];
            if (code == 0 || keycodes.contains(code))
                continue;
            // A lit lock key changes no stroke; only keys held down do.
            const quint32 sym = m_x.keysymOf(code);
            if (sym == XK_Num_Lock || sym == XK_Caps_Lock || sym == XK_Shift_Lock ||
                sym == XK_Scroll_Lock)
                continue;
            keycodes.append(code);
        }
    }
    return keycodes;
}

bool X11KeySynthesizer::anyModifierHeld()
{
    if (!m_x.isValid())
        return false;
    const QList<quint8> modifiers = modifierKeycodes();
    const XcbReply<xcb_query_keymap_reply_t> keymap(
        xcb_query_keymap_reply(m_x.get(), xcb_query_keymap(m_x.get()), nullptr));
    if (!keymap)
        return false;
    for (const quint8 code : modifiers) {
        if (keymap->keys[code >> 3] & (1u << (code & 7)))
            return true;
    }
    return false;
}

void X11KeySynthesizer::sendPasteKeystroke(PasteKey key, std::function<void(bool)> done)
{
    Stroke stroke{key, std::move(done), {}};
    if (!prepare(stroke)) {
        if (stroke.done)
            stroke.done(false);
        return;
    }
    m_queue.append(std::move(stroke));
    if (m_queue.size() == 1)
        startNext();
}

// The key codes are looked up when the stroke is asked for, so a keyboard without them is
// told at once rather than after the wait.
bool X11KeySynthesizer::prepare(Stroke &stroke)
{
    if (!m_hasXTest || !m_x.isUsable())
        return false;
    // The server tells every client about keyboard remapping whether asked or not; keep the
    // key symbols current and the queue empty.
    m_x.discardEvents();
    auto v = [this] {
        const quint8 lower = m_x.keycodeFor(XK_v);
        return lower != 0 ? lower : m_x.keycodeFor(XK_V);
    };
    switch (stroke.key) {
    case PasteKey::ControlV:
        stroke.keycodes = {m_x.keycodeFor(XK_Control_L), v()};
        break;
    case PasteKey::ControlShiftV:
        stroke.keycodes = {m_x.keycodeFor(XK_Control_L), m_x.keycodeFor(XK_Shift_L), v()};
        break;
    case PasteKey::ShiftInsert:
        stroke.keycodes = {m_x.keycodeFor(XK_Shift_L), m_x.keycodeFor(XK_Insert)};
        break;
    }
    if (stroke.keycodes.contains(0)) {
        Log::line(QStringLiteral("[Paste] no key codes for the paste key stroke"));
        return false;
    }
    return true;
}

void X11KeySynthesizer::startNext()
{
    if (m_queue.isEmpty())
        return;
    m_deadline.setRemainingTime(modifierWaitMs);
    poll();
}

void X11KeySynthesizer::poll()
{
    if (m_queue.isEmpty()) {
        m_poll.stop();
        return;
    }
    const bool held = anyModifierHeld();
    if (held && !m_deadline.hasExpired()) {
        if (!m_poll.isActive())
            m_poll.start();
        return;
    }
    m_poll.stop();
    if (held)
        Log::line(QStringLiteral("[Paste] modifier keys still held; sending the paste anyway"));
    const Stroke stroke = m_queue.takeFirst();
    const bool sent = send(stroke);
    if (stroke.done)
        stroke.done(sent);
    startNext();
}

void X11KeySynthesizer::fakeKey(quint8 type, quint8 keycode)
{
    xcb_test_fake_input(m_x.get(), type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

bool X11KeySynthesizer::send(const Stroke &stroke)
{
    if (!m_x.isUsable())
        return false;
    for (const quint8 code : stroke.keycodes)
        fakeKey(XCB_KEY_PRESS, code);
    for (auto code = stroke.keycodes.crbegin(); code != stroke.keycodes.crend(); ++code)
        fakeKey(XCB_KEY_RELEASE, *code);
    // A round trip, so the stroke has reached the server before the caller goes on.
    XcbReply<xcb_get_input_focus_reply_t>(
        xcb_get_input_focus_reply(m_x.get(), xcb_get_input_focus(m_x.get()), nullptr));
    return !xcb_connection_has_error(m_x.get());
}
