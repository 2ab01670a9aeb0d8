#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>

class QSocketNotifier;
class QTimer;

// Reading what another client writes into a pipe, within bounds: an owner that never
// writes, writes forever or sends more than the limit ends the read, never the caller.
namespace PipeTransfer {

struct Result
{
    enum class Outcome {
        Complete,  // the writer closed its end
        NoAnswer,  // nothing came within one step
        Stalled,   // it stopped, or ran past the overall deadline, mid-transfer
        Oversized, // more than the limit came
    };
    Outcome outcome = Outcome::Complete;
    QByteArray data;  // what came, when complete
    qint64 bytes = 0; // how much came before the read ended
};

// Reads `fd` to its end and closes it. Each wait for bytes lasts at most `stepMs` and never
// beyond `total`.
Result read(int fd, const QDeadlineTimer &total, int stepMs, qint64 maxBytes);

} // namespace PipeTransfer

// Writes one block of bytes into a pipe from the event loop, never blocking it: a reader that
// takes its time gets the bytes as it reads, one that stops reading for `idleLimitMs` or
// closes its end is given up on. Closes the fd and deletes itself when done.
class PipeWriter : public QObject
{
    Q_OBJECT

public:
    static constexpr int idleLimitMs = 5000;

    // Takes ownership of `fd`.
    static void start(int fd, QByteArray data, QObject *parent);

private:
    PipeWriter(int fd, QByteArray data, QObject *parent);
    ~PipeWriter() override;
    void writeMore();

    int m_fd;
    QByteArray m_data;
    qsizetype m_written = 0;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_idle = nullptr;
};
