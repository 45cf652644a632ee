// Reading and dropping what a peer still sends, so an answer before a close is read, not lost to a reset.
#pragma once

#include "net/connection_set.h"
#include "net/net_limits.h"

#include <chrono>
#include <cstddef>

namespace standin::net {

// Where the calling thread's connections drop what they read and never look at: shared, so a flood of
// them holds little more than their sockets. Made on the thread's first use.
asio::mutable_buffer droppedBytesSink();

// Reads and drops what the peer still sends, for two seconds and 64 MB at most. The connection is idle
// meanwhile (with its `ticket`): a full port closes it for a new one.
template <class Stream>
asio::awaitable<void> dropIncoming(Stream &stream, ConnectionTicket *ticket = nullptr)
{
    constexpr std::size_t kMaxDrained = 64 * 1024 * 1024;
    const asio::mutable_buffer sink = droppedBytesSink();
    if (ticket)
        ticket->setIdleSince(std::chrono::steady_clock::now());
    std::size_t drained = 0;
    beast::error_code ec;
    beast::get_lowest_layer(stream).expires_after(std::chrono::seconds(2));
    while (!ec && drained < kMaxDrained)
        drained += co_await stream.async_read_some(sink, asio::redirect_error(asio::use_awaitable, ec));
}

// After refusing a request whose body is still arriving: stop sending, read and drop what the client
// still sends for a moment, so the refusal is read instead of lost to a reset.
asio::awaitable<void> lingeringClose(beast::tcp_stream &stream, ConnectionTicket *ticket = nullptr);

} // namespace standin::net
