#include "store/NotificationCenter.h"

#include <QCoreApplication>
#include <QThread>

NotificationCenter &NotificationCenter::shared()
{
    static NotificationCenter *center = [] {
        auto *made = new NotificationCenter;
        // Queued posts must land on the main thread, whichever thread asked first.
        if (QCoreApplication *app = QCoreApplication::instance())
            made->moveToThread(app->thread());
        return made;
    }();
    return *center;
}

void NotificationCenter::post(const QString &name)
{
    Q_EMIT posted(name);
    if (name == storeChangedName)
        Q_EMIT storeChanged();
    else if (name == prefsChangedName)
        Q_EMIT prefsChanged();
    else if (name == serialChangedName)
        Q_EMIT serialChanged();
}

void NotificationCenter::postOnMainThread(const QString &name)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        post(name);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, name] { post(name); }, Qt::QueuedConnection);
}
