#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Just enough of the D-Bus wire format to emit one signal without a D-Bus library: the
// launcher that sends it must not pay for loading Qt. Messages are little-endian; their body is
// empty or one string.
namespace BusWire {

enum class MessageType : uint8_t { MethodCall = 1, MethodReturn = 2, Error = 3, Signal = 4 };

struct Header
{
    MessageType type = MessageType::MethodCall;
    uint32_t serial = 1;
    std::string path;
    std::string interface;
    std::string member;
    std::string destination; // empty: none
};

// With an argument, the body is that one string (signature "s").
std::string encode(const Header &header, const std::optional<std::string> &argument = {});

// One message at the front of a buffer of received bytes.
struct Scan
{
    enum class State { Incomplete, Complete, Malformed } state = State::Incomplete;
    size_t size = 0; // of the whole message, once complete
    uint8_t type = 0;
    std::optional<uint32_t> replySerial;
};

Scan scan(std::string_view buffer);

// A socket the session bus listens on.
struct SocketAddress
{
    std::string name;
    bool abstract = false;
};

// The unix-socket addresses of a bus address string ("unix:path=/run/user/1000/bus;..."), in
// order; without one, the usual per-user socket in the runtime folder.
std::vector<SocketAddress> sessionBusSockets(const char *address, const char *runtimeDir);

} // namespace BusWire
