#pragma once

#include <QByteArray>

#include <xcb/xcb.h>

// A private connection to an X server and the root window of its default screen.
struct X11Display
{
    xcb_connection_t *connection = nullptr; // null when there is no usable display
    xcb_window_t root = 0;
};

// Connects to the named display (empty: $DISPLAY). Every desktop service keeps a connection
// of its own, so a slow request on one never stalls another.
X11Display connectToDisplay(const QByteArray &displayName);
