#include "platform/x11/X11Connection.h"

#include <xcb/xcb_keysyms.h>

X11Connection::X11Connection(const QByteArray &displayName)
{
    int screenNumber = 0;
    xcb_connection_t *connection =
        xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &screenNumber);
    // xcb_connect never returns null; a failed connection is an object in an error state.
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem == 0) {
        xcb_disconnect(connection);
        return;
    }
    m_connection = connection;
    m_screen = screens.data;
}

X11Connection::~X11Connection()
{
    if (m_keySymbols)
        xcb_key_symbols_free(m_keySymbols);
    if (m_connection)
        xcb_disconnect(m_connection);
}

bool X11Connection::isUsable() const
{
    return m_connection && !xcb_connection_has_error(m_connection);
}

xcb_atom_t X11Connection::atom(const QByteArray &name)
{
    if (!m_connection)
        return XCB_ATOM_NONE;
    if (const auto it = m_atoms.constFind(name); it != m_atoms.cend())
        return *it;
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, quint16(name.size()), name.constData()),
        nullptr));
    if (!reply)
        return XCB_ATOM_NONE;
    m_atoms.insert(name, reply->atom);
    return reply->atom;
}

_XCBKeySymbols *X11Connection::keySymbols()
{
    // Loaded on first use: the keymap costs a round trip and a few kilobytes.
    if (!m_keySymbols && m_connection)
        m_keySymbols = xcb_key_symbols_alloc(m_connection);
    return m_keySymbols;
}

quint8 X11Connection::keycodeFor(quint32 keysym)
{
    _XCBKeySymbols *symbols = keySymbols();
    if (!symbols)
        return 0;
    XcbReply<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols, keysym));
    return codes && codes.get()[0] != XCB_NO_SYMBOL ? codes.get()[0] : 0;
}

QList<quint8> X11Connection::keycodesFor(quint32 keysym)
{
    QList<quint8> keycodes;
    _XCBKeySymbols *symbols = keySymbols();
    if (!symbols)
        return keycodes;
    // A list ended by XCB_NO_SYMBOL.
    XcbReply<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols, keysym));
    for (const xcb_keycode_t *code = codes.get(); code && *code != XCB_NO_SYMBOL; ++code)
        keycodes.append(*code);
    return keycodes;
}

quint32 X11Connection::keysymOf(quint8 keycode)
{
    _XCBKeySymbols *symbols = keySymbols();
    return symbols ? xcb_key_symbols_get_keysym(symbols, keycode, 0) : XCB_NO_SYMBOL;
}

X11Connection::ModifierMap X11Connection::modifierMap()
{
    ModifierMap map;
    if (!m_connection)
        return map;
    map.reply.reset(xcb_get_modifier_mapping_reply(
        m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
    if (map.reply) {
        map.keycodes = xcb_get_modifier_mapping_keycodes(map.reply.get());
        map.perModifier = map.reply->keycodes_per_modifier;
    }
    return map;
}

void X11Connection::refreshKeymap(xcb_generic_event_t *mappingNotify)
{
    if (m_keySymbols)
        xcb_refresh_keyboard_mapping(m_keySymbols,
                                     reinterpret_cast<xcb_mapping_notify_event_t *>(mappingNotify));
}

void X11Connection::discardEvents()
{
    if (!m_connection)
        return;
    while (XcbEvent event{xcb_poll_for_event(m_connection)}) {
        if ((event->response_type & 0x7f) == XCB_MAPPING_NOTIFY)
            refreshKeymap(event.get());
    }
}
