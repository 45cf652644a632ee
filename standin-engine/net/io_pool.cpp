// I/O threads, listeners and the descriptor limit.
#include "net/io_pool.h"

#include <cerrno>
#include <future>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>

namespace standin::net {

IoPool::IoPool(std::size_t threads)
    : m_blocking(16)
{
    threads = std::max<std::size_t>(threads, 2);
    for (std::size_t i = 0; i < threads; ++i) {
        m_contexts.push_back(std::make_unique<asio::io_context>(1));
        m_guards.push_back(asio::make_work_guard(*m_contexts.back()));
    }
    for (auto &context : m_contexts) {
        asio::io_context *raw = context.get();
        m_threads.emplace_back([raw] { raw->run(); });
    }
}

IoPool::~IoPool()
{
    stop();
}

asio::io_context &IoPool::next()
{
    return *m_contexts[m_next++ % m_contexts.size()];
}

void IoPool::stop()
{
    for (auto &context : m_contexts)
        context->stop();
    for (auto &thread : m_threads) {
        if (thread.joinable())
            thread.join();
    }
    m_blocking.stop();
    m_blocking.join();
    // Connections still pending end here, while the servers they belong to are still alive.
    m_guards.clear();
    m_contexts.clear();
}

Listener::Listener(IoPool &pool)
    : m_pool(pool)
    , m_context(pool.next())
{
}

Listener::~Listener()
{
    stop();
}

bool Listener::bind(int port, std::string &error)
{
    auto acceptor = std::make_shared<tcp::acceptor>(m_context);
    beast::error_code ec;
    const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), static_cast<unsigned short>(port));
    acceptor->open(endpoint.protocol(), ec);
    if (!ec)
        acceptor->set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
        acceptor->bind(endpoint, ec);
    if (!ec)
        acceptor->listen(Limits::kBacklog, ec);
    if (!ec)
        acceptor->non_blocking(true, ec); // so a turn can take what waits without waiting for more
    if (ec) {
        error = "port " + std::to_string(port) + " is already in use or not available (" + ec.message() + ")";
        return false;
    }
    m_port = acceptor->local_endpoint().port();
    m_acceptor = std::move(acceptor);
    return true;
}

void Listener::start(Accept onAccept)
{
    auto acceptor = m_acceptor;
    if (!acceptor)
        return;
    IoPool *pool = &m_pool;
    asio::co_spawn(
        m_context,
        [acceptor, pool, onAccept = std::move(onAccept)]() -> asio::awaitable<void> {
            for (;;) {
                beast::error_code ec;
                tcp::socket socket = co_await acceptor->async_accept(pool->next(),
                                                                     asio::redirect_error(asio::use_awaitable, ec));
                if (ec == asio::error::operation_aborted || !acceptor->is_open())
                    co_return;
                if (ec) {
                    // Out of descriptors and the like: wait a little instead of spinning.
                    asio::steady_timer pause(co_await asio::this_coro::executor, std::chrono::milliseconds(50));
                    co_await pause.async_wait(asio::redirect_error(asio::use_awaitable, ec));
                    continue;
                }
                tuneAccepted(socket);
                onAccept(std::move(socket));
                // The listener shares its thread with connections: taking one client per turn of a busy
                // loop would keep the last of a thousand new clients waiting for seconds.
                for (int more = 0; more < Limits::kAcceptsPerTurn; ++more) {
                    tcp::socket next(pool->next());
                    acceptor->accept(next, ec);
                    if (ec)
                        break; // nothing more waiting (or a fault, which the next async accept meets)
                    tuneAccepted(next);
                    onAccept(std::move(next));
                }
            }
        },
        asio::detached);
}

void Listener::stop()
{
    auto acceptor = std::move(m_acceptor);
    if (!acceptor)
        return;
    auto closed = std::make_shared<std::promise<void>>();
    auto done = closed->get_future();
    asio::post(m_context, [acceptor, closed] {
        beast::error_code ignored;
        acceptor->close(ignored);
        closed->set_value();
    });
    // The context may already be stopped at exit; then nothing waits on the acceptor anyway.
    if (done.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
        beast::error_code ignored;
        acceptor->close(ignored);
    }
}

void raiseDescriptorLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        // An unlimited hard limit still stops at the kernel's own bound.
        limit.rlim_cur = 1024 * 1024;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::size_t descriptorLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::numeric_limits<std::size_t>::max();
    return static_cast<std::size_t>(limit.rlim_cur);
}

void tuneAccepted(tcp::socket &socket)
{
    beast::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
}

} // namespace standin::net
