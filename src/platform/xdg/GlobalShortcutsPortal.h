#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QKeyCombination>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QDBusArgument;
class QDBusMessage;
class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

// One entry of the desktop portal's shortcut lists: an id and its properties
// (description, preferred_trigger, trigger_description).
struct PortalShortcut
{
    QString id;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(PortalShortcut)

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut);
const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut);

// A client of the desktop portal's global shortcuts (org.freedesktop.portal.GlobalShortcuts).
// Every call is asynchronous, so a portal that is slow to start never holds up the event
// loop; answers arrive as signals. Main thread only.
class GlobalShortcutsPortal : public QObject
{
    Q_OBJECT

public:
    struct Shortcut
    {
        QString id;
        QString description;
        QString preferredTrigger; // in the XDG shortcuts format, e.g. "LOGO+ALT+v"; may be empty
    };
    // Shortcut id → the desktop's description of its keys; empty when it assigned none.
    using Triggers = QHash<QString, QString>;

    static inline const QString serviceName = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString objectPath = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString interfaceName =
        QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

    explicit GlobalShortcutsPortal(const QDBusConnection &bus, QObject *parent = nullptr);
    ~GlobalShortcutsPortal() override;

    // Binds the shortcuts in a new session, closing the one before: bound(), absent() or
    // failed() answers. A later call supersedes an earlier one still waiting; an empty list
    // only closes the session.
    void bind(const QList<Shortcut> &shortcuts);

    // The XDG shortcuts format for a combination, e.g. Meta+Alt+V → "LOGO+ALT+v".
    static QString trigger(QKeyCombination keys);

Q_SIGNALS:
    // No portal on the bus, or one without global shortcuts.
    void absent();
    void bound(const GlobalShortcutsPortal::Triggers &triggers);
    void failed(const QString &reason);
    void activated(const QString &id);
    void triggersChanged(const GlobalShortcutsPortal::Triggers &triggers);
    // The portal left the bus, taking the session with it; returned() when a portal joins
    // the bus while no session is open.
    void vanished();
    void returned();

private Q_SLOTS:
    void onResponse(const QDBusMessage &message);
    void onActivated(const QDBusMessage &message);
    void onShortcutsChanged(const QDBusMessage &message);

private:
    enum class Step { CreateSession, BindShortcuts };

    QString requestPath(const QString &token) const;
    void createSession();
    void bindShortcuts();
    void closeSession();
    void call(Step step, const QString &method, const QList<QVariant> &arguments,
              const QString &token);
    void expectResponse(Step step, const QString &path);
    void forgetRequest();
    void onCallFinished(QDBusPendingCallWatcher *watcher, Step step, quint64 generation);
    void onSessionCreated(const QVariantMap &results);
    void onBound(const QVariantMap &results);

    QDBusConnection m_bus;
    QDBusServiceWatcher *m_watcher;
    QList<Shortcut> m_shortcuts;
    QString m_session;
    QString m_request; // the request whose Response is awaited
    Step m_step = Step::CreateSession;
    quint64 m_generation = 0; // bumped by every bind(), so stale answers are dropped
    quint64 m_tokens = 0;
};
