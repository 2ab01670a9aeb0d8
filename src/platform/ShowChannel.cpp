#include "platform/ShowChannel.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QGuiApplication>

ShowChannel::ShowChannel(QObject *parent) : QObject(parent) {}

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
    // A slot that takes the message is called whatever the signal's signature.
    m_listening = bus.connect(QString(), objectPath, interfaceName, signalName, this,
                              SLOT(onShowSignal(QDBusMessage)));
    return m_listening;
}

void ShowChannel::onShowSignal(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    m_activationToken = arguments.isEmpty() ? QString() : arguments.first().toString();
    // Qt's Wayland platform reads the variable when a window asks to be activated and clears it
    // once used; elsewhere it would only leak into the programs the application starts.
    if (!m_activationToken.isEmpty() && QGuiApplication::platformName() == u"wayland")
        qputenv("XDG_ACTIVATION_TOKEN", m_activationToken.toUtf8());
    Q_EMIT showRequested();
}
