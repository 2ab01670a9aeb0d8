#include "platform/TrayHostWatch.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

} // namespace

TrayHostWatch::TrayHostWatch(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus)
{
    if (!m_bus.isConnected())
        return;
    // The watcher's name comes first and its host a moment later; either may be the last
    // word, so both are followed.
    auto *names = new QDBusServiceWatcher(watcherService, m_bus,
                                          QDBusServiceWatcher::WatchForRegistration, this);
    connect(names, &QDBusServiceWatcher::serviceRegistered, this, &TrayHostWatch::check);
    m_bus.connect(QString(), QStringLiteral("/StatusNotifierWatcher"), watcherService,
                  QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(check()));
}

bool TrayHostWatch::isHostRegistered() const
{
    if (!m_bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        watcherService, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    // Asked without activating anything: a session that has no watcher answers at once.
    call.setAutoStartService(false);
    const QDBusReply<QDBusVariant> reply = m_bus.call(call, QDBus::Block, 2000);
    return reply.isValid() && reply.value().variant().toBool();
}

void TrayHostWatch::check()
{
    if (m_announced || !isHostRegistered())
        return;
    m_announced = true;
    Q_EMIT hostAppeared();
}
