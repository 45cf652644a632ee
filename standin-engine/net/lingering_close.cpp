// Dropping what a peer still sends before a close.
#include "net/lingering_close.h"



namespace standin::net {

asio::mutable_buffer droppedBytesSink()
{
    thread_local std::vector<char> sink(Limits::kStreamChunk);
    return asio::buffer(sink);
}

asio::awaitable<void> lingeringClose(beast::tcp_stream &stream, ConnectionTicket *ticket)
{
    beast::error_code ec;
    stream.socket().shutdown(tcp::socket::shutdown_send, ec);
    if (!ec)
        co_await dropIncoming(stream, ticket);
    stream.socket().close(ec);
}

} // namespace standin::net
