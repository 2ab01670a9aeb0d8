#pragma once

#include <QObject>
#include <QString>

// The process's in-process notifications, by their names. Listeners connect to the signal
// of the notification they want; every post emits exactly once, without coalescing.
class NotificationCenter : public QObject
{
    Q_OBJECT

public:
    static inline const QString storeChangedName = QStringLiteral("veskStoreChanged");
    static inline const QString prefsChangedName = QStringLiteral("veskPrefsChanged");
    static inline const QString serialChangedName = QStringLiteral("veskSerialChanged");

    static NotificationCenter &shared();

    // Emits at once on the calling thread.
    void post(const QString &name);
    // Emits at once when called on the main thread; from any other thread the post is queued
    // to the main thread and this returns before listeners run.
    void postOnMainThread(const QString &name);

Q_SIGNALS:
    void posted(const QString &name);
    void storeChanged();
    void prefsChanged();
    void serialChanged();

private:
    NotificationCenter() = default;
};
