// Per-connection handles and the stream steps the proxy's parts share.
#include "forward/proxy_connection.h"

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

std::string keptConnectionKey(std::string_view scheme, const ProxyTarget &target)
{
    std::string key(scheme);
    key += "://";
    key += target.hostname;
    key += ':';
    key += std::to_string(target.port);
    return key;
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

// The watches of one I/O thread's exchanges that are not armed yet, oldest first, and the one timer that
// arms those that have lasted kWatchAfter. Lives as long as the thread's I/O context, and is used only
// from that thread.
class WatchRound final : public net::asio::execution_context::service {
public:
    static net::asio::execution_context::id id;

    explicit WatchRound(net::asio::io_context &context)
        : service(context)
        , m_timer(context) // made first, so its service outlives this one
    {
    }

    // The round of the I/O context `socket` belongs to; none (armed at once) on another kind of context.
    static WatchRound *of(net::tcp::socket &socket)
    {
        using Plain = net::asio::io_context::executor_type;
        using Tracked = decltype(net::asio::prefer(std::declval<Plain>(), net::asio::execution::outstanding_work.tracked));
        const auto executor = socket.get_executor();
        net::asio::io_context *context = nullptr;
        if (const auto *plain = executor.target<Plain>())
            context = &plain->context();
        else if (const auto *tracked = executor.target<Tracked>())
            context = &tracked->context();
        return context ? &net::asio::use_service<WatchRound>(*context) : nullptr;
    }

    void add(ClientWatch &watch)
    {
        watch.m_round = this;
        watch.m_since = std::chrono::steady_clock::now();
        watch.m_previous = m_last;
        watch.m_next = nullptr;
        (m_last ? m_last->m_next : m_first) = &watch;
        m_last = &watch;
        if (!m_ticking && !m_shut)
            tickAt(watch.m_since + ClientWatch::kWatchAfter);
    }

    void remove(ClientWatch &watch)
    {
        (watch.m_previous ? watch.m_previous->m_next : m_first) = watch.m_next;
        (watch.m_next ? watch.m_next->m_previous : m_last) = watch.m_previous;
        watch.m_previous = watch.m_next = nullptr;
        watch.m_round = nullptr;
    }

private:
    void shutdown() override
    {
        m_shut = true;
        m_timer.cancel();
    }

    void tickAt(std::chrono::steady_clock::time_point when)
    {
        m_ticking = true;
        m_timer.expires_at(when);
        m_timer.async_wait([this](net::beast::error_code ec) {
            m_ticking = false;
            if (!ec && !m_shut)
                tick();
        });
    }

    void tick()
    {
        const auto now = std::chrono::steady_clock::now();
        while (m_first && now - m_first->m_since >= ClientWatch::kWatchAfter) {
            ClientWatch &due = *m_first;
            remove(due);
            due.arm();
        }
        if (m_first)
            tickAt(m_first->m_since + ClientWatch::kWatchAfter);
    }

    net::asio::steady_timer m_timer;
    ClientWatch *m_first = nullptr;
    ClientWatch *m_last = nullptr;
    bool m_ticking = false;
    bool m_shut = false;
};

net::asio::execution_context::id WatchRound::id;

ClientWatch::ClientWatch(ProxyConnection &connection, net::tcp::socket &socket, bool tls)
    : m_connection(connection)
    , m_socket(socket)
    , m_tls(tls)
{
    if (!socket.is_open())
        return;
    if (WatchRound *round = WatchRound::of(socket))
        round->add(*this);
    else
        arm();
}

void ClientWatch::arm()
{
    if (!m_socket.is_open())
        return;
    m_state = std::make_shared<State>(m_connection, m_socket, m_tls);
    m_state->arm();
}

ClientWatch::~ClientWatch()
{
    if (m_round)
        m_round->remove(*this);
    if (!m_state)
        return;
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
