// Per-connection handles and the stream steps the proxy's parts share.
#include "proxy_connection.h"

#include "engine_support.h"

#include <set>

namespace standin {

void ProxyConnection::close()
{
    net::beast::error_code ignored;
    if (socket)
        socket->socket().close(ignored);
    if (upstream)
        upstream->socket().close(ignored);
    if (idle)
        idle->lowest().socket().close(ignored);
    if (waiting)
        waiting->cancel();
}

namespace proxy {

bool isHopByHop(std::string_view name)
{
    static const std::set<std::string> kHopByHop = {
        "connection", "proxy-connection", "keep-alive", "proxy-authorization", "proxy-authenticate",
        "te", "trailer", "transfer-encoding", "upgrade",
    };
    return kHopByHop.count(lowerAscii(name)) > 0;
}

bool expectsBody(const http::request_parser<http::empty_body> &parser)
{
    return parser.chunked() || parser.content_length().value_or(0) > 0;
}

void makeRoomForBody(beast::flat_buffer &buffer)
{
    const std::size_t wanted = std::min(net::Limits::kStreamChunk, buffer.max_size());
    if (buffer.capacity() < wanted)
        buffer.reserve(wanted);
}

bool keep(std::string &copy, const char *data, std::size_t size, std::size_t bound)
{
    if (copy.size() >= bound)
        return size == 0;
    const std::size_t room = bound - copy.size();
    copy.append(data, std::min(room, size));
    return size <= room;
}

asio::awaitable<bool> waitCancellably(int milliseconds, ProxyConnection &connection)
{
    // Latency waits on a timer, never on a thread.
    asio::steady_timer timer(co_await asio::this_coro::executor, std::chrono::milliseconds(milliseconds));
    connection.waiting = &timer;
    beast::error_code ec;
    co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ec));
    connection.waiting = nullptr;
    co_return !ec;
}

} // namespace proxy

} // namespace standin
