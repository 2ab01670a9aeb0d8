#include "platform/DisplaySession.h"

#include "platform/wayland/WaylandConnection.h"

DisplaySession::Backend DisplaySession::choose(const Facts &facts)
{
    if (!facts.waylandDisplay)
        return Backend::X11;
    if (facts.compositorReached && facts.dataControl)
        return Backend::Wayland;
    return facts.x11Display ? Backend::XWayland : Backend::None;
}

DisplaySession::Facts DisplaySession::probe()
{
    Facts facts;
    facts.waylandDisplay = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    facts.x11Display = !qEnvironmentVariableIsEmpty("DISPLAY");
    if (!facts.waylandDisplay)
        return facts;
    // The registry alone answers the question; nothing is bound.
    const WaylandConnection connection;
    facts.compositorReached = connection.isConnected();
    facts.dataControl = connection.global("ext_data_control_manager_v1").name != 0 ||
                        connection.global("zwlr_data_control_manager_v1").name != 0;
    return facts;
}

const DisplaySession &DisplaySession::current()
{
    static const DisplaySession session(probe());
    return session;
}

DisplaySession::DisplaySession(const Facts &facts) : m_facts(facts), m_backend(choose(facts)) {}

QByteArray DisplaySession::qtPlatform() const
{
    switch (m_backend) {
    case Backend::Wayland:
    case Backend::None:
        return m_facts.waylandDisplay ? QByteArrayLiteral("wayland") : QByteArray();
    case Backend::XWayland:
        return QByteArrayLiteral("xcb");
    case Backend::X11:
        break;
    }
    return {};
}

void DisplaySession::applyQtPlatform() const
{
    const QByteArray platform = qtPlatform();
    if (!platform.isEmpty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", platform);
}

QString DisplaySession::reason() const
{
    const QString compositor =
        m_facts.compositorReached
            ? QStringLiteral("the Wayland compositor offers no data-control clipboard protocol")
            : QStringLiteral("the Wayland compositor of WAYLAND_DISPLAY does not answer");
    switch (m_backend) {
    case Backend::XWayland:
        return compositor;
    case Backend::None:
        return compositor + QStringLiteral(" and no XWayland server is known (DISPLAY is not set)");
    case Backend::Wayland:
    case Backend::X11:
        break;
    }
    return {};
}
