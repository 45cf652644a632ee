// Telling what a tunnel carries from its first bytes.
#include "proxy/tunnel_opening.h"

#include "core/test_switches.h"
#include "net/connection_set.h"
#include "net/http_reading.h"
#include "proxy/readable_wait.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <poll.h>

namespace standin {

namespace {

namespace asio = net::asio;
namespace beast = net::beast;
using net::Limits;

bool isTokenChar(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
           || std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

// What a request target may hold, as the request reader takes it: no blanks, no controls.
bool isTargetChar(unsigned char c)
{
    return c > 0x20 && c != 0x7f;
}

// For a test only: holds the stream's I/O thread once its waits are set until `deadline` is past and
// the client has spoken, so that both waits end in one turn of the thread.
void holdThreadPast(beast::tcp_stream &stream, net::Deadline deadline)
{
    asio::post(stream.get_executor(), [fd = stream.socket().native_handle(), deadline] {
        std::this_thread::sleep_until(deadline + std::chrono::milliseconds(10));
        pollfd polled {fd, POLLIN, 0};
        ::poll(&polled, 1, 10000);
    });
}

// Reads on into `buffer` at a header's pace until `enough` says the bytes so far tell what is wanted,
// the buffer holds as much as a header may, or the client stops sending; false when it went.
template <class Enough>
asio::awaitable<bool> readOn(beast::tcp_stream &stream, beast::flat_buffer &buffer, Enough enough)
{
    beast::error_code ec;
    const net::Deadline deadline = net::deadlineAfter(Limits::kHeader);
    for (;;) {
        if (enough(std::string_view(static_cast<const char *>(buffer.data().data()), buffer.size()))
            || buffer.size() >= Limits::kMaxHeaderBytes)
            co_return true;
        if (!co_await waitReadable(stream, deadline, ec))
            co_return !ec;
        const std::size_t n = stream.socket().read_some(buffer.prepare(4096), ec);
        if (ec)
            co_return false;
        buffer.commit(n);
    }
}

} // namespace

TunnelOpening classifyOpening(std::string_view bytes)
{
    if (!bytes.empty() && static_cast<unsigned char>(bytes[0]) == 0x16) { // a TLS handshake record
        if (bytes.size() < 2)
            return TunnelOpening::Undecided;
        return bytes[1] == 0x03 ? TunnelOpening::Tls : TunnelOpening::Other;
    }
    // Blank lines before a request are allowed and skipped.
    bytes.remove_prefix(std::min(bytes.size(), bytes.find_first_not_of("\r\n")));
    std::size_t at = 0;
    const auto run = [&](auto accepts) {
        const std::size_t start = at;
        while (at < bytes.size() && accepts(static_cast<unsigned char>(bytes[at])))
            ++at;
        return at - start;
    };
    // method SP target SP "HTTP/1." DIGIT CRLF (or a bare LF): this engine reads HTTP/1 only.
    for (const auto part : {isTokenChar, isTargetChar}) {
        const std::size_t length = run(part);
        if (at == bytes.size())
            return TunnelOpening::Undecided;
        if (length == 0 || bytes[at] != ' ')
            return TunnelOpening::Other;
        ++at;
    }
    const std::string_view rest = bytes.substr(at);
    static constexpr std::string_view kVersion = "HTTP/1.";
    const std::size_t compared = std::min(rest.size(), kVersion.size());
    if (rest.substr(0, compared) != kVersion.substr(0, compared))
        return TunnelOpening::Other;
    if (rest.size() <= kVersion.size())
        return TunnelOpening::Undecided;
    if (rest[kVersion.size()] < '0' || rest[kVersion.size()] > '9')
        return TunnelOpening::Other;
    const std::string_view end = rest.substr(kVersion.size() + 1);
    if (end.empty() || end == "\r")
        return TunnelOpening::Undecided;
    return end[0] == '\n' || end.substr(0, 2) == "\r\n" ? TunnelOpening::Http : TunnelOpening::Other;
}

asio::awaitable<TunnelOpening> readOpening(beast::tcp_stream &stream, beast::flat_buffer &buffer,
                                           net::ConnectionTicket *ticket, bool waitsForClient)
{
    beast::error_code ec;
    if (waitsForClient) {
        const auto stall = testSwitches().openingStall;
        const auto wait = stall ? *stall
                                : std::min<std::chrono::steady_clock::duration>(
                                      kClientSpeaksWithin,
                                      ticket ? ticket->idleWait() : std::chrono::steady_clock::duration(Limits::kIdle));
        const net::Deadline deadline = net::deadlineAfter(wait);
        if (stall)
            holdThreadPast(stream, deadline);
        const bool spoke = co_await waitReadable(stream, deadline, ec);
        // A tunnel a full port chose to make room meanwhile ends here.
        if ((ticket && !ticket->setIdle(false)) || ec)
            co_return TunnelOpening::Closed;
        if (!spoke)
            co_return TunnelOpening::Silent;
    }
    // The rest of a request line comes at a header's pace.
    TunnelOpening opening = TunnelOpening::Undecided;
    const bool spoke = co_await readOn(stream, buffer, [&](std::string_view bytes) {
        opening = classifyOpening(bytes);
        return opening != TunnelOpening::Undecided;
    });
    if (!spoke)
        co_return TunnelOpening::Closed;
    // Bytes that stop short, or a line too long for the request reader, are the request reader's to refuse.
    co_return opening == TunnelOpening::Undecided ? TunnelOpening::Http : opening;
}

asio::awaitable<std::optional<ClientHelloOffer>> readClientHello(beast::tcp_stream &stream,
                                                                 beast::flat_buffer &buffer)
{
    ClientHelloOffer offer;
    const bool spoke = co_await readOn(stream, buffer, [&](std::string_view bytes) {
        offer = readClientHelloOffer(bytes);
        return offer.status != ClientHelloOffer::Status::Incomplete;
    });
    if (!spoke)
        co_return std::nullopt;
    co_return offer;
}

} // namespace standin
