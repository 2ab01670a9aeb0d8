#pragma once

#include <QKeyCombination>
#include <QList>
#include <QObject>
#include <QString>

// Grabs system-wide key combinations for this process. A combination is a letter or digit
// key (Qt::Key_A … Key_Z, Key_0 … Key_9) with Control, Alt, Shift and Meta (the Super key)
// modifiers, so the layers above never see a platform key code. Main thread only.
//
// Where this process grabs keys itself a grant is final. Where the desktop assigns the keys
// (a shortcuts service), a grant only records the wish; the desktop's verdict follows through
// settled(), and what it assigned can change later in the desktop's own settings.
class HotKeyRegistrar : public QObject
{
    Q_OBJECT

public:
    enum class GrabStatus {
        Granted,
        NoDisplay,   // no usable connection to the desktop
        UnknownKey,  // the keyboard has no key for it
        AlreadyHeld, // this process holds the combination already
        Refused,     // the desktop said no (another client holds it); see serverError
    };

    struct Grab
    {
        quint32 handle = 0; // non-zero exactly when granted
        GrabStatus status = GrabStatus::Granted;
        int serverError = 0; // the platform's error code when refused

        bool granted() const { return handle != 0; }
    };

    // How grants come about, which decides what the settings can tell the user.
    enum class Route {
        Grab,            // this process grabs the keys; a grant is final
        DesktopAssigned, // the desktop assigns keys; a grant awaits settled()
        Unavailable,     // nothing in this session binds global keys for us
    };

    // What a grab is for, for desktops that list an application's shortcuts by name.
    struct Purpose
    {
        QString id; // stable across runs: the desktop keeps the user's keys under it
        QString description;
    };

    using QObject::QObject;

    virtual Grab grab(QKeyCombination combination) = 0;
    // Lets the combination go; unknown handles are ignored.
    virtual void release(quint32 handle) = 0;

    // A grab that says what it is for; registrars that grab keys themselves need not know.
    virtual Grab grabFor(const Purpose &purpose, QKeyCombination combination)
    {
        Q_UNUSED(purpose);
        return grab(combination);
    }
    virtual Route route() const { return Route::Grab; }
    // The desktop's own description of the keys that trigger a granted handle ("Meta+Alt+V")
    // where the desktop assigns keys; empty otherwise, or while it assigns none.
    virtual QString assignedKeys(quint32 handle) const
    {
        Q_UNUSED(handle);
        return QString();
    }

Q_SIGNALS:
    void pressed(quint32 handle);
    // The desktop's verdict on the grants made since the last one: those it assigned no keys
    // to are listed. `declined` when it refused the request as a whole (an error, the user
    // cancelled), so asking again with other keys would meet the same answer.
    void settled(const QList<quint32> &unassigned, bool declined);
    // route() changed: every grant so far is void, the shortcuts must be bound afresh.
    void routeChanged();
    // assignedKeys() changed after the verdict (edited in the desktop's settings).
    void assignmentsChanged();
};
