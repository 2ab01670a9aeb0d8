#pragma once

#include <QObject>

// Grabs system-wide key combinations for this process. Combinations are given the way the
// stored hot-key labels describe them: a macOS virtual key code and a Carbon modifier mask,
// so the layers above never see a platform key code. Everything runs on the main thread.
class HotKeyRegistrar : public QObject
{
    Q_OBJECT

public:
    // Carbon modifier bits, the encoding of carbonMods.
    static constexpr quint32 CommandMod = 0x100;
    static constexpr quint32 ShiftMod = 0x200;
    static constexpr quint32 OptionMod = 0x800;
    static constexpr quint32 ControlMod = 0x1000;

    // Failure statuses of our own; positive statuses are the platform's error codes.
    static constexpr int NoDisplay = -1;
    static constexpr int UnknownKey = -2;
    // Mirrors the Carbon error for a combination this process already holds.
    static constexpr int AlreadyHeld = -9878;

    using QObject::QObject;

    // Grabs the combination. Returns a non-zero handle on success; on failure returns 0 and
    // stores a non-zero status in *status (when given) for the caller's log line.
    virtual quint32 grab(quint32 keyCode, quint32 carbonMods, int *status) = 0;
    // Lets the combination go; unknown handles are ignored.
    virtual void release(quint32 handle) = 0;

Q_SIGNALS:
    void pressed(quint32 handle);
};
