// net/: the socket layer under both ports: I/O threads, listeners, connections, the body budget, spare buffers.
// The asynchronous socket layer both engine ports share: I/O threads, listeners, connection
// bookkeeping and the limits every HTTP connection keeps.
#pragma once

#include <utility> // before asio: its awaitable.hpp uses std::exchange without including it

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace standin::net {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// Limits every connection on both ports keeps, so a slow or hostile client holds little.
struct Limits {
    static constexpr std::uint32_t kMaxHeaderBytes = 64 * 1024;
    // Waiting for the next request on a kept-alive connection.
    static constexpr std::chrono::seconds kIdle {30};
    // From the first byte of a request to the end of its header (a header dripped slowly is cut).
    static constexpr std::chrono::seconds kHeader {10};
    // Between two pieces of a body, and for one write to a client that stopped reading.
    static constexpr std::chrono::seconds kProgress {30};
    // Chunk of a streamed body held in memory at once, per direction.
    static constexpr std::size_t kStreamChunk = 64 * 1024;
    // Past this many open connections on one port, the longest idle one is closed for a new one (or the
    // new one, when none is idle).
    static constexpr std::size_t kMaxConnections = 10000;
    // The idle wait once a port holds half its maximum, so a flood of idle connections clears quickly.
    static constexpr std::chrono::seconds kIdleUnderPressure {2};
    // Connections waiting to be accepted.
    static constexpr int kBacklog = 4096;
    // New clients a listener takes at once before its thread serves others again.
    static constexpr int kAcceptsPerTurn = 16;
    // A request body must keep at least this pace once its first seconds are over, so a body trickled a
    // byte at a time cannot hold a connection for ever.
    static constexpr std::chrono::seconds kBodyGrace {20};
    static constexpr std::size_t kMinBodyBytesPerSecond = 500;
    // Descriptors kept out of the connection caps: listeners, files, pipes, the resolver.
    static constexpr std::size_t kReservedDescriptors = 128;
};

// One io_context per thread; connections are spread over them and stay on one thread for life,
// so a connection's own state needs no lock.
class IoPool final {
public:
    explicit IoPool(std::size_t threads);
    ~IoPool();
    IoPool(const IoPool &) = delete;
    IoPool &operator=(const IoPool &) = delete;

    asio::io_context &next();
    // Work that may block (file reads, parsing large documents) runs here, never on an I/O thread.
    asio::thread_pool &blocking() { return m_blocking; }
    void stop();

private:
    std::vector<std::unique_ptr<asio::io_context>> m_contexts;
    std::vector<asio::executor_work_guard<asio::io_context::executor_type>> m_guards;
    std::vector<std::thread> m_threads;
    std::atomic<std::size_t> m_next {0};
    asio::thread_pool m_blocking;
};

// Open connections of one port, so stopping the port closes every one of them, and a full port makes
// room by closing the connection idle the longest.
class ConnectionSet final {
public:
    // When a connection went idle (steady clock ticks), 0 while it is busy, negated while it is quiet
    // (a tunnel or a body that has moved nothing since then), `kClosedMark` once a full port chose it
    // to make room; set without a lock.
    using IdleMark = std::atomic<std::chrono::steady_clock::rep>;
    static constexpr std::chrono::steady_clock::rep kClosedMark = std::numeric_limits<std::chrono::steady_clock::rep>::min();

    // Past `capacity - reserve` connections, each new one closes the longest idle one, so the last
    // `reserve` places stay free for as long as anything idle can make room.
    explicit ConnectionSet(std::size_t capacity = Limits::kMaxConnections, std::size_t reserve = 0);

    // Returns an id, or 0 when the port holds its maximum and none of them is idle. `mark`, when
    // given, receives the connection's idle mark.
    std::uint64_t add(std::function<void()> close, std::shared_ptr<IdleMark> *mark = nullptr);
    void remove(std::uint64_t id);
    // Idle: waiting for a request (or the rest of its header); a new connection is idle from its accept.
    void setIdle(std::uint64_t id, bool idle);
    // False once the connection was chosen to make room: the choice and the connection turning busy
    // are one step, so a connection being closed never starts an exchange.
    static bool setIdle(IdleMark &mark, bool idle);
    // Quiet: a stream that moved nothing since `since`; it counts as idle once that lasted the short
    // idle wait.
    static void setQuiet(IdleMark &mark, std::chrono::steady_clock::time_point since);
    void closeAll();
    std::size_t size() const { return m_count; }
    // How long a kept-alive connection may wait for its next request: shorter once the port fills.
    std::chrono::steady_clock::duration idleWait() const;

private:
    struct Entry {
        std::function<void()> close;
        std::shared_ptr<IdleMark> idleSince;
    };
    // The connection idle the longest, its mark already closed; end() when none is idle enough.
    std::unordered_map<std::uint64_t, Entry>::iterator takeLongestIdle();

    const std::size_t m_capacity;
    const std::size_t m_reserve;
    mutable std::mutex m_mutex;
    std::unordered_map<std::uint64_t, Entry> m_entries;
    std::atomic<std::size_t> m_count {0};
    std::uint64_t m_nextId = 1;
};

enum class PortKind { Control, Proxy };

// The most connections a port holds: `Limits::kMaxConnections`, or less when the test-only variable
// named asks for it (so a test can fill the port), and never more than the descriptor limit allows:
// a passed-through request holds two sockets, one to the client and one to the host.
std::size_t connectionCapacity(const char *testVariable, PortKind kind);
// The same from a given descriptor limit and wanted caps.
std::size_t connectionCapacity(std::size_t descriptors, std::size_t controlWanted, std::size_t proxyWanted,
                               PortKind kind);

// Listens on 127.0.0.1 and hands each accepted socket, already on its own I/O thread, to `onAccept`.
class Listener final {
public:
    using Accept = std::function<void(tcp::socket)>;

    explicit Listener(IoPool &pool);
    ~Listener();

    // Binds without SO_REUSEPORT, so two engines can never split one port; 0 picks a free port.
    bool bind(int port, std::string &error);
    void start(Accept onAccept);
    void stop();
    int port() const { return m_port; }

private:
    IoPool &m_pool;
    asio::io_context &m_context;
    std::shared_ptr<tcp::acceptor> m_acceptor;
    int m_port = 0;
};

// Raises the soft limit on open descriptors to the hard one: desktops often start processes with
// 1024, which a proxy with a few hundred clients and their hosts would soon run out of.
void raiseDescriptorLimit();
// The soft limit on open descriptors as it stands.
std::size_t descriptorLimit();

// Sets TCP_NODELAY: every answer leaves in one write, and waiting on Nagle only adds latency.
void tuneAccepted(tcp::socket &socket);

// Keeps one connection in its ConnectionSet for as long as it lives.
class ConnectionTicket final {
public:
    ConnectionTicket(ConnectionSet &set, std::function<void()> close);
    ~ConnectionTicket();
    ConnectionTicket(const ConnectionTicket &) = delete;
    ConnectionTicket &operator=(const ConnectionTicket &) = delete;
    explicit operator bool() const { return m_id != 0; }
    // False once the port chose this connection to make room (its close is on the way).
    bool setIdle(bool idle) { return !m_idle || ConnectionSet::setIdle(*m_idle, idle); }
    void setQuiet(std::chrono::steady_clock::time_point since)
    {
        if (m_idle)
            ConnectionSet::setQuiet(*m_idle, since);
    }
    std::chrono::steady_clock::duration idleWait() const { return m_set.idleWait(); }

private:
    ConnectionSet &m_set;
    std::shared_ptr<ConnectionSet::IdleMark> m_idle;
    std::uint64_t m_id;
};

// The pace a request body must keep: no piece may take longer than the port's idle wait (short once
// the port fills), and the whole keeps a minimum rate. While a piece is awaited the connection is
// quiet, so a full port can close one stalled mid-body.
class BodyPace final {
public:
    explicit BodyPace(ConnectionTicket *ticket);
    // How long the next piece may take; zero once the body fell behind the minimum rate.
    std::chrono::steady_clock::duration nextWait() const;
    void waiting();
    void received(std::size_t bytes);

private:
    ConnectionTicket *m_ticket;
    const std::chrono::steady_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_lastByte;
    std::size_t m_received = 0;
};

// The time by which a read must have brought something.
using Deadline = std::chrono::steady_clock::time_point;

inline Deadline deadlineAfter(std::chrono::steady_clock::duration wait)
{
    return std::chrono::steady_clock::now() + wait;
}

// How a plain read meets its socket. A host's answer is read `HostAnswerStart` first, right after the
// request went out on a connection just peeked or just made, and `FromHost` after that: such reads
// let the event loop know when they drained the socket, so the answer's first read waits for the
// host instead of first trying in vain (draining_read.h). Every other read goes as Asio's.
enum class ReadKind { Usual, HostAnswerStart, FromHost };

inline ReadKind nextRead(ReadKind kind)
{
    return kind == ReadKind::HostAnswerStart ? ReadKind::FromHost : kind;
}

// A plain connection's read, straight from its socket with one timer: the timed stream's own read wraps
// every read in composed operations that carry type-erased work guards, and hands the socket a buffer
// view, which makes the kernel take its slower vectored path. As with the stream's read, a read that
// outlives `deadline` closes the socket and ends with beast::error::timeout.
asio::awaitable<std::size_t> readPlain(beast::tcp_stream &stream, asio::mutable_buffer space, Deadline deadline,
                                       beast::error_code &ec, ReadKind kind = ReadKind::Usual);

// Reads what has arrived, or waits for it until `deadline`. A timed stream keeps `deadline` as its
// expiry, for whatever step follows without setting one of its own.
template <class Stream>
asio::awaitable<std::size_t> readBytes(Stream &stream, asio::mutable_buffer space, Deadline deadline,
                                       beast::error_code &ec, ReadKind kind = ReadKind::Usual)
{
    if constexpr (std::is_same_v<std::remove_cvref_t<decltype(beast::get_lowest_layer(stream))>, beast::tcp_stream>)
        beast::get_lowest_layer(stream).expires_at(deadline);
    if constexpr (std::is_same_v<Stream, beast::tcp_stream>)
        co_return co_await readPlain(stream, space, deadline, ec, kind);
    else
        co_return co_await stream.async_read_some(space, asio::redirect_error(asio::use_awaitable, ec));
}

// What http::async_read_some does, without its layers of composed operations and without the trip
// through the event loop it makes when the buffer already held what the parser wanted: that is how
// a small answer's body, which came with its header, is taken. Reads only when the parser needs more.
template <class Stream, class Buffer, class Parser>
asio::awaitable<std::size_t> readSome(Stream &stream, Buffer &buffer, Parser &parser, Deadline deadline,
                                      beast::error_code &ec, ReadKind kind = ReadKind::Usual)
{
    ec = {};
    std::size_t used = 0;
    for (bool read = buffer.size() == 0;; read = true) {
        if (read) {
            const std::size_t room = beast::read_size(buffer, 65536);
            std::optional<typename Buffer::mutable_buffers_type> space;
            try {
                if (room > 0)
                    space.emplace(buffer.prepare(room));
            } catch (const std::length_error &) { // past the buffer's limit, as room 0 is
            }
            if (!space) {
                ec = http::error::buffer_overflow;
                co_return used;
            }
            const std::size_t n = co_await readBytes(stream, *space, deadline, ec, kind);
            kind = nextRead(kind);
            buffer.commit(n);
            if (ec == asio::error::eof) {
                ec = {};
                if (parser.got_some())
                    parser.put_eof(ec); // a body that ends with the connection ends here
                else
                    ec = http::error::end_of_stream;
                co_return used;
            }
            if (ec)
                co_return used;
        }
        const std::size_t parsed = parser.put(buffer.data(), ec);
        buffer.consume(parsed);
        used += parsed;
        if (ec != http::error::need_more)
            co_return used;
        ec = {};
    }
}

// What http::async_read_header does, the same way as readSome.
template <class Stream, class Buffer, class Parser>
asio::awaitable<std::size_t> readHeader(Stream &stream, Buffer &buffer, Parser &parser, Deadline deadline,
                                        beast::error_code &ec, ReadKind kind = ReadKind::Usual)
{
    ec = {};
    std::size_t used = 0;
    for (bool first = true; !ec && !parser.is_header_done(); first = false)
        used += co_await readSome(stream, buffer, parser, deadline, ec, first ? kind : nextRead(kind));
    co_return used;
}

// Reads a request body piece by piece at the pace above; `onPiece` sees the body so far after each
// read and returns false to stop. `ec` is `beast::error::timeout` when the body fell behind.
template <class Stream, class Parser, class OnPiece>
asio::awaitable<void> readBodyPaced(Stream &stream, beast::flat_buffer &buffer, Parser &parser, BodyPace &pace,
                                    beast::error_code &ec, OnPiece onPiece)
{
    while (!parser.is_done()) {
        const auto wait = pace.nextWait();
        if (wait <= std::chrono::steady_clock::duration::zero()) {
            ec = beast::error::timeout;
            break;
        }
        pace.waiting();
        const std::size_t n = co_await readSome(stream, buffer, parser, deadlineAfter(wait), ec);
        pace.received(n);
        if (ec || !onPiece())
            break;
    }
}

// Reads the next request header on a kept-alive connection: waits `idleWait` for its first byte, then
// `kHeader` for the rest. Returns false (and `ec`) when the connection ended or a limit was hit.
template <class Stream, class Parser>
asio::awaitable<bool> readRequestHeader(Stream &stream, beast::flat_buffer &buffer, Parser &parser,
                                        beast::error_code &ec,
                                        std::chrono::steady_clock::duration idleWait = Limits::kIdle)
{
    if (buffer.size() == 0) {
        const std::size_t n = co_await readBytes(stream, buffer.prepare(4096), deadlineAfter(idleWait), ec);
        if (ec)
            co_return false;
        buffer.commit(n);
    }
    // A header that came whole (as nearly every one does) is parsed where it lies, without another
    // trip through the event loop.
    const std::string_view held(static_cast<const char *>(buffer.data().data()), buffer.size());
    if (held.find("\r\n\r\n") != std::string_view::npos) {
        const std::size_t used = parser.put(buffer.data(), ec);
        buffer.consume(used);
        if (!ec && parser.is_header_done())
            co_return true;
        if (ec && ec != http::error::need_more)
            co_return false;
        ec = {};
    }
    co_await readHeader(stream, buffer, parser, deadlineAfter(Limits::kHeader), ec);
    co_return !ec;
}

// Sends a whole message with a bound on how long the client may take to take it.
template <class Stream, class Message>
asio::awaitable<bool> writeMessage(Stream &stream, beast::tcp_stream &timed, Message &message)
{
    beast::error_code ec;
    timed.expires_after(Limits::kProgress);
    co_await http::async_write(stream, message, asio::redirect_error(asio::use_awaitable, ec));
    co_return !ec;
}

// What the socket takes of the pieces at once, without waiting; `ec` set when it failed.
std::size_t sendNow(tcp::socket &socket, const asio::const_buffer *pieces, std::size_t count, beast::error_code &ec);

// The part of a write plain TCP takes at once, without waiting (nothing, for other streams): true
// when that was all of it or the write failed. `done` is how much went. A socket nearly always has
// room for a message, so a caller that tries this first seldom waits, nor makes a coroutine to wait in.
template <class Stream, class Buffers>
bool writeAtOnce(Stream &stream, const Buffers &buffers, std::size_t &done, beast::error_code &ec)
{
    done = 0;
    if constexpr (std::is_same_v<Stream, beast::tcp_stream>) {
        std::array<asio::const_buffer, 8> pieces;
        std::size_t count = 0;
        auto piece = asio::buffer_sequence_begin(buffers);
        for (; piece != asio::buffer_sequence_end(buffers) && count < pieces.size(); ++piece)
            pieces[count++] = *piece;
        if (piece != asio::buffer_sequence_end(buffers))
            return false;
        done = sendNow(stream.socket(), pieces.data(), count, ec);
        return ec || done == asio::buffer_size(buffers);
    }
    return false;
}

// What writeAtOnce left of the buffers (past `done`), waited for with a bound on how long the peer may
// take to take it; how much of that went. Setting the bound resets two timers under the reactor's
// lock: only a wait needs one.
template <class Stream, class Buffers>
asio::awaitable<std::size_t> writeRest(Stream &stream, const Buffers &buffers, std::size_t done, beast::error_code &ec)
{
    beast::get_lowest_layer(stream).expires_after(Limits::kProgress);
    if (done == 0)
        co_return co_await asio::async_write(stream, buffers, asio::redirect_error(asio::use_awaitable, ec));
    beast::buffers_suffix<Buffers> rest(buffers);
    rest.consume(done);
    co_return co_await asio::async_write(stream, rest, asio::redirect_error(asio::use_awaitable, ec));
}

// Both: the buffers written whole; how much went.
template <class Stream, class Buffers>
asio::awaitable<std::size_t> writeBuffers(Stream &stream, const Buffers &buffers, beast::error_code &ec)
{
    std::size_t done = 0;
    if (writeAtOnce(stream, buffers, done, ec))
        co_return done;
    co_return done + co_await writeRest(stream, buffers, done, ec);
}

// Reads and drops what the peer still sends, for two seconds and 64 MB at most.
template <class Stream>
asio::awaitable<void> dropIncoming(Stream &stream)
{
    constexpr std::size_t kMaxDrained = 64 * 1024 * 1024;
    std::vector<char> sink(Limits::kStreamChunk);
    std::size_t drained = 0;
    beast::error_code ec;
    beast::get_lowest_layer(stream).expires_after(std::chrono::seconds(2));
    while (!ec && drained < kMaxDrained)
        drained += co_await stream.async_read_some(asio::buffer(sink), asio::redirect_error(asio::use_awaitable, ec));
}

// After refusing a request whose body is still arriving: stop sending, read and drop what the client
// still sends for a moment, so the refusal is read instead of lost to a reset.
asio::awaitable<void> lingeringClose(beast::tcp_stream &stream);

// Why a request's body length is ambiguous, if it is: a request may give it one way only, one
// Content-Length or chunked (last and alone), never both, so no two readers can disagree on it.
std::optional<std::string> framingProblem(const http::request_parser<http::empty_body>::value_type &header);

// Fields by their name's code, walked in order. A message has a few, and Beast's lookups by name
// search a tree comparing names as text, which costs more on every request than the walk.
template <class Fields>
auto findField(Fields &fields, http::field name)
{
    auto at = fields.begin();
    while (at != fields.end() && at->name() != name)
        ++at;
    return at;
}

template <class Fields>
std::size_t countFields(const Fields &fields, http::field name)
{
    std::size_t count = 0;
    for (const auto &field : fields)
        count += field.name() == name;
    return count;
}

template <class Fields>
void eraseFields(Fields &fields, http::field name)
{
    for (auto at = fields.begin(); at != fields.end();)
        at = at->name() == name ? fields.erase(at) : std::next(at);
}

// What Beast's keep_alive() answers for a message of `version` with these fields.
bool keepsAlive(const http::fields &fields, unsigned version);

// Beast's keep_alive(keep) for a message whose Connection field is already gone (dropped as hop by hop).
void markKeepAlive(http::fields &fields, unsigned version, bool keep);

// A malformed message (as opposed to a connection that ended or timed out).
bool isProtocolError(const beast::error_code &ec);

// A JSON error answer in the record form every error of the engine takes.
http::response<http::string_body> jsonError(unsigned version, int status, const std::string &message, bool keepAlive);

} // namespace standin::net
