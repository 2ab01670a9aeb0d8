#include "platform/wayland/WaylandConnection.h"

#include "core/Log.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cstring>
#include <poll.h>
#include <wayland-client.h>

WaylandConnection::WaylandConnection(QObject *parent) : QObject(parent)
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return;
    m_display = wl_display_connect(nullptr);
    if (!m_display)
        return;
    static const wl_registry_listener listener = {
        [](void *data, wl_registry *, uint32_t name, const char *interface, uint32_t version) {
            auto &globals = static_cast<WaylandConnection *>(data)->m_globals;
            const QString key = QString::fromUtf8(interface);
            if (!globals.contains(key))
                globals.insert(key, Global{name, version});
        },
        [](void *, wl_registry *, uint32_t) {},
    };
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &listener, this);
    if (!roundtrip()) {
        wl_registry_destroy(m_registry);
        m_registry = nullptr;
        wl_display_disconnect(m_display);
        m_display = nullptr;
    }
}

WaylandConnection::~WaylandConnection()
{
    delete m_notifier;
    if (m_registry)
        wl_registry_destroy(m_registry);
    if (m_display)
        wl_display_disconnect(m_display);
}

WaylandConnection::Global WaylandConnection::global(const char *interface) const
{
    return m_globals.value(QString::fromUtf8(interface));
}

void *WaylandConnection::bind(const Global &global, const wl_interface *interface,
                              quint32 highestVersion)
{
    if (!m_registry || global.name == 0)
        return nullptr;
    return wl_registry_bind(m_registry, global.name, interface,
                            std::min(global.version, highestVersion));
}

bool WaylandConnection::roundtrip()
{
    return m_display && wl_display_roundtrip(m_display) >= 0;
}

void WaylandConnection::watch()
{
    if (!m_display || m_notifier)
        return;
    m_notifier = new QSocketNotifier(wl_display_get_fd(m_display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &WaylandConnection::dispatchEvents);
}

void WaylandConnection::dispatchEvents()
{
    if (!m_display || (m_notifier && !m_notifier->isEnabled()))
        return;
    while (wl_display_prepare_read(m_display) != 0)
        wl_display_dispatch_pending(m_display);
    pollfd pfd{wl_display_get_fd(m_display), POLLIN, 0};
    if (::poll(&pfd, 1, 0) > 0)
        wl_display_read_events(m_display);
    else
        wl_display_cancel_read(m_display);
    wl_display_dispatch_pending(m_display);
    flush();
    if (const int error = wl_display_get_error(m_display); error && m_notifier) {
        m_notifier->setEnabled(false);
        Log::line(QStringLiteral("[Platform] Wayland connection lost: %1")
                      .arg(QString::fromLocal8Bit(std::strerror(error))));
    }
}

void WaylandConnection::flush()
{
    if (m_display)
        wl_display_flush(m_display);
}
