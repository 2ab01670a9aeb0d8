#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>

#include <cstdlib>
#include <memory>

#include <xcb/xcb.h>

struct _XCBKeySymbols; // xcb_key_symbols_t

// Replies, events and errors from xcb are malloc'ed and owned by the caller.
struct XcbFree
{
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, XcbFree>;
using XcbEvent = XcbReply<xcb_generic_event_t>;

// A private connection to an X server: the default screen, interned atoms (asked once each)
// and, when wanted, the keyboard's key symbols. Every desktop service keeps a connection of
// its own, so a slow request on one never stalls another. Closed on destruction.
class X11Connection
{
public:
    // Connects to the named display (empty: $DISPLAY). Without a usable server the connection
    // is invalid and every query answers nothing.
    explicit X11Connection(const QByteArray &displayName = {});
    ~X11Connection();
    X11Connection(const X11Connection &) = delete;
    X11Connection &operator=(const X11Connection &) = delete;

    bool isValid() const { return m_connection != nullptr; }
    // Valid and not broken since (a server that went away breaks it for good).
    bool isUsable() const;
    xcb_connection_t *get() const { return m_connection; }
    xcb_window_t root() const { return m_screen ? m_screen->root : xcb_window_t(XCB_WINDOW_NONE); }
    const xcb_screen_t *screen() const { return m_screen; }

    // The atom of a name, asked of the server once; XCB_ATOM_NONE without an answer.
    xcb_atom_t atom(const QByteArray &name);

    // The first key code producing the key symbol in the current keymap; 0 when none does.
    quint8 keycodeFor(quint32 keysym);
    // Every key code producing it.
    QList<quint8> keycodesFor(quint32 keysym);
    // The key symbol of a key code without modifiers.
    quint32 keysymOf(quint8 keycode);
    // The key codes bound to each of the eight modifiers, `perModifier` apiece.
    struct ModifierMap
    {
        XcbReply<xcb_get_modifier_mapping_reply_t> reply;
        const xcb_keycode_t *keycodes = nullptr;
        int perModifier = 0;
    };
    ModifierMap modifierMap();
    // Takes in a keyboard remapping the server announced, so key codes stay current.
    void refreshKeymap(xcb_generic_event_t *mappingNotify);
    // Takes in the events already queued, keeping keymap changes and dropping the rest: a
    // connection nobody reads must not let them pile up.
    void discardEvents();

private:
    _XCBKeySymbols *keySymbols();

    xcb_connection_t *m_connection = nullptr;
    const xcb_screen_t *m_screen = nullptr;
    _XCBKeySymbols *m_keySymbols = nullptr;
    QHash<QByteArray, xcb_atom_t> m_atoms;
};
