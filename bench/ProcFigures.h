#pragma once

// What /proc tells about another process: its CPU time, how often its threads were woken and
// what its private memory is made of. The parsers take the files' text, so they can be checked
// against hand-written samples.

#include <QByteArray>
#include <QHash>
#include <QString>

#include <vector>

namespace ProcFigures {

// User plus system CPU ticks from the text of /proc/PID/stat.
qint64 cpuTicksFromStat(const QByteArray &stat);
double cpuSeconds(qint64 pid);

struct ThreadSample
{
    QString name;
    qint64 switches = 0; // context switches, voluntary or not: each one a wake-up
    qint64 runNs = 0;    // time on a CPU
};
// Every thread of the process, by thread id.
QHash<QString, ThreadSample> sampleThreads(qint64 pid);

struct Wakeups
{
    QString thread; // a name several threads share (a pool's) counts once, summed
    qint64 count = 0;
    qint64 runNs = 0;
};

// What a process's threads did over a span, from looks taken often enough that a thread
// ending in between loses little: its work up to the look before counts. A thread that first
// appears counts from zero, as does a thread id reused under another name.
class ThreadActivity
{
public:
    void look(const QHash<QString, ThreadSample> &threads);
    // Wake-ups and CPU time per thread name, most woken first.
    std::vector<Wakeups> wakeups() const;
    qint64 totalWakeups() const;
    double cpuSeconds() const { return double(m_runNs) / 1e9; }

private:
    bool m_looked = false;
    QHash<QString, ThreadSample> m_last;
    QHash<QString, Wakeups> m_byName;
    qint64 m_runNs = 0;
};

struct Memory
{
    qint64 rssKiB = 0;
    qint64 pssKiB = 0;
    qint64 ussKiB = 0;   // Private_Clean + Private_Dirty
    qint64 dirtyKiB = 0; // Private_Dirty: owned whoever else maps the same files
};
// From the text of /proc/PID/smaps_rollup (or a whole smaps: the fields are summed).
Memory memoryFromRollup(const QByteArray &rollup);
Memory memoryOf(qint64 pid);

struct PrivatePart
{
    QString kind;
    qint64 kib = 0;
};
// The private pages of /proc/PID/smaps by what they are: the heap, stacks (the main one and
// every anonymous mapping holding a thread's stack pointer), other anonymous memory, files
// under `storeFolder`, shared-memory segments, and each other file, largest `topFiles` by
// name and the rest together. A nameless mapping right after a file's writable one is that
// file's zero-filled data (.bss) and counts for it. Kinds come first, then files; parts sum to
// the private total.
std::vector<PrivatePart> privateParts(const QByteArray &smaps, const QString &storeFolder,
                                      const std::vector<quint64> &stackPointers, int topFiles);
// Each thread's stack pointer as /proc/PID/task/TID/syscall shows it (not while running).
std::vector<quint64> stackPointers(qint64 pid);

} // namespace ProcFigures
