// Kept requests' frames on disk: encoded in one piece, decoded only when the checksum holds.
#include "replay/replay_frames.h"

#include <boost/beast/core/string.hpp>

#include <cstdint>
#include <utility>

namespace standin::replay {

namespace {

namespace beast = boost::beast;

constexpr std::string_view kMagic = "KRQ1";

std::uint64_t checksum(std::string_view bytes)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

// Reads the numbers (little-endian) and sized texts encodeEntry writes; any read past the end leaves it
// not ok.
class FieldReader {
public:
    explicit FieldReader(std::string_view data) : m_data(data) {}
    bool ok() const { return m_ok; }
    bool atEnd() const { return m_data.empty(); }

    std::uint64_t number(int bytes)
    {
        if (m_data.size() < static_cast<std::size_t>(bytes)) {
            m_ok = false;
            return 0;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= static_cast<std::uint64_t>(static_cast<unsigned char>(m_data[static_cast<std::size_t>(i)])) << (8 * i);
        m_data.remove_prefix(static_cast<std::size_t>(bytes));
        return value;
    }

    std::string text()
    {
        const std::uint64_t size = number(4);
        if (!m_ok || m_data.size() < size) {
            m_ok = false;
            return {};
        }
        std::string value(m_data.substr(0, size));
        m_data.remove_prefix(size);
        return value;
    }

private:
    std::string_view m_data;
    bool m_ok = true;
};

} // namespace

std::size_t requestSize(const ProxiedRequest &request)
{
    std::size_t size = request.method.size() + request.target.size() + request.body.size();
    for (const auto &[name, value] : request.headers)
        size += name.size() + value.size();
    return size;
}

std::string encodeEntry(const std::string &id, const std::string &time, const ProxiedRequest &request)
{
    const auto ownCredentials = [](const std::string &name) { return beast::iequals(name, "proxy-authorization"); };
    std::size_t count = 0;
    std::size_t payloadSize = 6 * 4 + id.size() + time.size() + request.method.size() + request.target.size()
                              + request.body.size();
    for (const auto &[name, value] : request.headers) {
        if (ownCredentials(name))
            continue;
        ++count;
        payloadSize += 8 + name.size() + value.size();
    }
    std::string entry(kFrameBytes + payloadSize, '\0');
    char *to = entry.data();
    const auto number = [&](std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            *to++ = static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    const auto text = [&](std::string_view value) {
        number(value.size(), 4);
        std::memcpy(to, value.data(), value.size());
        to += value.size();
    };
    std::memcpy(to, kMagic.data(), kMagic.size());
    to += kMagic.size();
    number(payloadSize, 4);
    char *sum = to;
    to += 8;
    const char *payload = to;
    text(id);
    text(time);
    text(request.method);
    text(request.target);
    number(count, 4);
    for (const auto &[name, value] : request.headers) {
        if (ownCredentials(name))
            continue;
        text(name);
        text(value);
    }
    text(request.body);
    to = sum;
    number(checksum(std::string_view(payload, payloadSize)), 8);
    return entry;
}

std::optional<std::size_t> payloadSize(std::string_view bytes)
{
    if (bytes.size() < kFrameBytes || bytes.substr(0, kMagic.size()) != kMagic)
        return std::nullopt;
    FieldReader frame(bytes.substr(kMagic.size(), 4));
    return static_cast<std::size_t>(frame.number(4));
}

std::optional<DecodedEntry> decodeEntry(std::string_view bytes)
{
    const auto size = payloadSize(bytes);
    if (!size || bytes.size() != kFrameBytes + *size)
        return std::nullopt;
    FieldReader frame(bytes.substr(kMagic.size() + 4, 8));
    const std::string_view payload = bytes.substr(kFrameBytes);
    if (frame.number(8) != checksum(payload))
        return std::nullopt;
    FieldReader fields(payload);
    DecodedEntry entry;
    entry.id = fields.text();
    entry.time = fields.text();
    entry.request.method = fields.text();
    entry.request.target = fields.text();
    const std::uint64_t count = fields.number(4);
    for (std::uint64_t i = 0; fields.ok() && i < count; ++i) {
        std::string name = fields.text();
        std::string value = fields.text();
        entry.request.headers.emplace_back(std::move(name), std::move(value));
    }
    entry.request.body = fields.text();
    if (!fields.ok() || !fields.atEnd())
        return std::nullopt;
    return entry;
}

} // namespace standin::replay
