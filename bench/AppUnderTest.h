#pragma once

// The real application binary, run black-box in a private home as a user's session runs it:
// started by exec, watched through its log and /proc, stopped by a signal. Processes are
// started with posix_spawn and followed through a pidfd, so an exit can be waited for in the
// same poll() as X events and nothing but the exec itself lies inside a timed span.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sys/types.h>
#include <thread>
#include <vector>

// A started process: its id and a pidfd that becomes readable when it exits.
class ChildProcess
{
public:
    ChildProcess() = default;
    ChildProcess(pid_t pid, int pidfd) : m_pid(pid), m_pidfd(pidfd) {}
    ChildProcess(ChildProcess &&other) noexcept;
    ChildProcess &operator=(ChildProcess &&other) noexcept;
    ~ChildProcess();

    bool isRunning() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    int pidfd() const { return m_pidfd; }
    // Reaps the process if it has exited within timeoutMs: its exit status, or -1.
    int waitForExit(int timeoutMs);
    // SIGTERM, then SIGKILL when it has not gone after timeoutMs.
    void stop(int timeoutMs = 5000);

private:
    pid_t m_pid = -1;
    int m_pidfd = -1;
};

class AppUnderTest
{
public:
    using Clock = std::chrono::steady_clock;

    explicit AppUnderTest(const QString &binary);
    ~AppUnderTest();

    bool isUsable() const;
    QString homeFolder() const { return m_home.path(); }
    // Where the application keeps its history in this home.
    QString storeFolder() const;
    // A stored preference, as the settings window would have left it.
    void setPreference(const QString &key, const QVariant &value);

    // Starts the application and waits for its launch line, which it writes once capture runs:
    // milliseconds from just before the exec, or -1 when the line did not come in timeoutMs.
    double launch(int timeoutMs = 10000);
    // From the same exec to the launch line, written once the tray and the picker are built.
    double readyMs() const { return m_readyMs; }
    void stop();
    pid_t pid() const { return m_app.pid(); }
    // The launch line as written, and everything else the application logged.
    QByteArray launchLine() const;
    QByteArray log() const;

    // `binary arguments` in the same environment; its output is discarded.
    ChildProcess run(const QStringList &arguments) const;

private:
    void readLog(int fd);

    QString m_binary;
    QTemporaryDir m_home;
    std::vector<QByteArray> m_environment;
    ChildProcess m_app;
    std::thread m_reader;
    int m_stopReader[2] = {-1, -1};
    mutable std::mutex m_mutex;
    std::condition_variable m_launched;
    QByteArray m_log;
    QByteArray m_launchLine;
    Clock::time_point m_launchedAt;
    Clock::time_point m_capturingAt;
    double m_readyMs = -1;
};
