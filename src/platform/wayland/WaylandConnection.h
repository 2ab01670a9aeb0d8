#pragma once

#include <QHash>
#include <QObject>
#include <QString>

struct wl_display;
struct wl_interface;
struct wl_registry;

// A connection to the compositor of $WAYLAND_DISPLAY of a component's own, next to Qt's: its
// events are taken in from the event loop of the thread it was made on, so a component's
// protocol never waits on Qt's and works whatever Qt's platform is. The owner destroys the
// proxies it made before the connection goes.
class WaylandConnection : public QObject
{
    Q_OBJECT

public:
    struct Global
    {
        quint32 name = 0; // 0 when not announced
        quint32 version = 0;
    };

    explicit WaylandConnection(QObject *parent = nullptr);
    ~WaylandConnection() override;

    bool isConnected() const { return m_display != nullptr; }
    wl_display *display() const { return m_display; }

    // The first global of that interface the compositor announced.
    Global global(const char *interface) const;
    // Binds the global at the lower of its version and `highestVersion`; nullptr when absent.
    void *bind(const Global &global, const wl_interface *interface, quint32 highestVersion);

    // Waits until the compositor has handled every request sent so far and its answers are
    // dispatched; only while setting up.
    bool roundtrip();
    // From now on, events are dispatched as they come.
    void watch();
    // Takes in the events the compositor has sent, without waiting.
    void dispatchEvents();
    // Sends what is queued; a full socket keeps the rest for the next round.
    void flush();

private:
    wl_display *m_display = nullptr;
    wl_registry *m_registry = nullptr;
    QHash<QString, Global> m_globals;
    class QSocketNotifier *m_notifier = nullptr;
};
