// Reading a ClientHello's offered protocols from its records (RFC 8446 §4.1.2, RFC 7301).
#include "tls/client_hello.h"

#include <optional>
#include <string>

namespace standin {

namespace {

constexpr unsigned char kHandshakeRecord = 0x16;
constexpr unsigned char kClientHello = 0x01;
constexpr unsigned kAlpnExtension = 16;
constexpr std::string_view kHttp1 = "http/1.1";

// Takes fields from the front of a message, each with its length prefix; empty once it ran short.
class Fields {
public:
    explicit Fields(std::string_view bytes)
        : m_bytes(bytes)
    {
    }
    std::optional<unsigned> number(std::size_t width)
    {
        if (m_bytes.size() < width)
            return std::nullopt;
        unsigned value = 0;
        for (std::size_t i = 0; i < width; ++i)
            value = value << 8 | static_cast<unsigned char>(m_bytes[i]);
        m_bytes.remove_prefix(width);
        return value;
    }
    std::optional<std::string_view> bytes(std::size_t size)
    {
        if (m_bytes.size() < size)
            return std::nullopt;
        const std::string_view taken = m_bytes.substr(0, size);
        m_bytes.remove_prefix(size);
        return taken;
    }
    // A field whose length comes first, in `width` bytes.
    std::optional<std::string_view> prefixed(std::size_t width)
    {
        const auto size = number(width);
        return size ? bytes(*size) : std::nullopt;
    }
    bool empty() const { return m_bytes.empty(); }

private:
    std::string_view m_bytes;
};

// The protocol names of an ALPN extension's body; nothing when it is malformed.
std::optional<ClientHelloOffer> alpnOffer(std::string_view body)
{
    Fields extension(body);
    const auto list = extension.prefixed(2);
    if (!list || !extension.empty())
        return std::nullopt;
    ClientHelloOffer offer;
    offer.status = ClientHelloOffer::Status::Read;
    Fields names(*list);
    while (!names.empty()) {
        const auto name = names.prefixed(1);
        if (!name || name->empty())
            return std::nullopt;
        offer.offersAlpn = true;
        offer.offersHttp1 = offer.offersHttp1 || *name == kHttp1;
    }
    return offer;
}

// The offer of a whole ClientHello body.
ClientHelloOffer offerOf(std::string_view body)
{
    constexpr ClientHelloOffer unreadable {ClientHelloOffer::Status::Unreadable};
    Fields hello(body);
    // legacy_version, random, legacy_session_id, cipher_suites, legacy_compression_methods
    if (!hello.bytes(2 + 32) || !hello.prefixed(1) || !hello.prefixed(2) || !hello.prefixed(1))
        return unreadable;
    ClientHelloOffer offer {ClientHelloOffer::Status::Read};
    if (hello.empty()) // no extensions at all
        return offer;
    const auto extensionList = hello.prefixed(2);
    if (!extensionList || !hello.empty())
        return unreadable;
    Fields extensions(*extensionList);
    while (!extensions.empty()) {
        const auto type = extensions.number(2);
        const auto extension = extensions.prefixed(2);
        if (!type || !extension)
            return unreadable;
        if (*type == kAlpnExtension) {
            const auto alpn = alpnOffer(*extension);
            return alpn ? *alpn : unreadable;
        }
    }
    return offer;
}

} // namespace

ClientHelloOffer readClientHelloOffer(std::string_view bytes)
{
    // The handshake message, put together from the records it spans.
    std::string message;
    Fields records(bytes);
    while (!records.empty()) {
        const auto type = records.number(1);
        if (type && *type != kHandshakeRecord)
            return {ClientHelloOffer::Status::Unreadable};
        const auto version = records.number(2);
        const auto fragment = records.prefixed(2);
        if (!type || !version || !fragment)
            break; // the record goes on past the bytes so far
        message.append(*fragment);
        if (message.size() >= 4) {
            Fields handshake(message);
            const auto kind = handshake.number(1);
            const auto length = handshake.number(3);
            if (*kind != kClientHello)
                return {ClientHelloOffer::Status::Unreadable};
            if (const auto body = handshake.bytes(*length))
                return offerOf(*body);
        }
    }
    return {};
}

} // namespace standin
