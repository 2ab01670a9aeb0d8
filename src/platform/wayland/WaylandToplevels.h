#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class WaylandConnection;
struct wl_proxy;
struct wl_seat;
struct zwlr_foreign_toplevel_manager_v1;

// The toplevel windows of every client, as the compositor's taskbar protocol lists them
// (wlroots desktops), on a connection of its own: which one has the focus, its application
// id, and a way to give a window the focus again. Without the protocol the list stays empty.
class WaylandToplevels : public QObject
{
    Q_OBJECT

public:
    struct Window
    {
        quint64 id = 0; // ours, never 0; stable while the window lives
        QString appId;
        QString title;
        bool activated = false;
    };

    explicit WaylandToplevels(QObject *parent = nullptr);
    ~WaylandToplevels() override;

    bool isValid() const { return m_manager != nullptr; }

    // The window with the focus, as of the events taken in so far (taken in first).
    std::optional<Window> active();
    std::optional<Window> window(quint64 id);
    // Asks the compositor to focus the window; unknown ids are ignored.
    void activate(quint64 id);

private:
    struct Handle
    {
        Window current;
        Window pending; // details apply together at the next done event
    };

    static void announce(void *data, zwlr_foreign_toplevel_manager_v1 *, wl_proxy *handle);
    void closed(wl_proxy *handle);
    Handle *handleOf(wl_proxy *proxy);

    // Declared first, so it closes after every proxy made on it is gone.
    std::unique_ptr<WaylandConnection> m_connection;
    wl_seat *m_seat = nullptr;
    zwlr_foreign_toplevel_manager_v1 *m_manager = nullptr;
    QHash<wl_proxy *, Handle> m_handles;
    quint64 m_nextId = 1;
};
