#include "platform/X11Display.h"

X11Display connectToDisplay(const QByteArray &displayName)
{
    int screenNumber = 0;
    xcb_connection_t *connection =
        xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &screenNumber);
    // xcb_connect never returns null; a failed connection is an object in an error state.
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return {};
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem == 0) {
        xcb_disconnect(connection);
        return {};
    }
    return {connection, screens.data->root};
}
