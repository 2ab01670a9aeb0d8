#pragma once

// A virtual keyboard of the test's own, standing in for the user's hands: key taps with
// modifiers held, to whichever window has the focus or to the compositor's own bindings.

#include "platform/wayland/WaylandConnection.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <QElapsedTimer>

#include <initializer_list>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <wayland-client.h>

class WaylandTestKeyboard
{
public:
    // Linux input event codes, and the masks of the modifiers they set in a US keymap.
    enum Key : quint32 { Escape = 1, Return = 28, LeftCtrl = 29, V = 47, LeftAlt = 56 };

    WaylandTestKeyboard()
    {
        m_clock.start();
        m_manager = static_cast<zwp_virtual_keyboard_manager_v1 *>(
            m_connection.bind(m_connection.global(zwp_virtual_keyboard_manager_v1_interface.name),
                              &zwp_virtual_keyboard_manager_v1_interface, 1));
        m_seat = static_cast<wl_seat *>(
            m_connection.bind(m_connection.global(wl_seat_interface.name), &wl_seat_interface, 1));
        if (!m_manager || !m_seat)
            return;
        m_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_manager, m_seat);
        static const char keymap[] = "xkb_keymap {\n"
                                     "  xkb_keycodes { include \"evdev+aliases(qwerty)\" };\n"
                                     "  xkb_types { include \"complete\" };\n"
                                     "  xkb_compat { include \"complete\" };\n"
                                     "  xkb_symbols { include \"pc+us+inet(evdev)\" };\n"
                                     "};\n";
        const int fd = ::memfd_create("test-keymap", MFD_CLOEXEC);
        if (fd >= 0 && ::write(fd, keymap, sizeof keymap) == ssize_t(sizeof keymap))
            zwp_virtual_keyboard_v1_keymap(m_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                           sizeof keymap);
        if (fd >= 0)
            ::close(fd);
        m_ready = m_connection.roundtrip();
    }
    ~WaylandTestKeyboard()
    {
        if (m_keyboard)
            zwp_virtual_keyboard_v1_destroy(m_keyboard);
        if (m_manager)
            wl_proxy_destroy(reinterpret_cast<wl_proxy *>(m_manager));
        if (m_seat)
            wl_seat_destroy(m_seat);
    }

    bool isReady() const { return m_ready; }

    // Presses the modifiers, taps the key, lets go in reverse order.
    bool tap(Key key, std::initializer_list<Key> modifiers = {})
    {
        quint32 mask = 0;
        for (Key modifier : modifiers) {
            press(modifier, true);
            mask |= maskOf(modifier);
            zwp_virtual_keyboard_v1_modifiers(m_keyboard, mask, 0, 0, 0);
        }
        press(key, true);
        press(key, false);
        for (auto it = std::rbegin(modifiers); it != std::rend(modifiers); ++it)
            press(*it, false);
        zwp_virtual_keyboard_v1_modifiers(m_keyboard, 0, 0, 0, 0);
        return m_connection.roundtrip();
    }

    // Keeps a modifier down, as a user still holding a hot key does, until release().
    bool hold(Key modifier)
    {
        press(modifier, true);
        zwp_virtual_keyboard_v1_modifiers(m_keyboard, maskOf(modifier), 0, 0, 0);
        return m_connection.roundtrip();
    }
    bool release(Key modifier)
    {
        press(modifier, false);
        zwp_virtual_keyboard_v1_modifiers(m_keyboard, 0, 0, 0, 0);
        return m_connection.roundtrip();
    }

private:
    static quint32 maskOf(Key modifier)
    {
        return modifier == LeftCtrl ? 1u << 2 : modifier == LeftAlt ? 1u << 3 : 0;
    }
    void press(Key key, bool down)
    {
        zwp_virtual_keyboard_v1_key(m_keyboard, quint32(m_clock.elapsed()), key,
                                    down ? WL_KEYBOARD_KEY_STATE_PRESSED
                                         : WL_KEYBOARD_KEY_STATE_RELEASED);
    }

    WaylandConnection m_connection;
    wl_seat *m_seat = nullptr;
    zwp_virtual_keyboard_manager_v1 *m_manager = nullptr;
    zwp_virtual_keyboard_v1 *m_keyboard = nullptr;
    QElapsedTimer m_clock;
    bool m_ready = false;
};
