#pragma once

#include <QObject>

class QDBusMessage;

// The cross-process "show the picker" request on the D-Bus session bus. The running instance
// owns the name org.brisel.Ulvane and listens for the signal org.brisel.Ulvane.show on the
// path /org/brisel/Ulvane; `ulvane --show` (or a second start) emits it through ShowRequest.
// The signal carries no argument, or one string: the activation token the sender was started
// with. Both forms are taken.
class ShowChannel : public QObject
{
    Q_OBJECT

public:
    static inline const QString serviceName = QStringLiteral("org.brisel.Ulvane");
    static inline const QString objectPath = QStringLiteral("/org/brisel/Ulvane");
    static inline const QString interfaceName = QStringLiteral("org.brisel.Ulvane");
    static inline const QString signalName = QStringLiteral("show");

    explicit ShowChannel(QObject *parent = nullptr);

    // Claims the name and starts listening. False when there is no session bus or another
    // process already owns the name (that process is then the running instance).
    bool listen();
    // Whether a session bus can be reached at all.
    static bool sessionBusAvailable();
    bool isListening() const { return m_listening; }
    // The token of the request being announced (empty when it brought none). On Wayland it is
    // also handed to Qt, which spends it on the picker's next activation request.
    QString activationToken() const { return m_activationToken; }

Q_SIGNALS:
    void showRequested();

private Q_SLOTS:
    void onShowSignal(const QDBusMessage &message);

private:
    bool m_listening = false;
    QString m_activationToken;
};
