#include "platform/x11/XWaylandKeySynthesizer.h"

XWaylandKeySynthesizer::XWaylandKeySynthesizer(const QByteArray &displayName)
    : m_x(displayName), m_keys(displayName)
{}

bool XWaylandKeySynthesizer::x11WindowInFront()
{
    if (!m_x.isUsable())
        return false;
    xcb_connection_t *c = m_x.get();
    const xcb_get_property_cookie_t activeCookie =
        xcb_get_property(c, 0, m_x.root(), m_x.atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1);
    const xcb_get_input_focus_cookie_t focusCookie = xcb_get_input_focus(c);
    const XcbReply<xcb_get_property_reply_t> active(
        xcb_get_property_reply(c, activeCookie, nullptr));
    const XcbReply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(c, focusCookie, nullptr));
    m_x.discardEvents();
    if (!active || !focus || xcb_get_property_value_length(active.get()) < 4)
        return false;
    const xcb_window_t activeWindow =
        *static_cast<const xcb_window_t *>(xcb_get_property_value(active.get()));
    // Some compositors park the focus on a window of their own while a Wayland window is in
    // front; the active window says which case it is.
    return activeWindow != XCB_WINDOW_NONE && focus->focus != XCB_WINDOW_NONE &&
           focus->focus != XCB_INPUT_FOCUS_POINTER_ROOT;
}

void XWaylandKeySynthesizer::sendPasteKeystroke(PasteKey key, std::function<void(bool)> done)
{
    if (!x11WindowInFront()) {
        if (done)
            done(false);
        return;
    }
    m_keys.sendPasteKeystroke(key, std::move(done));
}
