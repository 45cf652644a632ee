// Reads from a client or a host without Beast's composed operations: plain reads with one timer, a
// parser fed from the buffer it has, request headers at the idle wait, bodies at a minimum pace.
#pragma once

#include "net/body_pace.h"
#include "net/connection_set.h"
#include "net/net_limits.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace standin::net {

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
// Of a body, every chunk the buffer holds is taken before it returns: a body sent a byte a chunk would
// otherwise cost its caller a round per byte, and hold its thread for as long as a read took to parse.
template <class Stream, class Buffer, class Parser>
asio::awaitable<std::size_t> readSome(Stream &stream, Buffer &buffer, Parser &parser, Deadline deadline,
                                      beast::error_code &ec, ReadKind kind = ReadKind::Usual)
{
    ec = {};
    std::size_t used = 0;
    const bool inBody = parser.is_header_done();
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
        std::size_t parsed = parser.put(buffer.data(), ec);
        buffer.consume(parsed);
        used += parsed;
        while (!ec && inBody && parsed > 0 && buffer.size() > 0 && !parser.is_done()) {
            parsed = parser.put(buffer.data(), ec);
            buffer.consume(parsed);
            used += parsed;
            if (ec == http::error::need_more) { // a part of a chunk: the rest comes with a later read
                ec = {};
                co_return used;
            }
        }
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
        if (!pace.received(n)) {
            ec = asio::error::connection_aborted;
            break;
        }
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

// framingProblem's reason for codings that end in chunked with one before it this engine can't decode:
// the length is known, so the request is not malformed but one the engine doesn't implement (RFC 9112
// §6.1). Codings that don't end in chunked leave the length unknown, which is malformed (§6.3).
constexpr std::string_view kUnknownTransferCoding = "a transfer coding before chunked that is not supported";

// Why a request's body length is ambiguous, if it is: a request may give it one way only, one
// Content-Length or chunked (last and alone), never both, so no two readers can disagree on it.
std::optional<std::string> framingProblem(const http::request_parser<http::empty_body>::value_type &header);

// A malformed message (as opposed to a connection that ended or timed out).
bool isProtocolError(const beast::error_code &ec);

} // namespace standin::net
