#pragma once

// The picker as a user sees it, measured from the X server: a connection of its own hears when
// the application's window becomes viewable (MapNotify of the window and of the window
// manager's frame around it) and when its first pixels arrive (a Damage event on the window).

#include <QString>

#include <functional>
#include <sys/types.h>

struct xcb_connection_t;

class PickerWatch
{
public:
    PickerWatch();
    ~PickerWatch();
    PickerWatch(const PickerWatch &) = delete;
    PickerWatch &operator=(const PickerWatch &) = delete;

    // Why it cannot measure (no display, no Damage extension), or empty.
    QString problem() const { return m_problem; }

    // Finds the window of process `pid` that `reveal` makes viewable: the first top-level
    // window of that process not viewable before. False when none appears in timeoutMs.
    bool identify(pid_t pid, const std::function<void()> &reveal, int timeoutMs);

    struct Timing
    {
        // Milliseconds from the start; -1 when it did not happen before the time-out.
        double mapped = -1;
        double painted = -1;
        double exited = -1;
    };
    // Measures from just before `start` (which execs a process and returns its pidfd) until
    // the picker is viewable, has been drawn on, and the process has exited.
    Timing measure(const std::function<int()> &start, int timeoutMs);

    bool isViewable();
    // Waits until the picker is no longer viewable.
    bool waitHidden(int timeoutMs);

private:
    bool isViewable(quint32 window);
    void rearmDamage();
    void drainEvents();

    xcb_connection_t *m_connection = nullptr;
    quint32 m_root = 0;
    quint32 m_window = 0;
    quint32 m_damage = 0;
    quint8 m_damageEvent = 0;
    quint32 m_pidAtom = 0;
    QString m_problem;
};
