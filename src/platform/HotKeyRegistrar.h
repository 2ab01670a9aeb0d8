#pragma once

#include <QKeyCombination>
#include <QObject>

// Grabs system-wide key combinations for this process. A combination is a letter or digit
// key (Qt::Key_A … Key_Z, Key_0 … Key_9) with Control, Alt, Shift and Meta (the Super key)
// modifiers, so the layers above never see a platform key code. Main thread only.
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

    using QObject::QObject;

    virtual Grab grab(QKeyCombination combination) = 0;
    // Lets the combination go; unknown handles are ignored.
    virtual void release(quint32 handle) = 0;

Q_SIGNALS:
    void pressed(quint32 handle);
};
