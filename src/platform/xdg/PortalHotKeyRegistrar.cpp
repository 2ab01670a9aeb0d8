#include "platform/xdg/PortalHotKeyRegistrar.h"

#include "core/Log.h"

#include <QTimer>

PortalHotKeyRegistrar::PortalHotKeyRegistrar(const QDBusConnection &bus, QObject *parent)
    : HotKeyRegistrar(parent), m_portal(bus)
{
    connect(&m_portal, &GlobalShortcutsPortal::absent, this, &PortalHotKeyRegistrar::onAbsent);
    connect(&m_portal, &GlobalShortcutsPortal::bound, this, &PortalHotKeyRegistrar::onBound);
    connect(&m_portal, &GlobalShortcutsPortal::failed, this, &PortalHotKeyRegistrar::onFailed);
    connect(&m_portal, &GlobalShortcutsPortal::triggersChanged, this,
            &PortalHotKeyRegistrar::onTriggersChanged);
    connect(&m_portal, &GlobalShortcutsPortal::activated, this,
            &PortalHotKeyRegistrar::onActivated);
    connect(&m_portal, &GlobalShortcutsPortal::vanished, this, [this] {
        Log::line(QStringLiteral("[HotKeys] the desktop portal left the session bus"));
        m_portalLost = true;
        onFailed(QString());
    });
    // A restarted portal knows nothing of the old session: everything is bound afresh.
    connect(&m_portal, &GlobalShortcutsPortal::returned, this, [this] {
        if (!m_portalLost || m_route != Route::DesktopAssigned)
            return;
        m_portalLost = false;
        Q_EMIT routeChanged();
    });
}

HotKeyRegistrar::Grab PortalHotKeyRegistrar::grab(QKeyCombination combination)
{
    const QString trigger = GlobalShortcutsPortal::trigger(combination);
    return grabFor(Purpose{QStringLiteral("shortcut-") + trigger, trigger}, combination);
}

HotKeyRegistrar::Grab PortalHotKeyRegistrar::grabFor(const Purpose &purpose,
                                                     QKeyCombination combination)
{
    if (m_route == Route::Unavailable)
        return {0, GrabStatus::NoDisplay};
    const QString trigger = GlobalShortcutsPortal::trigger(combination);
    if (trigger.isEmpty())
        return {0, GrabStatus::UnknownKey};
    for (const Shortcut &held : std::as_const(m_shortcuts)) {
        if (held.trigger == trigger || held.purpose.id == purpose.id)
            return {0, GrabStatus::AlreadyHeld};
    }
    const quint32 handle = m_nextHandle++;
    m_shortcuts.insert(handle, Shortcut{purpose, trigger, QString()});
    m_awaiting.insert(handle);
    scheduleBind();
    return {handle, GrabStatus::Granted};
}

void PortalHotKeyRegistrar::release(quint32 handle)
{
    if (m_shortcuts.remove(handle) == 0)
        return;
    m_awaiting.remove(handle);
    scheduleBind();
}

QString PortalHotKeyRegistrar::assignedKeys(quint32 handle) const
{
    return m_shortcuts.value(handle).assigned;
}

// A rebind releases everything and grabs it again in one go: one request for all of it.
void PortalHotKeyRegistrar::scheduleBind()
{
    m_bindChanged = true;
    if (m_bindQueued)
        return;
    m_bindQueued = true;
    QTimer::singleShot(0, this, &PortalHotKeyRegistrar::bindNow);
}

void PortalHotKeyRegistrar::bindNow()
{
    m_bindQueued = false;
    if (!m_bindChanged || m_route != Route::DesktopAssigned)
        return;
    m_bindChanged = false;
    QList<GlobalShortcutsPortal::Shortcut> shortcuts;
    for (auto it = m_shortcuts.cbegin(); it != m_shortcuts.cend(); ++it)
        shortcuts.append({it->purpose.id, it->purpose.description, it->trigger});
    // Every shortcut goes in again, so each one gets a fresh verdict.
    for (auto it = m_shortcuts.cbegin(); it != m_shortcuts.cend(); ++it)
        m_awaiting.insert(it.key());
    m_portal.bind(shortcuts);
}

quint32 PortalHotKeyRegistrar::handleOf(const QString &id) const
{
    for (auto it = m_shortcuts.cbegin(); it != m_shortcuts.cend(); ++it) {
        if (it->purpose.id == id)
            return it.key();
    }
    return 0;
}

void PortalHotKeyRegistrar::onAbsent()
{
    if (m_route == Route::Unavailable)
        return;
    m_route = Route::Unavailable;
    Log::line(QStringLiteral("[HotKeys] no GlobalShortcuts portal in this session: global hot "
                             "keys are off; bind a desktop shortcut to `ulvane --show`"));
    m_shortcuts.clear();
    m_awaiting.clear();
    Q_EMIT routeChanged();
}

void PortalHotKeyRegistrar::onBound(const GlobalShortcutsPortal::Triggers &triggers)
{
    QList<quint32> unassigned;
    for (auto it = m_shortcuts.begin(); it != m_shortcuts.end(); ++it) {
        it->assigned = triggers.value(it->purpose.id);
        if (m_awaiting.contains(it.key()) && it->assigned.isEmpty())
            unassigned.append(it.key());
    }
    m_awaiting.clear();
    Q_EMIT settled(unassigned, false);
}

// Reason empty: already logged by the caller.
void PortalHotKeyRegistrar::onFailed(const QString &reason)
{
    if (!reason.isEmpty())
        Log::line(QStringLiteral("[HotKeys] the desktop portal did not bind the shortcuts: ") +
                  reason);
    QList<quint32> unassigned;
    for (auto it = m_shortcuts.begin(); it != m_shortcuts.end(); ++it) {
        it->assigned.clear();
        unassigned.append(it.key());
    }
    m_awaiting.clear();
    Q_EMIT settled(unassigned, true);
}

void PortalHotKeyRegistrar::onTriggersChanged(const GlobalShortcutsPortal::Triggers &triggers)
{
    for (auto it = triggers.cbegin(); it != triggers.cend(); ++it) {
        const auto found = m_shortcuts.find(handleOf(it.key()));
        if (found != m_shortcuts.end())
            found->assigned = it.value();
    }
    Q_EMIT assignmentsChanged();
}

void PortalHotKeyRegistrar::onActivated(const QString &id)
{
    if (const quint32 handle = handleOf(id))
        Q_EMIT pressed(handle);
}
