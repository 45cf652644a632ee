// I/O threads, listeners and connection bookkeeping for the engine's two ports.
#include "net_core.h"

#include "engine_support.h"

#include "engine/records/error_reply.h"
#include "engine/records/json_rules.h"

#include <cstdlib>
#include <future>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>

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

ConnectionSet::ConnectionSet(std::size_t capacity)
    : m_capacity(capacity)
{
}

std::uint64_t ConnectionSet::add(std::function<void()> close, std::shared_ptr<IdleMark> *mark)
{
    std::function<void()> evicted;
    std::uint64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_entries.size() >= m_capacity) {
            auto oldest = m_entries.end();
            std::chrono::steady_clock::rep oldestSince = 0;
            for (auto entry = m_entries.begin(); entry != m_entries.end(); ++entry) {
                const auto since = entry->second.idleSince->load();
                if (since != 0 && (oldest == m_entries.end() || since < oldestSince)) {
                    oldest = entry;
                    oldestSince = since;
                }
            }
            if (oldest == m_entries.end())
                return 0;
            evicted = std::move(oldest->second.close);
            m_entries.erase(oldest);
        }
        id = m_nextId++;
        auto idleSince = std::make_shared<IdleMark>(0);
        if (mark)
            *mark = idleSince;
        m_entries.emplace(id, Entry {std::move(close), std::move(idleSince)});
        m_count = m_entries.size();
    }
    if (evicted)
        evicted();
    return id;
}

void ConnectionSet::remove(std::uint64_t id)
{
    std::lock_guard lock(m_mutex);
    m_entries.erase(id);
    m_count = m_entries.size();
}

void ConnectionSet::setIdle(std::uint64_t id, bool idle)
{
    std::lock_guard lock(m_mutex);
    if (const auto entry = m_entries.find(id); entry != m_entries.end())
        setIdle(*entry->second.idleSince, idle);
}

void ConnectionSet::setIdle(IdleMark &mark, bool idle)
{
    if (!idle) {
        mark = 0;
        return;
    }
    // Marking an idle connection again keeps its place in line.
    std::chrono::steady_clock::rep busy = 0;
    mark.compare_exchange_strong(busy, std::max<std::chrono::steady_clock::rep>(
                                           1, std::chrono::steady_clock::now().time_since_epoch().count()));
}

void ConnectionSet::closeAll()
{
    std::vector<std::function<void()>> closers;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &[id, entry] : m_entries)
            closers.push_back(entry.close);
    }
    for (auto &close : closers)
        close();
}

std::chrono::steady_clock::duration ConnectionSet::idleWait() const
{
    return size() * 2 >= m_capacity ? std::chrono::steady_clock::duration(Limits::kIdleUnderPressure)
                                    : std::chrono::steady_clock::duration(Limits::kIdle);
}

std::size_t connectionCapacity(const char *testVariable)
{
    if (const char *text = std::getenv(testVariable); text && *text) {
        const long capacity = std::strtol(text, nullptr, 10);
        if (capacity > 0)
            return static_cast<std::size_t>(capacity);
    }
    return Limits::kMaxConnections;
}

ConnectionTicket::ConnectionTicket(ConnectionSet &set, std::function<void()> close)
    : m_set(set)
    , m_id(set.add(std::move(close), &m_idle))
{
}

ConnectionTicket::~ConnectionTicket()
{
    if (m_id)
        m_set.remove(m_id);
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
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const rlim_t wanted = std::min<rlim_t>(limit.rlim_max, 65536);
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = wanted;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void tuneAccepted(tcp::socket &socket)
{
    beast::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
}

asio::awaitable<void> lingeringClose(beast::tcp_stream &stream)
{
    beast::error_code ec;
    stream.socket().shutdown(tcp::socket::shutdown_send, ec);
    constexpr std::size_t kMaxDrained = 64 * 1024 * 1024;
    std::vector<char> sink(Limits::kStreamChunk);
    std::size_t drained = 0;
    stream.expires_after(std::chrono::seconds(2));
    while (!ec && drained < kMaxDrained) {
        drained += co_await stream.async_read_some(asio::buffer(sink), asio::redirect_error(asio::use_awaitable, ec));
    }
    stream.socket().close(ec);
}

std::optional<std::string> framingProblem(const http::request_parser<http::empty_body>::value_type &header)
{
    const auto lengths = header.count(http::field::content_length);
    if (lengths > 1 || (lengths == 1 && header[http::field::content_length].find(',') != beast::string_view::npos))
        return "more than one Content-Length";
    const auto encodings = header.count(http::field::transfer_encoding);
    if (encodings > 1)
        return "more than one Transfer-Encoding";
    if (encodings == 1) {
        if (lengths)
            return "both Content-Length and Transfer-Encoding";
        if (!beast::iequals(header[http::field::transfer_encoding], "chunked"))
            return "a Transfer-Encoding other than chunked";
    }
    return std::nullopt;
}

bool isProtocolError(const beast::error_code &ec)
{
    static const auto &category = http::make_error_code(http::error::end_of_stream).category();
    return ec && ec.category() == category && ec != http::error::end_of_stream;
}

http::response<http::string_body> jsonError(unsigned version, int status, const std::string &message, bool keepAlive)
{
    http::response<http::string_body> response {static_cast<http::status>(status), version};
    response.set(http::field::content_type, "application/json");
    response.body() = encodeRecord(ErrorReply {message});
    response.keep_alive(keepAlive);
    response.prepare_payload();
    return response;
}

} // namespace standin::net
