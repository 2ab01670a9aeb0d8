#pragma once

#include <QByteArray>
#include <QString>

// Which desktop backend this process runs on: decided once, before the GUI starts, because Qt's
// platform has to agree with it (the picker, its grabs and its focus must live on the same
// display server as the clipboard and the paste keys).
class DisplaySession
{
public:
    enum class Backend {
        // Clipboard, paste keys and windows through the Wayland compositor's own protocols.
        Wayland,
        // A plain X11 session.
        X11,
        // A Wayland session whose compositor lets no client follow the clipboard (GNOME):
        // everything runs on its XWayland server as on X11.
        XWayland,
        // A Wayland session with neither: the application starts, but sees no clipboard.
        None,
    };

    // What the environment offers, as far as the choice depends on it.
    struct Facts
    {
        bool waylandDisplay = false; // WAYLAND_DISPLAY names a compositor
        bool compositorReached = false;
        bool dataControl = false; // the compositor offers a data-control manager
        bool x11Display = false;  // DISPLAY names an X server
    };

    static Backend choose(const Facts &facts);
    // Reads the environment and asks the compositor for its globals on a connection of its
    // own, closed again at once.
    static Facts probe();
    // The session of this process, probed on first use.
    static const DisplaySession &current();

    explicit DisplaySession(const Facts &facts);

    Backend backend() const { return m_backend; }
    const Facts &facts() const { return m_facts; }
    // The Qt platform plugin the backend needs; empty where Qt's own choice is right.
    QByteArray qtPlatform() const;
    // Sets QT_QPA_PLATFORM for the backend unless the user has set it. Call before the
    // QGuiApplication is built.
    void applyQtPlatform() const;
    // Why the X11 path runs in a Wayland session, or why nothing does; empty otherwise.
    QString reason() const;

private:
    Facts m_facts;
    Backend m_backend;
};
