#pragma once

#include <QDBusConnection>
#include <QObject>

// Tells when the computer has woken from sleep, from logind's PrepareForSleep signal on the
// system bus. Change announcements can go missing across a suspend (a display server restarted,
// a connection dropped and re-made), so whoever depends on them looks again then.
class SleepWatcher : public QObject
{
    Q_OBJECT

public:
    // Watches `bus`, the system bus unless a test hands over another.
    explicit SleepWatcher(const QDBusConnection &bus = QDBusConnection::systemBus(),
                          QObject *parent = nullptr);

    // False without a reachable bus: then no wake is ever reported.
    bool isWatching() const { return m_watching; }

Q_SIGNALS:
    void woke();

private Q_SLOTS:
    void onPrepareForSleep(bool sleeping);

private:
    bool m_watching = false;
};
