#pragma once

// A plain X11 window on $DISPLAY that writes down every key pressed in it, for tests that
// need an X11 client in front (under XWayland the compositor focuses it when it maps) and
// want to see which keys reached it.

#include <QList>

#include <cstdlib>
#include <xcb/xcb.h>

class X11KeyRecorder
{
public:
    struct Press
    {
        quint8 keycode = 0;
        quint16 state = 0; // the modifier mask at the press
    };

    X11KeyRecorder()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_connection))
            return;
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_window = xcb_generate_id(m_connection);
        const quint32 values[] = {screen->white_pixel, XCB_EVENT_MASK_KEY_PRESS};
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 400,
                          300, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        const char wmClass[] = "keyrecorder\0KeyRecorder";
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_CLASS,
                            XCB_ATOM_STRING, 8, sizeof(wmClass), wmClass);
        xcb_map_window(m_connection, m_window);
        xcb_flush(m_connection);
    }
    ~X11KeyRecorder()
    {
        if (m_connection)
            xcb_disconnect(m_connection);
    }
    X11KeyRecorder(const X11KeyRecorder &) = delete;
    X11KeyRecorder &operator=(const X11KeyRecorder &) = delete;

    bool isValid() const { return m_window != 0; }
    xcb_window_t window() const { return m_window; }

    // Takes in what the server has sent so far.
    const QList<Press> &presses()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
                const auto *press = reinterpret_cast<xcb_key_press_event_t *>(event);
                m_presses.append(Press{press->detail, press->state});
            }
            std::free(event);
        }
        return m_presses;
    }

    // Whether this window has the X keyboard focus.
    bool hasFocus()
    {
        presses();
        xcb_get_input_focus_reply_t *reply =
            xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr);
        const bool focused = reply && reply->focus == m_window;
        std::free(reply);
        return focused;
    }

private:
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_window = 0;
    QList<Press> m_presses;
};
