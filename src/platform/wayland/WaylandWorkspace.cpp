#include "platform/wayland/WaylandWorkspace.h"

#include <QDBusConnection>

WaylandWorkspace::WaylandWorkspace(QObject *parent) : Workspace(parent)
{
    QDBusConnection systemBus = QDBusConnection::systemBus();
    if (systemBus.isConnected())
        systemBus.connect(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
            this, SLOT(handlePrepareForSleep(bool)));
}

void WaylandWorkspace::handlePrepareForSleep(bool sleeping)
{
    if (sleeping)
        Q_EMIT aboutToSleep();
    else
        Q_EMIT resumed();
}
