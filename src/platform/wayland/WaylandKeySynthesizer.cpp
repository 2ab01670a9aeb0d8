#include "platform/wayland/WaylandKeySynthesizer.h"

#include "platform/wayland/WaylandConnection.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

namespace {

// The compositor compiles the keymap from the system's XKB data, so the keyboard has every
// key a US layout has, not only the few a paste needs.
constexpr char keymap[] = "xkb_keymap {\n"
                          "  xkb_keycodes { include \"evdev+aliases(qwerty)\" };\n"
                          "  xkb_types { include \"complete\" };\n"
                          "  xkb_compat { include \"complete\" };\n"
                          "  xkb_symbols { include \"pc+us+inet(evdev)\" };\n"
                          "};\n";

// Linux input event codes.
constexpr quint32 keyLeftCtrl = 29;
constexpr quint32 keyLeftShift = 42;
constexpr quint32 keyV = 47;
constexpr quint32 keyInsert = 110;

// The modifier masks of that keymap: its real modifiers in their standard order.
constexpr quint32 shiftMask = 1u << 0;
constexpr quint32 controlMask = 1u << 2;

} // namespace

WaylandKeySynthesizer::WaylandKeySynthesizer(QObject *parent)
    : QObject(parent), m_connection(std::make_unique<WaylandConnection>())
{
    m_clock.start();
    m_settle.setSingleShot(true);
    m_settle.setInterval(focusSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &WaylandKeySynthesizer::sendFirst);
    if (!createKeyboard() && m_keyboard) {
        zwp_virtual_keyboard_v1_destroy(m_keyboard);
        m_keyboard = nullptr;
    }
}

WaylandKeySynthesizer::~WaylandKeySynthesizer()
{
    for (const Stroke &stroke : std::as_const(m_queue)) {
        if (stroke.done)
            stroke.done(false);
    }
    if (m_keyboard)
        zwp_virtual_keyboard_v1_destroy(m_keyboard);
    if (m_manager)
        wl_proxy_destroy(reinterpret_cast<wl_proxy *>(m_manager));
    if (m_seat)
        wl_seat_destroy(m_seat);
}

bool WaylandKeySynthesizer::createKeyboard()
{
    if (!m_connection->isConnected())
        return false;
    m_manager = static_cast<zwp_virtual_keyboard_manager_v1 *>(
        m_connection->bind(m_connection->global(zwp_virtual_keyboard_manager_v1_interface.name),
                           &zwp_virtual_keyboard_manager_v1_interface, 1));
    m_seat = static_cast<wl_seat *>(
        m_connection->bind(m_connection->global(wl_seat_interface.name), &wl_seat_interface, 1));
    if (!m_manager || !m_seat)
        return false;
    m_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_manager, m_seat);

    const int fd = ::memfd_create("ulvane-keymap", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, keymap, sizeof keymap) == ssize_t(sizeof keymap);
    if (written)
        zwp_virtual_keyboard_v1_keymap(m_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       sizeof keymap);
    // Only a compositor that refuses the keyboard or the keymap ends the connection here.
    const bool accepted = written && m_connection->roundtrip();
    ::close(fd);
    m_connection->watch();
    return accepted;
}

void WaylandKeySynthesizer::sendPasteKeystroke(PasteKey key, std::function<void(bool)> done)
{
    if (!canSendKeys()) {
        if (done)
            done(false);
        return;
    }
    m_queue.append({key, std::move(done)});
    if (m_queue.size() == 1)
        m_settle.start();
}

void WaylandKeySynthesizer::press(quint32 evdevCode, bool down)
{
    zwp_virtual_keyboard_v1_key(m_keyboard, quint32(m_clock.elapsed()), evdevCode,
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED
                                     : WL_KEYBOARD_KEY_STATE_RELEASED);
}

void WaylandKeySynthesizer::setModifiers(quint32 depressed)
{
    zwp_virtual_keyboard_v1_modifiers(m_keyboard, depressed, 0, 0, 0);
}

void WaylandKeySynthesizer::sendFirst()
{
    if (m_queue.isEmpty())
        return;
    const Stroke stroke = m_queue.takeFirst();
    quint32 modifierKey = keyLeftCtrl;
    quint32 mask = controlMask;
    quint32 key = keyV;
    if (stroke.key == PasteKey::ShiftInsert) {
        modifierKey = keyLeftShift;
        mask = shiftMask;
        key = keyInsert;
    }
    const bool shifted = stroke.key == PasteKey::ControlShiftV;

    press(modifierKey, true);
    if (shifted)
        press(keyLeftShift, true);
    setModifiers(mask | (shifted ? shiftMask : 0));
    press(key, true);
    press(key, false);
    if (shifted)
        press(keyLeftShift, false);
    press(modifierKey, false);
    setModifiers(0);
    m_connection->flush();
    const bool sent = wl_display_get_error(m_connection->display()) == 0;
    if (stroke.done)
        stroke.done(sent);
    if (!m_queue.isEmpty())
        m_settle.start();
}
