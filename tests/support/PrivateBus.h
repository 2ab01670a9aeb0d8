#pragma once

// A D-Bus daemon of the test's own, on the address given (a socket path or an abstract name),
// so bus traffic is tested against the real daemon without touching the session's bus.

#include <QProcess>
#include <QString>

class PrivateBus
{
public:
    explicit PrivateBus(const QString &listen)
    {
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"),
                        QStringLiteral("--print-address=1"),
                        QStringLiteral("--address=") + listen});
        if (m_daemon.waitForReadyRead(10000))
            m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus() { stop(); }
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // Empty when the daemon did not start.
    QString address() const { return m_address; }

    void stop()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }

private:
    QProcess m_daemon;
    QString m_address;
};
