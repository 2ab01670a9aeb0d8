#include "platform/wayland/PipeTransfer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace PipeTransfer {

Result read(int fd, const QDeadlineTimer &total, int stepMs, qint64 maxBytes)
{
    Result result;
    QByteArray data;
    char buffer[64 * 1024];
    for (;;) {
        const qint64 left = total.remainingTime(); // negative: no overall deadline
        const qint64 wait = left < 0 ? stepMs : std::min<qint64>(stepMs, left);
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(wait));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            result.outcome = data.isEmpty() ? Result::Outcome::NoAnswer : Result::Outcome::Stalled;
            break;
        }
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0) {
            // End of file, or a writer that went away: what came is what there is.
            result.outcome = Result::Outcome::Complete;
            break;
        }
        if (data.size() + got > maxBytes) {
            result.outcome = Result::Outcome::Oversized;
            result.bytes = data.size() + got;
            ::close(fd);
            return result;
        }
        data.append(buffer, got);
    }
    ::close(fd);
    result.bytes = data.size();
    if (result.outcome == Result::Outcome::Complete)
        result.data = std::move(data);
    return result;
}

} // namespace PipeTransfer

namespace {

// A reader that closes its end early must cost a failed write, not the process.
void ignoreBrokenPipes()
{
    static const bool done = [] {
        struct sigaction current
        {
        };
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            struct sigaction ignore
            {
            };
            ignore.sa_handler = SIG_IGN;
            ::sigemptyset(&ignore.sa_mask);
            ::sigaction(SIGPIPE, &ignore, nullptr);
        }
        return true;
    }();
    Q_UNUSED(done);
}

} // namespace

void PipeWriter::start(int fd, QByteArray data, QObject *parent)
{
    ignoreBrokenPipes();
    new PipeWriter(fd, std::move(data), parent);
}

PipeWriter::PipeWriter(int fd, QByteArray data, QObject *parent)
    : QObject(parent), m_fd(fd), m_data(std::move(data))
{
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PipeWriter::writeMore);
    m_idle = new QTimer(this);
    m_idle->setSingleShot(true);
    m_idle->setInterval(idleLimitMs);
    connect(m_idle, &QTimer::timeout, this, &QObject::deleteLater);
    m_idle->start();
    writeMore();
}

PipeWriter::~PipeWriter()
{
    delete m_notifier;
    ::close(m_fd);
}

void PipeWriter::writeMore()
{
    while (m_written < m_data.size()) {
        const ssize_t put =
            ::write(m_fd, m_data.constData() + m_written, m_data.size() - m_written);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno == EAGAIN) {
            m_idle->start();
            return; // the notifier calls again once the reader has made room
        }
        if (put <= 0)
            break;
        m_written += put;
    }
    m_notifier->setEnabled(false);
    deleteLater();
}
