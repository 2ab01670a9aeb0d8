#include "platform/ShowChannel.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

ShowChannel::ShowChannel(QObject *parent) : QObject(parent) {}

bool ShowChannel::sendShowRequest()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const QDBusMessage message = QDBusMessage::createSignal(objectPath, interfaceName, signalName);
    if (!bus.send(message))
        return false;
    // send() only queues. The bus answers calls in order, so once this round trip returns the
    // signal has left the process and exiting cannot drop it.
    bus.interface()->isServiceRegistered(serviceName);
    return true;
}

bool ShowChannel::sessionBusAvailable()
{
    return QDBusConnection::sessionBus().isConnected();
}

bool ShowChannel::listen()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const auto reply =
        bus.interface()->registerService(serviceName, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered)
        return false;
    m_listening =
        bus.connect(QString(), objectPath, interfaceName, signalName, this, SLOT(onShowSignal()));
    return m_listening;
}

void ShowChannel::onShowSignal()
{
    Q_EMIT showRequested();
}
