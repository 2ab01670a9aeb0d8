#include "launcher/ShowRequest.h"

#include "launcher/BusWire.h"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace ShowRequest {

namespace {

using Clock = std::chrono::steady_clock;

class Socket
{
public:
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

int connectTo(const BusWire::SocketAddress &address)
{
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    const size_t offset = address.abstract ? 1 : 0;
    if (address.name.size() + offset >= sizeof(where.sun_path))
        return -1;
    std::memcpy(where.sun_path + offset, address.name.data(), address.name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                               address.name.size() + (address.abstract ? 0 : 1));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&where), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

bool writeAll(int fd, const std::string &bytes, Clock::time_point deadline)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (!waitFor(fd, POLLOUT, deadline))
            return false;
    }
    return true;
}

// Appends what the socket has to `buffer`; false once it is closed, broken or time is up.
bool readMore(int fd, std::string &buffer, Clock::time_point deadline)
{
    if (!waitFor(fd, POLLIN, deadline))
        return false;
    char chunk[4096];
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
        buffer.append(chunk, size_t(n));
        return true;
    }
    return n < 0 && (errno == EAGAIN || errno == EINTR);
}

std::string hexOf(const std::string &text)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

bool authenticate(int fd, Clock::time_point deadline)
{
    const std::string request =
        std::string(1, '\0') + "AUTH EXTERNAL " + hexOf(std::to_string(::geteuid())) + "\r\n";
    if (!writeAll(fd, request, deadline))
        return false;
    std::string reply;
    while (reply.find("\r\n") == std::string::npos) {
        if (reply.size() > 512 || !readMore(fd, reply, deadline))
            return false;
    }
    return reply.rfind("OK ", 0) == 0;
}

std::string messages(const std::string &activationToken)
{
    const std::string bus = "org.freedesktop.DBus";
    std::string out = "BEGIN\r\n";
    out += BusWire::encode(
        {BusWire::MessageType::MethodCall, 1, "/org/freedesktop/DBus", bus, "Hello", bus});
    // Without a token the signal keeps its old, empty form, which any running version takes.
    out += BusWire::encode(
        {BusWire::MessageType::Signal, 2, "/org/brisel/Ulvane", "org.brisel.Ulvane", "show", {}},
        activationToken.empty() ? std::nullopt : std::optional<std::string>(activationToken));
    // The bus handles one connection's messages in order: once this call is answered, the
    // signal has been routed and exiting cannot drop it.
    out += BusWire::encode(
        {BusWire::MessageType::MethodCall, 3, "/org/freedesktop/DBus", bus, "GetId", bus});
    return out;
}

bool awaitAnswerTo(uint32_t serial, int fd, Clock::time_point deadline)
{
    std::string buffer;
    for (;;) {
        const BusWire::Scan scan = BusWire::scan(buffer);
        if (scan.state == BusWire::Scan::State::Malformed)
            return false;
        if (scan.state == BusWire::Scan::State::Complete) {
            if (scan.replySerial == serial)
                return scan.type == uint8_t(BusWire::MessageType::MethodReturn);
            buffer.erase(0, scan.size);
            continue;
        }
        if (!readMore(fd, buffer, deadline))
            return false;
    }
}

} // namespace

std::string activationToken()
{
    const char *token = std::getenv("XDG_ACTIVATION_TOKEN");
    return token ? std::string(token) : std::string();
}

bool send(int timeoutMs, const std::string &activationToken)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (const BusWire::SocketAddress &address : BusWire::sessionBusSockets(
             std::getenv("DBUS_SESSION_BUS_ADDRESS"), std::getenv("XDG_RUNTIME_DIR"))) {
        const Socket socket(connectTo(address));
        if (socket.fd() < 0)
            continue;
        return authenticate(socket.fd(), deadline) &&
               writeAll(socket.fd(), messages(activationToken), deadline) &&
               awaitAnswerTo(3, socket.fd(), deadline);
    }
    return false;
}

} // namespace ShowRequest
