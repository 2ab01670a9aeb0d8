#pragma once

#include "platform/PasteKeys.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <optional>

// Tells the user to paste by hand when no key stroke could reach the window: a desktop
// notification (org.freedesktop.Notifications) that names the key. A new notice replaces the
// one still showing rather than stacking up. Without a bus or a notification service the
// notice is dropped, said once in the log; the paste itself is not held up either way.
class PasteNotice : public QObject
{
    Q_OBJECT

public:
    explicit PasteNotice(QObject *parent = nullptr);
    explicit PasteNotice(const QDBusConnection &bus, QObject *parent = nullptr);

    void show(PasteKey key);

    static QString summary(PasteKey key);
    static QString body(PasteKey key);

private:
    void send(PasteKey key);
    void reportUnavailable(const QString &why);

    QDBusConnection m_bus;
    quint32 m_shownId = 0; // the notice still on screen, replaced by the next one
    // Asked for while the service has not yet said which id the last one got: sent after
    // the answer, so it replaces that one instead of stacking beside it.
    std::optional<PasteKey> m_next;
    bool m_waiting = false;
    bool m_reported = false;
};
