#include "launcher/BusWire.h"

#include <cstring>

namespace BusWire {

namespace {

enum FieldCode : uint8_t {
    Path = 1,
    Interface = 2,
    Member = 3,
    ReplySerial = 5,
    Destination = 6,
    Signature = 8
};

// Replies from the bus are small; anything claiming more is not a bus we understand.
constexpr uint32_t maximumMessage = 1u << 20;

void align(std::string &out, size_t to)
{
    while (out.size() % to != 0)
        out.push_back('\0');
}

void putUint32(std::string &out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

void putField(std::string &out, FieldCode code, char signature, const std::string &text)
{
    align(out, 8);
    out.push_back(static_cast<char>(code));
    out.push_back('\1');
    out.push_back(signature);
    out.push_back('\0');
    align(out, 4);
    putUint32(out, static_cast<uint32_t>(text.size()));
    out += text;
    out.push_back('\0');
}

void putSignatureField(std::string &out, const std::string &signature)
{
    align(out, 8);
    out.push_back(static_cast<char>(Signature));
    out.push_back('\1');
    out.push_back('g');
    out.push_back('\0');
    out.push_back(static_cast<char>(signature.size()));
    out += signature;
    out.push_back('\0');
}

class Reader
{
public:
    Reader(std::string_view bytes, bool bigEndian) : m_bytes(bytes), m_bigEndian(bigEndian) {}

    bool alignTo(size_t to)
    {
        m_at = (m_at + to - 1) / to * to;
        return m_at <= m_bytes.size();
    }
    std::optional<uint8_t> byte()
    {
        if (m_at >= m_bytes.size())
            return std::nullopt;
        return static_cast<uint8_t>(m_bytes[m_at++]);
    }
    std::optional<uint32_t> uint32()
    {
        if (!alignTo(4) || m_bytes.size() - m_at < 4)
            return std::nullopt;
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const auto b = static_cast<uint8_t>(m_bytes[m_at + (m_bigEndian ? i : 3 - i)]);
            value = (value << 8) | b;
        }
        m_at += 4;
        return value;
    }
    bool skip(size_t count)
    {
        if (m_bytes.size() - m_at < count)
            return false;
        m_at += count;
        return true;
    }
    std::string_view take(size_t count)
    {
        if (!skip(count))
            return {};
        return m_bytes.substr(m_at - count, count);
    }
    size_t at() const { return m_at; }

private:
    std::string_view m_bytes;
    bool m_bigEndian;
    size_t m_at = 0;
};

// Skips one header field's value of a single-type signature; false on anything else.
bool skipValue(Reader &reader, char type, std::optional<uint32_t> *asUint32)
{
    switch (type) {
    case 'u': {
        const auto value = reader.uint32();
        if (value && asUint32)
            *asUint32 = value;
        return value.has_value();
    }
    case 's':
    case 'o': {
        const auto length = reader.uint32();
        return length && *length < maximumMessage && reader.skip(size_t(*length) + 1);
    }
    case 'g': {
        const auto length = reader.byte();
        return length && reader.skip(size_t(*length) + 1);
    }
    default:
        return false;
    }
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Bus addresses escape bytes as %XX; a stray % stands for itself.
std::string unescaped(std::string_view value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        const int high = value[i] == '%' && i + 2 < value.size() ? hexDigit(value[i + 1]) : -1;
        const int low = high >= 0 ? hexDigit(value[i + 2]) : -1;
        if (low >= 0) {
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            out.push_back(value[i]);
        }
    }
    return out;
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(separator, start), text.size());
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

} // namespace

std::string encode(const Header &header, const std::optional<std::string> &argument)
{
    std::string out;
    out.push_back('l');
    out.push_back(static_cast<char>(header.type));
    out.push_back('\0'); // flags
    out.push_back('\1'); // protocol version
    putUint32(out, 0);   // the body's length, set below
    putUint32(out, header.serial);
    putUint32(out, 0); // the fields' length, set below
    putField(out, Path, 'o', header.path);
    putField(out, Interface, 's', header.interface);
    putField(out, Member, 's', header.member);
    if (!header.destination.empty())
        putField(out, Destination, 's', header.destination);
    if (argument)
        putSignatureField(out, "s");
    const auto fieldsLength = static_cast<uint32_t>(out.size() - 16);
    for (int i = 0; i < 4; ++i)
        out[12 + i] = static_cast<char>((fieldsLength >> (8 * i)) & 0xff);
    align(out, 8);
    if (argument) {
        const size_t bodyStart = out.size();
        putUint32(out, static_cast<uint32_t>(argument->size()));
        out += *argument;
        out.push_back('\0');
        const auto bodyLength = static_cast<uint32_t>(out.size() - bodyStart);
        for (int i = 0; i < 4; ++i)
            out[4 + i] = static_cast<char>((bodyLength >> (8 * i)) & 0xff);
    }
    return out;
}

Scan scan(std::string_view buffer)
{
    Scan result;
    if (buffer.size() < 16)
        return result;
    const char endian = buffer[0];
    if (endian != 'l' && endian != 'B') {
        result.state = Scan::State::Malformed;
        return result;
    }
    Reader fixed(buffer.substr(0, 16), endian == 'B');
    fixed.skip(4);
    const uint32_t bodyLength = *fixed.uint32();
    fixed.uint32(); // serial
    const uint32_t fieldsLength = *fixed.uint32();
    if (bodyLength > maximumMessage || fieldsLength > maximumMessage) {
        result.state = Scan::State::Malformed;
        return result;
    }
    const size_t headerEnd = (16 + size_t(fieldsLength) + 7) / 8 * 8;
    const size_t size = headerEnd + bodyLength;
    if (buffer.size() < size)
        return result;
    result.size = size;
    result.type = static_cast<uint8_t>(buffer[1]);
    // Field offsets are aligned from the start of the message, so read the header as a whole.
    Reader fields(buffer.substr(0, 16 + fieldsLength), endian == 'B');
    fields.skip(16);
    while (fields.at() < 16 + size_t(fieldsLength)) {
        const auto code = fields.alignTo(8) ? fields.byte() : std::nullopt;
        const auto signatureLength = fields.byte();
        const std::string_view signature =
            signatureLength ? fields.take(*signatureLength) : std::string_view();
        if (!code || !signatureLength || signature.size() != 1 || !fields.skip(1)) {
            result.state = Scan::State::Malformed;
            return result;
        }
        std::optional<uint32_t> value;
        if (!skipValue(fields, signature[0], &value)) {
            result.state = Scan::State::Malformed;
            return result;
        }
        if (*code == ReplySerial && signature[0] == 'u')
            result.replySerial = value;
    }
    result.state = Scan::State::Complete;
    return result;
}

std::vector<SocketAddress> sessionBusSockets(const char *address, const char *runtimeDir)
{
    std::vector<SocketAddress> sockets;
    if (!address || !*address) {
        if (runtimeDir && *runtimeDir)
            sockets.push_back({std::string(runtimeDir) + "/bus", false});
        return sockets;
    }
    for (std::string_view entry : split(address, ';')) {
        const size_t colon = entry.find(':');
        if (colon == std::string_view::npos || entry.substr(0, colon) != "unix")
            continue;
        for (std::string_view pair : split(entry.substr(colon + 1), ',')) {
            const size_t equals = pair.find('=');
            if (equals == std::string_view::npos)
                continue;
            const std::string_view key = pair.substr(0, equals);
            const std::string value = unescaped(pair.substr(equals + 1));
            if (value.empty())
                continue;
            if (key == "path")
                sockets.push_back({value, false});
            else if (key == "abstract")
                sockets.push_back({value, true});
        }
    }
    return sockets;
}

} // namespace BusWire
