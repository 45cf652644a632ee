// Per-connection handles and the stream steps the proxy's parts share.
#include "proxy/proxy_connection.h"

#include "core/engine_support.h"

#include <cerrno>
#include <poll.h>
#include <set>
#include <sys/socket.h>

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

namespace {

// Whether the peer has gone: reset, or its sending half closed with nothing left to read (over TLS,
// closed at all).
bool peerGone(int fd, bool tls)
{
    pollfd polled {fd, POLLIN | POLLRDHUP, 0};
    if (::poll(&polled, 1, 0) <= 0)
        return false;
    if (polled.revents & (POLLHUP | POLLERR | POLLNVAL))
        return true;
    if (!(polled.revents & POLLRDHUP))
        return false;
    if (tls)
        return true;
    char byte = 0;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

// How long a watch rests when the client's socket is readable but the client still there (a body
// or the next request arriving), and how often a gone client's connection is closed again while
// the exchange winds down (a host connection may still be opening).
constexpr std::chrono::milliseconds kWatchRest {500};

} // namespace

struct ClientWatch::State : std::enable_shared_from_this<ClientWatch::State> {
    State(ProxyConnection &connection, net::tcp::socket &socket, bool tls)
        : connection(connection)
        , socket(socket)
        , tls(tls)
        , rest(socket.get_executor())
    {
    }

    void arm()
    {
        socket.async_wait(net::tcp::socket::wait_read, [self = shared_from_this()](net::beast::error_code ec) {
            if (!self->active || ec)
                return;
            if (peerGone(self->socket.native_handle(), self->tls)) {
                self->connection.clientGone = true;
                self->closeAgain();
                return;
            }
            self->rest.expires_after(kWatchRest);
            self->rest.async_wait([self](net::beast::error_code waited) {
                if (self->active && !waited)
                    self->arm();
            });
        });
    }

    void closeAgain()
    {
        connection.close();
        rest.expires_after(kWatchRest);
        rest.async_wait([self = shared_from_this()](net::beast::error_code waited) {
            if (self->active && !waited)
                self->closeAgain();
        });
    }

    ProxyConnection &connection;
    net::tcp::socket &socket;
    const bool tls;
    net::asio::steady_timer rest;
    bool active = true;
};

ClientWatch::ClientWatch(ProxyConnection &connection, net::tcp::socket &socket, bool tls)
    : m_state(std::make_shared<State>(connection, socket, tls))
{
    if (socket.is_open())
        m_state->arm();
}

ClientWatch::~ClientWatch()
{
    m_state->active = false;
    m_state->rest.cancel();
    // Nothing else waits on the client's socket once the answer is settled.
    net::beast::error_code ignored;
    if (m_state->socket.is_open())
        m_state->socket.cancel(ignored);
}

namespace proxy {

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
