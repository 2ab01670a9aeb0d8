#include "platform/wayland/WaylandWorkspace.h"

#include "platform/wayland/WaylandToplevels.h"
#include "platform/xdg/DesktopEntryIndex.h"

#include <QDBusConnection>

WaylandWorkspace::WaylandWorkspace(std::shared_ptr<DesktopEntryIndex> entries, QObject *parent)
    : Workspace(parent), m_toplevels(std::make_unique<WaylandToplevels>()),
      m_entries(entries ? std::move(entries) : std::make_shared<DesktopEntryIndex>())
{
    QDBusConnection systemBus = QDBusConnection::systemBus();
    if (systemBus.isConnected())
        systemBus.connect(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
            this, SLOT(handlePrepareForSleep(bool)));
}

WaylandWorkspace::~WaylandWorkspace() = default;

bool WaylandWorkspace::knowsWindows() const
{
    return m_toplevels->isValid();
}

std::optional<AppInfo> WaylandWorkspace::activeApplication()
{
    const std::optional<WaylandToplevels::Window> window = m_toplevels->active();
    if (!window || window->appId.isEmpty())
        return std::nullopt;
    // Wayland clients name themselves by their desktop entry, or by what X11 called the class.
    std::optional<DesktopEntryIndex::Entry> entry = m_entries->byId(window->appId);
    if (!entry)
        entry = m_entries->byWindowClass(window->appId, window->appId);
    AppInfo info;
    info.appId = entry ? entry->id : window->appId;
    info.name = entry && !entry->name.isEmpty() ? entry->name : window->appId;
    return info;
}

quint64 WaylandWorkspace::activeWindow()
{
    const std::optional<WaylandToplevels::Window> window = m_toplevels->active();
    return window ? window->id : 0;
}

void WaylandWorkspace::activateWindow(quint64 window)
{
    m_toplevels->activate(window);
}

QString WaylandWorkspace::windowClass(quint64 window)
{
    const std::optional<WaylandToplevels::Window> found = m_toplevels->window(window);
    return found ? found->appId : QString();
}

void WaylandWorkspace::handlePrepareForSleep(bool sleeping)
{
    if (sleeping)
        Q_EMIT aboutToSleep();
    else
        Q_EMIT resumed();
}
