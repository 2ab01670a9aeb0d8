#pragma once

#include "platform/HotKeyRegistrar.h"
#include "platform/xdg/GlobalShortcutsPortal.h"

#include <QHash>
#include <QSet>

// Global hot keys through the desktop portal, for Wayland sessions where no client may grab
// keys. Grants are given at once and collected; on the next turn of the event loop they go
// to the portal in one request, and its answer (which shortcuts got keys) follows through
// settled(). Without the portal the route is Unavailable, said once in the log.
class PortalHotKeyRegistrar : public HotKeyRegistrar
{
    Q_OBJECT

public:
    explicit PortalHotKeyRegistrar(const QDBusConnection &bus, QObject *parent = nullptr);

    Grab grab(QKeyCombination combination) override;
    Grab grabFor(const Purpose &purpose, QKeyCombination combination) override;
    void release(quint32 handle) override;
    Route route() const override { return m_route; }
    QString assignedKeys(quint32 handle) const override;

private:
    struct Shortcut
    {
        Purpose purpose;
        QString trigger;
        QString assigned; // the desktop's description of its keys
    };

    void scheduleBind();
    void bindNow();
    quint32 handleOf(const QString &id) const;
    void onAbsent();
    void onBound(const GlobalShortcutsPortal::Triggers &triggers);
    void onFailed(const QString &reason);
    void onTriggersChanged(const GlobalShortcutsPortal::Triggers &triggers);
    void onActivated(const QString &id);

    GlobalShortcutsPortal m_portal;
    Route m_route = Route::DesktopAssigned;
    QHash<quint32, Shortcut> m_shortcuts;
    QSet<quint32> m_awaiting; // granted, not yet settled
    quint32 m_nextHandle = 1;
    bool m_bindQueued = false;
    bool m_bindChanged = false; // the set changed since the last request
    bool m_portalLost = false;  // it left the bus; bind again when it is back
};
