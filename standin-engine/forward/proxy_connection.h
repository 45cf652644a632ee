// What the proxy's session, forwarder and tunnel share about one client connection: the handles a
// stop must reach, and the small stream steps every one of them takes.
#pragma once

#include "core/engine_support.h"
#include "forward/relayed_fields.h"
#include "hosts/upstream.h"
#include "mocks/route_matching.h"
#include "net/body_pace.h"
#include "net/connection_set.h"
#include "net/http_reading.h"
#include "net/http_writing.h"
#include "net/lingering_close.h"
#include "net/spare_blocks.h"
#include "tls/tls_stream.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace standin {

// What stopping the port needs to reach on one connection: its socket, the host's and a latency wait.
struct ProxyConnection {
    net::beast::tcp_stream *socket = nullptr;
    net::beast::tcp_stream *upstream = nullptr;
    net::asio::steady_timer *waiting = nullptr;
    // The last host connection, kept for the client's next request to the same host.
    std::optional<UpstreamConnection> idle;
    std::string idleKey;
    // The kept connection was made for the tunnel and has carried nothing yet: what a TLS host sends
    // right after its handshake (session tickets) is still unread on it, which is no sign of a close.
    bool idleUnused = false;
    // The status line and fields of the answer being sent, kept for the next one's.
    std::string answerHead;
    // The pace of the request body being relayed, from its first piece to its last.
    std::optional<net::BodyPace> pace;
    // The connection's place on its port, for the idle mark a full port chooses whom to close by.
    net::ConnectionTicket *ticket = nullptr;
    // The client went away while an answer was owed to it.
    bool clientGone = false;
    // The host connection the last request switched protocols on (a WebSocket, say), with what the
    // host sent right behind its 101: the two connections are joined once the exchange is over.
    std::optional<UpstreamConnection> upgraded;
    std::string upgradedEarly;

    void close();
    // Reads the next request header with the port's idle wait, marked idle while it waits. False, too,
    // when a full port chose the connection to make room meanwhile: its request is not served, so no
    // host is reached for a client that is being closed.
    template <class Stream, class Parser>
    net::asio::awaitable<bool> readRequestHeader(Stream &stream, net::beast::flat_buffer &buffer, Parser &parser,
                                                 net::beast::error_code &ec)
    {
        if (ticket)
            ticket->setIdle(true);
        const bool read = co_await net::readRequestHeader(stream, buffer, parser, ec,
                                                          ticket ? ticket->idleWait() : net::Limits::kIdle);
        if (ticket && !ticket->setIdle(false)) {
            ec = net::asio::error::operation_aborted;
            co_return false;
        }
        co_return read;
    }
};

// What a kept host connection is filed under: it serves the scheme, host and port it was made for.
std::string keptConnectionKey(std::string_view scheme, const ProxyTarget &target);

// What the history shows for an exchange whose client left before its answer.
constexpr int kClientClosedStatus = 499;
constexpr const char *kClientClosedText = "the client closed the connection before the answer";

class WatchRound;

// While the engine owes the client an answer (a route's latency, a host still answering), watches the
// client's socket for the client going away; then the connection is closed at once, host side
// included, instead of holding both sockets until a timeout. A client that only stopped sending
// (its half of the connection closed, a pipelined request still unread) is still answered over plain
// HTTP; inside TLS that is a goodbye. The socket is watched only once the exchange has lasted
// kWatchAfter: most end sooner, and they then cost no system call.
class ClientWatch final {
public:
    static constexpr std::chrono::milliseconds kWatchAfter {50};

    ClientWatch(ProxyConnection &connection, net::tcp::socket &socket, bool tls);
    ~ClientWatch();
    ClientWatch(const ClientWatch &) = delete;
    ClientWatch &operator=(const ClientWatch &) = delete;

private:
    friend class WatchRound;
    struct State;
    // Starts watching the socket.
    void arm();

    ProxyConnection &m_connection;
    net::tcp::socket &m_socket;
    const bool m_tls;
    // Waiting to be armed, in its thread's round, oldest first.
    WatchRound *m_round = nullptr;
    std::chrono::steady_clock::time_point m_since;
    ClientWatch *m_previous = nullptr;
    ClientWatch *m_next = nullptr;
    std::shared_ptr<State> m_state; // once armed
};

namespace proxy {

namespace asio = net::asio;
namespace beast = net::beast;
namespace http = net::http;

using Chunk = net::PieceBlock;

bool expectsBody(const http::request_parser<http::empty_body> &parser);

// A read takes at most the room a flat buffer already has (or 512 bytes): a buffer about to carry a
// body gets room for a whole piece first, or a megabyte crosses in two thousand reads.
template <class Buffer>
void makeRoomForBody(Buffer &buffer)
{
    const std::size_t wanted = std::min(net::Limits::kStreamChunk, buffer.max_size());
    if (buffer.capacity() < wanted)
        buffer.reserve(wanted);
}

// Appends to a kept copy up to a bound; false once something had to be left out.
bool keep(std::string &copy, const char *data, std::size_t size, std::size_t bound);

// Waits on a timer the connection's stop can cancel; false when it was cancelled.
asio::awaitable<bool> waitCancellably(int milliseconds, ProxyConnection &connection);

// Whether the client waits for a "100 Continue" before it sends the body. An HTTP/1.0 client's
// expectation is ignored: it can't be sent an interim answer (RFC 9110 §10.1.1).
inline bool asksToContinue(const http::request_parser<http::empty_body> &parser)
{
    return parser.get().version() >= 11 && expectsBody(parser)
           && beast::iequals(parser.get()[http::field::expect], "100-continue");
}

template <class Stream>
asio::awaitable<void> sendContinue(Stream &stream)
{
    static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
    beast::error_code ec;
    beast::get_lowest_layer(stream).expires_after(net::Limits::kProgress);
    co_await asio::async_write(stream, asio::buffer(kContinue), asio::redirect_error(asio::use_awaitable, ec));
}

template <class Stream>
asio::awaitable<bool> writeError(Stream &stream, unsigned version, int status, const std::string &message,
                                 bool keepAlive)
{
    auto response = net::jsonError(version, status, message, keepAlive);
    beast::error_code ec;
    beast::get_lowest_layer(stream).expires_after(net::Limits::kProgress);
    co_await http::async_write(stream, response, asio::redirect_error(asio::use_awaitable, ec));
    co_return !ec;
}

// Closes a connection that may still have unread input, so the last answer isn't lost to a reset.
// Meanwhile a full port may close it for a new one (with its `ticket`).
template <class Stream>
asio::awaitable<void> closeGently(Stream &stream, net::ConnectionTicket *ticket = nullptr)
{
    if constexpr (std::is_same_v<Stream, beast::tcp_stream>) {
        co_await net::lingeringClose(stream, ticket);
    } else if constexpr (std::is_same_v<Stream, TlsStream>) {
        // TLS stops sending only by ending the session, at once, so that a client about to send its
        // next request sees the close first, as it sees a plain connection's. What it still sends (the
        // rest of a refused body) is dropped, as plain bytes once the session has ended on it: a
        // client whose bytes meet a closed socket gets a reset, and curl then reports that, not the answer.
        auto &socket = beast::get_lowest_layer(stream);
        if (ticket)
            ticket->setIdleSince(std::chrono::steady_clock::now());
        beast::error_code ec;
        socket.expires_after(std::chrono::seconds(2));
        co_await stream.async_shutdown(asio::redirect_error(asio::use_awaitable, ec));
        if (ec && ec != beast::error::timeout)
            co_await net::dropIncoming(socket, ticket);
        socket.socket().close(ec);
    } else {
        co_await net::dropIncoming(stream, ticket);
    }
}

// Reads one piece of a client's body into `chunk` at the pace a request body must keep (the
// connection's pace, when it has one); returns its size, with `ec` set at a failure.
template <class Stream, class Parser>
asio::awaitable<std::size_t> readPiece(Stream &stream, beast::flat_buffer &buffer, Parser &parser, Chunk &chunk,
                                       ProxyConnection &connection, beast::error_code &ec)
{
    if (!connection.pace)
        connection.pace.emplace(connection.ticket);
    net::BodyPace &pace = *connection.pace;
    parser.get().body().data = chunk.data();
    parser.get().body().size = chunk.size();
    while (!parser.is_done() && parser.get().body().size == chunk.size()) {
        const auto wait = pace.nextWait();
        if (wait <= std::chrono::steady_clock::duration::zero()) {
            ec = beast::error::timeout;
            break;
        }
        pace.waiting();
        const std::size_t n = co_await net::readSome(stream, buffer, parser, net::deadlineAfter(wait), ec);
        if (!pace.received(n)) {
            ec = asio::error::connection_aborted;
            break;
        }
        if (ec == http::error::need_buffer)
            ec = {};
        if (ec)
            break;
    }
    if (parser.is_done() || ec)
        connection.pace.reset();
    co_return chunk.size() - parser.get().body().size;
}

// Reads one piece of a host's body into `chunk`; returns its size, with `ec` set at a failure.
template <class Stream, class Buffer, class Parser>
asio::awaitable<std::size_t> readPiece(Stream &stream, Buffer &buffer, Parser &parser, Chunk &chunk,
                                       std::chrono::steady_clock::duration wait, beast::error_code &ec)
{
    // Whatever has arrived goes on at once (an event stream trickles), but never an empty piece.
    parser.get().body().data = chunk.data();
    parser.get().body().size = chunk.size();
    while (!parser.is_done() && parser.get().body().size == chunk.size()) {
        co_await net::readSome(stream, buffer, parser, net::deadlineAfter(wait), ec, net::ReadKind::FromHost);
        if (ec == http::error::need_buffer)
            ec = {};
        if (ec)
            break;
    }
    co_return chunk.size() - parser.get().body().size;
}

} // namespace proxy

} // namespace standin
