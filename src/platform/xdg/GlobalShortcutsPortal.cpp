#include "platform/xdg/GlobalShortcutsPortal.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>

namespace {

const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// Errors that mean nobody on this bus offers global shortcuts, as opposed to a portal that
// has them and failed.
bool meansAbsent(QDBusError::ErrorType type)
{
    switch (type) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownMethod:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownObject:
    case QDBusError::NoServer:
    case QDBusError::Disconnected:
        return true;
    default:
        return false;
    }
}

// Session handles are object paths, though some portals have sent them as strings.
QString pathText(const QVariant &value)
{
    if (value.canConvert<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

GlobalShortcutsPortal::Triggers triggersOf(const QVariant &value)
{
    GlobalShortcutsPortal::Triggers triggers;
    if (!value.canConvert<QDBusArgument>())
        return triggers;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a(sa{sv})"))
        return triggers;
    for (const PortalShortcut &shortcut : qdbus_cast<QList<PortalShortcut>>(argument))
        triggers.insert(
            shortcut.id,
            shortcut.properties.value(QStringLiteral("trigger_description")).toString());
    return triggers;
}

} // namespace

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

GlobalShortcutsPortal::GlobalShortcutsPortal(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus),
      m_watcher(new QDBusServiceWatcher(serviceName, bus,
                                        QDBusServiceWatcher::WatchForRegistration |
                                            QDBusServiceWatcher::WatchForUnregistration,
                                        this))
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    m_bus.connect(serviceName, objectPath, interfaceName, QStringLiteral("Activated"), this,
                  SLOT(onActivated(QDBusMessage)));
    m_bus.connect(serviceName, objectPath, interfaceName, QStringLiteral("ShortcutsChanged"), this,
                  SLOT(onShortcutsChanged(QDBusMessage)));
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        if (m_session.isEmpty() && m_request.isEmpty())
            return;
        forgetRequest();
        m_session.clear();
        Q_EMIT vanished();
    });
    connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] {
        if (m_session.isEmpty() && m_request.isEmpty())
            Q_EMIT returned();
    });
}

GlobalShortcutsPortal::~GlobalShortcutsPortal()
{
    closeSession();
}

void GlobalShortcutsPortal::bind(const QList<Shortcut> &shortcuts)
{
    m_shortcuts = shortcuts;
    ++m_generation;
    forgetRequest();
    // Desktops differ on binding twice in one session; a fresh one always works, and the
    // desktop keeps each shortcut's keys under its id across sessions.
    closeSession();
    if (shortcuts.isEmpty())
        return;
    if (!m_bus.isConnected()) {
        Q_EMIT absent();
        return;
    }
    createSession();
}

QString GlobalShortcutsPortal::trigger(QKeyCombination keys)
{
    QStringList parts;
    const Qt::KeyboardModifiers mods = keys.keyboardModifiers();
    if (mods & Qt::MetaModifier)
        parts.append(QStringLiteral("LOGO"));
    if (mods & Qt::ControlModifier)
        parts.append(QStringLiteral("CTRL"));
    if (mods & Qt::AltModifier)
        parts.append(QStringLiteral("ALT"));
    if (mods & Qt::ShiftModifier)
        parts.append(QStringLiteral("SHIFT"));
    const Qt::Key key = keys.key();
    // Keysym names: lower-case letters, digits as they are.
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        parts.append(QChar(char16_t(u'a' + (key - Qt::Key_A))));
    else if (key >= Qt::Key_0 && key <= Qt::Key_9)
        parts.append(QChar(char16_t(key)));
    else
        return QString();
    return parts.join(QLatin1Char('+'));
}

QString GlobalShortcutsPortal::requestPath(const QString &token) const
{
    // The portal names each request after the caller's unique name and the token.
    QString sender = m_bus.baseService();
    sender.remove(0, sender.startsWith(QLatin1Char(':')) ? 1 : 0);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return objectPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

void GlobalShortcutsPortal::createSession()
{
    const QString token = QStringLiteral("ulvane%1").arg(++m_tokens);
    const QVariantMap options{{QStringLiteral("handle_token"), token},
                              {QStringLiteral("session_handle_token"), token}};
    call(Step::CreateSession, QStringLiteral("CreateSession"), {options}, token);
}

void GlobalShortcutsPortal::bindShortcuts()
{
    QList<PortalShortcut> list;
    for (const Shortcut &shortcut : std::as_const(m_shortcuts)) {
        QVariantMap properties{{QStringLiteral("description"), shortcut.description}};
        if (!shortcut.preferredTrigger.isEmpty())
            properties.insert(QStringLiteral("preferred_trigger"), shortcut.preferredTrigger);
        list.append(PortalShortcut{shortcut.id, properties});
    }
    const QString token = QStringLiteral("ulvane%1").arg(++m_tokens);
    const QVariantMap options{{QStringLiteral("handle_token"), token}};
    call(Step::BindShortcuts, QStringLiteral("BindShortcuts"),
         {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(list), QString(),
          options},
         token);
}

void GlobalShortcutsPortal::closeSession()
{
    if (m_session.isEmpty())
        return;
    const QDBusMessage close = QDBusMessage::createMethodCall(
        serviceName, m_session, sessionInterface, QStringLiteral("Close"));
    m_bus.asyncCall(close);
    m_session.clear();
}

void GlobalShortcutsPortal::call(Step step, const QString &method, const QList<QVariant> &arguments,
                                 const QString &token)
{
    // Listening before the call, so a quick Response cannot be missed.
    expectResponse(step, requestPath(token));
    QDBusMessage message =
        QDBusMessage::createMethodCall(serviceName, objectPath, interfaceName, method);
    message.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    const quint64 generation = m_generation;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, step, generation](QDBusPendingCallWatcher *finished) {
                onCallFinished(finished, step, generation);
            });
}

void GlobalShortcutsPortal::expectResponse(Step step, const QString &path)
{
    forgetRequest();
    m_step = step;
    m_request = path;
    m_bus.connect(QString(), m_request, requestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(QDBusMessage)));
}

void GlobalShortcutsPortal::forgetRequest()
{
    if (m_request.isEmpty())
        return;
    m_bus.disconnect(QString(), m_request, requestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(QDBusMessage)));
    m_request.clear();
}

void GlobalShortcutsPortal::onCallFinished(QDBusPendingCallWatcher *watcher, Step step,
                                           quint64 generation)
{
    watcher->deleteLater();
    if (generation != m_generation || step != m_step)
        return;
    const QDBusMessage reply = watcher->reply();
    if (reply.type() == QDBusMessage::ErrorMessage) {
        forgetRequest();
        const QDBusError error(reply);
        if (step == Step::CreateSession && meansAbsent(error.type()))
            Q_EMIT absent();
        else
            Q_EMIT failed(error.message().isEmpty() ? error.name() : error.message());
        return;
    }
    // Portals older than the handle_token convention pick their own request path.
    const QString handle =
        reply.arguments().isEmpty() ? QString() : pathText(reply.arguments().constFirst());
    if (!handle.isEmpty() && handle != m_request)
        expectResponse(step, handle);
}

void GlobalShortcutsPortal::onResponse(const QDBusMessage &message)
{
    if (message.path() != m_request || message.arguments().size() < 2)
        return;
    forgetRequest();
    const uint response = message.arguments().at(0).toUInt();
    const QVariantMap results = qdbus_cast<QVariantMap>(message.arguments().at(1));
    if (response != 0) {
        Q_EMIT failed(response == 1 ? QStringLiteral("cancelled")
                                    : QStringLiteral("response %1").arg(response));
        return;
    }
    if (m_step == Step::CreateSession)
        onSessionCreated(results);
    else
        onBound(results);
}

void GlobalShortcutsPortal::onSessionCreated(const QVariantMap &results)
{
    m_session = pathText(results.value(QStringLiteral("session_handle")));
    if (m_session.isEmpty()) {
        Q_EMIT failed(QStringLiteral("no session"));
        return;
    }
    bindShortcuts();
}

void GlobalShortcutsPortal::onBound(const QVariantMap &results)
{
    Triggers triggers = triggersOf(results.value(QStringLiteral("shortcuts")));
    // A shortcut left out of the answer has no keys.
    for (const Shortcut &shortcut : std::as_const(m_shortcuts))
        triggers.insert(shortcut.id, triggers.value(shortcut.id));
    Q_EMIT bound(triggers);
}

void GlobalShortcutsPortal::onActivated(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (m_session.isEmpty() || arguments.size() < 2 || pathText(arguments.at(0)) != m_session)
        return;
    Q_EMIT activated(arguments.at(1).toString());
}

void GlobalShortcutsPortal::onShortcutsChanged(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (m_session.isEmpty() || arguments.size() < 2 || pathText(arguments.at(0)) != m_session)
        return;
    Q_EMIT triggersChanged(triggersOf(arguments.at(1)));
}
