// Writes to a client or a host: at once when the socket takes it, else waited for with a bound.
#pragma once

#include "net/net_limits.h"

#include <cstddef>
#include <string>
#include <type_traits>

namespace standin::net {

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

// A JSON error answer in the record form every error of the engine takes.
http::response<http::string_body> jsonError(unsigned version, int status, const std::string &message, bool keepAlive);

} // namespace standin::net
