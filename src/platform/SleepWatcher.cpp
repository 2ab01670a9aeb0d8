#include "platform/SleepWatcher.h"

SleepWatcher::SleepWatcher(const QDBusConnection &bus, QObject *parent) : QObject(parent)
{
    QDBusConnection connection(bus);
    m_watching =
        connection.isConnected() &&
        connection.connect(QStringLiteral("org.freedesktop.login1"),
                           QStringLiteral("/org/freedesktop/login1"),
                           QStringLiteral("org.freedesktop.login1.Manager"),
                           QStringLiteral("PrepareForSleep"), this, SLOT(onPrepareForSleep(bool)));
}

void SleepWatcher::onPrepareForSleep(bool sleeping)
{
    // The same signal announces the way down (true) and the way back up (false).
    if (!sleeping)
        Q_EMIT woke();
}
