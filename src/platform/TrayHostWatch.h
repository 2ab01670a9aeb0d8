#pragma once

#include <QDBusConnection>
#include <QObject>

// Whether a status-notifier host (the tray of KDE Plasma, of a status bar such as waybar, of
// GNOME's AppIndicator extension) is on the session bus, and the moment one arrives. Qt decides
// once per process whether its tray icon goes over D-Bus, so an application that starts before
// the bar of its session must wait for the host before it builds its icon, or have none.
class TrayHostWatch : public QObject
{
    Q_OBJECT

public:
    explicit TrayHostWatch(const QDBusConnection &bus = QDBusConnection::sessionBus(),
                           QObject *parent = nullptr);

    bool isHostRegistered() const;

Q_SIGNALS:
    // Once, when a host is there after none was.
    void hostAppeared();

private Q_SLOTS:
    void check();

private:
    QDBusConnection m_bus;
    bool m_announced = false;
};
