#include "AppUnderTest.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QSettings>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QByteArray launchMarker = "[App] launched";
// Written the moment capture runs, before the tray and the picker are built.
const QByteArray captureMarker = "[Monitor] started";

std::vector<char *> pointers(std::vector<QByteArray> &strings)
{
    std::vector<char *> list;
    for (QByteArray &string : strings)
        list.push_back(string.data());
    list.push_back(nullptr);
    return list;
}

// Starts `program arguments`; stderrFd, when given, becomes the child's standard error.
// Standard output goes nowhere: the benchmark table owns ours.
ChildProcess spawn(const QString &program, const QStringList &arguments,
                   std::vector<QByteArray> environment, int stderrFd)
{
    std::vector<QByteArray> argv{QFile::encodeName(program)};
    for (const QString &argument : arguments)
        argv.push_back(argument.toLocal8Bit());
    std::vector<char *> argvPointers = pointers(argv);
    std::vector<char *> envPointers = pointers(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (stderrFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv.front().constData(), &actions, nullptr,
                                  argvPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return {};
    const int pidfd = int(syscall(SYS_pidfd_open, pid, 0));
    return ChildProcess(pid, pidfd);
}

} // namespace

ChildProcess::ChildProcess(ChildProcess &&other) noexcept
    : m_pid(std::exchange(other.m_pid, -1)), m_pidfd(std::exchange(other.m_pidfd, -1))
{}

ChildProcess &ChildProcess::operator=(ChildProcess &&other) noexcept
{
    if (this != &other) {
        stop();
        m_pid = std::exchange(other.m_pid, -1);
        m_pidfd = std::exchange(other.m_pidfd, -1);
    }
    return *this;
}

ChildProcess::~ChildProcess()
{
    stop();
}

int ChildProcess::waitForExit(int timeoutMs)
{
    if (m_pid <= 0)
        return -1;
    if (m_pidfd >= 0) {
        pollfd exited{m_pidfd, POLLIN, 0};
        if (::poll(&exited, 1, timeoutMs) <= 0)
            return -1;
    }
    int status = 0;
    // Without a pidfd the wait simply blocks; every kernel this runs on has one.
    if (::waitpid(m_pid, &status, 0) != m_pid)
        return -1;
    m_pid = -1;
    if (m_pidfd >= 0)
        ::close(std::exchange(m_pidfd, -1));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ChildProcess::stop(int timeoutMs)
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    if (waitForExit(timeoutMs) < 0 && m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        waitForExit(-1);
    }
}

AppUnderTest::AppUnderTest(const QString &binary) : m_binary(binary)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_home.path());
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_home.path() + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       m_home.path() + QStringLiteral("/config"));
    for (const QString &variable : environment.toStringList())
        m_environment.push_back(variable.toLocal8Bit());
}

AppUnderTest::~AppUnderTest()
{
    stop();
}

bool AppUnderTest::isUsable() const
{
    return m_home.isValid() && QFile::exists(m_binary);
}

QString AppUnderTest::storeFolder() const
{
    return m_home.path() + QStringLiteral("/data/Vesk");
}

void AppUnderTest::setPreference(const QString &key, const QVariant &value)
{
    QSettings settings(m_home.path() + QStringLiteral("/config/ulvane/ulvane.conf"),
                       QSettings::IniFormat);
    settings.setValue(key, value);
}

double AppUnderTest::launch(int timeoutMs)
{
    stop();
    int logPipe[2];
    if (::pipe2(logPipe, O_CLOEXEC) != 0 || ::pipe2(m_stopReader, O_CLOEXEC) != 0)
        return -1;
    {
        std::lock_guard lock(m_mutex);
        m_log.clear();
        m_launchLine.clear();
        m_capturingAt = Clock::time_point();
    }
    const Clock::time_point started = Clock::now();
    m_app = spawn(m_binary, {}, m_environment, logPipe[1]);
    ::close(logPipe[1]);
    m_reader = std::thread([this, fd = logPipe[0]] { readLog(fd); });
    if (!m_app.isRunning())
        return -1;
    std::unique_lock lock(m_mutex);
    if (!m_launched.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return !m_launchLine.isEmpty(); }))
        return -1;
    m_readyMs = std::chrono::duration<double, std::milli>(m_launchedAt - started).count();
    if (m_capturingAt == Clock::time_point())
        return -1;
    return std::chrono::duration<double, std::milli>(m_capturingAt - started).count();
}

void AppUnderTest::stop()
{
    m_app.stop();
    if (m_reader.joinable()) {
        // Whatever else still holds the pipe's other end, the reader leaves now.
        const char stopByte = 0;
        if (::write(m_stopReader[1], &stopByte, 1) < 0)
            ::perror("ulvane-bench: log reader");
        m_reader.join();
    }
    for (int &fd : m_stopReader) {
        if (fd >= 0)
            ::close(std::exchange(fd, -1));
    }
}

QByteArray AppUnderTest::launchLine() const
{
    std::lock_guard lock(m_mutex);
    return m_launchLine;
}

QByteArray AppUnderTest::log() const
{
    std::lock_guard lock(m_mutex);
    return m_log;
}

ChildProcess AppUnderTest::run(const QStringList &arguments) const
{
    return spawn(m_binary, arguments, m_environment, -1);
}

void AppUnderTest::readLog(int fd)
{
    // Read all along, so the application never blocks on a full pipe; the launch line is
    // stamped the moment it arrives.
    pollfd fds[2] = {{fd, POLLIN, 0}, {m_stopReader[0], POLLIN, 0}};
    char buffer[4096];
    for (;;) {
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        if (fds[1].revents)
            break;
        if (!fds[0].revents)
            continue;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        const Clock::time_point now = Clock::now();
        std::lock_guard lock(m_mutex);
        const qsizetype scanFrom = qMax<qsizetype>(0, m_log.size() - launchMarker.size());
        m_log.append(buffer, got);
        if (m_capturingAt == Clock::time_point() &&
            m_log.indexOf(captureMarker, qMax<qsizetype>(0, scanFrom - captureMarker.size())) >= 0)
            m_capturingAt = now;
        const qsizetype marker = m_log.indexOf(launchMarker, scanFrom);
        if (m_launchLine.isEmpty() && marker >= 0) {
            const qsizetype lineStart = m_log.lastIndexOf('\n', marker) + 1;
            const qsizetype lineEnd = m_log.indexOf('\n', marker);
            m_launchLine = m_log.mid(lineStart, lineEnd < 0 ? -1 : lineEnd - lineStart);
            m_launchedAt = now;
            m_launched.notify_all();
        }
    }
    ::close(fd);
}
