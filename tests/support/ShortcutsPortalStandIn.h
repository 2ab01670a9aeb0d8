#pragma once

// A desktop portal offering global shortcuts, on a private bus, as the interface's
// documentation describes it: sessions and requests at the paths the caller's tokens name,
// answers through the request's Response signal, Activated and ShortcutsChanged for the
// session. It assigns each shortcut its preferred trigger unless another application holds
// that trigger, and says which keys it assigned with the trigger text itself.

#include "platform/xdg/GlobalShortcutsPortal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QMap>
#include <QSet>
#include <QTimer>

class ShortcutsPortalStandIn : public QDBusVirtualObject
{
public:
    // Knobs a test sets before the client asks.
    QSet<QString> taken;         // triggers another application holds
    uint bindResponse = 0;       // non-zero: the desktop refuses the whole request
    bool offersShortcuts = true; // false: a portal without the global shortcuts interface
    // What the client asked for.
    int sessionsCreated = 0;
    int sessionsClosed = 0;
    QMap<QString, QString> preferred; // id → preferred trigger, of the last bind
    QString session;                  // the last session created

    explicit ShortcutsPortalStandIn(const QString &address)
        : m_bus(QDBusConnection::connectToBus(address, QStringLiteral("portal-stand-in")))
    {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        m_bus.registerVirtualObject(GlobalShortcutsPortal::objectPath, this,
                                    QDBusConnection::SubPath);
        join();
    }
    ~ShortcutsPortalStandIn() override
    {
        m_bus.unregisterObject(GlobalShortcutsPortal::objectPath);
        QDBusConnection::disconnectFromBus(QStringLiteral("portal-stand-in"));
    }

    bool join() { return m_bus.registerService(GlobalShortcutsPortal::serviceName); }
    void leave() { m_bus.unregisterService(GlobalShortcutsPortal::serviceName); }

    // The user presses the keys of a shortcut (of the last session unless told otherwise).
    void activate(const QString &id, const QString &inSession = QString())
    {
        QDBusMessage signal = QDBusMessage::createSignal(GlobalShortcutsPortal::objectPath,
                                                         GlobalShortcutsPortal::interfaceName,
                                                         QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(inSession.isEmpty() ? session : inSession))
               << id << qulonglong(1234) << QVariantMap();
        m_bus.send(signal);
    }

    // The user gives a shortcut other keys in the desktop's settings.
    void reassign(const QString &id, const QString &trigger)
    {
        QDBusMessage signal = QDBusMessage::createSignal(GlobalShortcutsPortal::objectPath,
                                                         GlobalShortcutsPortal::interfaceName,
                                                         QStringLiteral("ShortcutsChanged"));
        signal << QVariant::fromValue(QDBusObjectPath(session))
               << QVariant::fromValue(QList<PortalShortcut>{
                      {id, {{QStringLiteral("trigger_description"), trigger}}}});
        m_bus.send(signal);
    }

    QString introspect(const QString &) const override { return QString(); }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.path() != GlobalShortcutsPortal::objectPath) {
            if (message.member() != QLatin1String("Close"))
                return false;
            ++sessionsClosed;
            connection.send(message.createReply());
            return true;
        }
        if (!offersShortcuts || message.interface() != GlobalShortcutsPortal::interfaceName)
            return false;
        if (message.member() == QLatin1String("CreateSession"))
            return createSession(message, connection);
        if (message.member() == QLatin1String("BindShortcuts"))
            return bindShortcuts(message, connection);
        return false;
    }

private:
    static QString sender(const QDBusMessage &message)
    {
        return message.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    }

    static QString option(const QDBusMessage &message, int at, const QString &key)
    {
        return qdbus_cast<QVariantMap>(message.arguments().value(at)).value(key).toString();
    }

    bool createSession(const QDBusMessage &message, const QDBusConnection &connection)
    {
        ++sessionsCreated;
        session = GlobalShortcutsPortal::objectPath + QStringLiteral("/session/") +
                  sender(message) + QLatin1Char('/') +
                  option(message, 0, QStringLiteral("session_handle_token"));
        // The documentation gives the session handle as a string.
        return answer(message, connection, 0, 0, {{QStringLiteral("session_handle"), session}});
    }

    bool bindShortcuts(const QDBusMessage &message, const QDBusConnection &connection)
    {
        preferred.clear();
        QList<PortalShortcut> result;
        for (const PortalShortcut &shortcut :
             qdbus_cast<QList<PortalShortcut>>(message.arguments().value(1))) {
            const QString trigger =
                shortcut.properties.value(QStringLiteral("preferred_trigger")).toString();
            preferred.insert(shortcut.id, trigger);
            const QString assigned = taken.contains(trigger) ? QString() : trigger;
            result.append({shortcut.id,
                           {{QStringLiteral("description"),
                             shortcut.properties.value(QStringLiteral("description"))},
                            {QStringLiteral("trigger_description"), assigned}}});
        }
        return answer(message, connection, 3, bindResponse,
                      {{QStringLiteral("shortcuts"), QVariant::fromValue(result)}});
    }

    // Replies with the request's handle, then answers through the request's Response.
    bool answer(const QDBusMessage &message, const QDBusConnection &connection, int optionsAt,
                uint response, const QVariantMap &results)
    {
        const QString request = GlobalShortcutsPortal::objectPath + QStringLiteral("/request/") +
                                sender(message) + QLatin1Char('/') +
                                option(message, optionsAt, QStringLiteral("handle_token"));
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QDBusConnection bus = connection;
        QTimer::singleShot(0, [bus, request, response, results]() mutable {
            QDBusMessage signal = QDBusMessage::createSignal(
                request, QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"));
            signal << response << results;
            bus.send(signal);
        });
        return true;
    }

    QDBusConnection m_bus;
};
