// I/O threads, listeners and connection bookkeeping for the engine's two ports.
#include "net/net_core.h"
#include "net/draining_read.h"

#include "core/engine_options.h"
#include "core/engine_support.h"

#include "engine/records/error_reply.h"
#include "engine/records/json_rules.h"

#include <cerrno>
#include <cstdlib>
#include <future>
#include <limits>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>

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

ConnectionSet::ConnectionSet(std::size_t capacity, std::size_t reserve)
    : m_capacity(std::max<std::size_t>(capacity, 1))
    , m_reserve(std::min(reserve, m_capacity - 1))
{
}

std::unordered_map<std::uint64_t, ConnectionSet::Entry>::iterator ConnectionSet::takeLongestIdle()
{
    const auto quietEnough = std::chrono::steady_clock::duration(Limits::kIdleUnderPressure).count();
    // A connection may turn busy while it is being chosen: it is taken only while its mark is still the
    // one it was chosen by, else the choice is made again.
    for (;;) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        // Ties go to the older id: connections are added in the order they were accepted.
        auto oldest = m_entries.end();
        std::chrono::steady_clock::rep oldestSince = 0;
        std::chrono::steady_clock::rep oldestMark = 0;
        for (auto entry = m_entries.begin(); entry != m_entries.end(); ++entry) {
            const auto mark = entry->second.idleSince->load();
            auto since = mark;
            if (since < 0) {
                since = -since;
                if (now - since < quietEnough)
                    continue;
            }
            if (since != 0
                && (oldest == m_entries.end() || since < oldestSince
                    || (since == oldestSince && entry->first < oldest->first))) {
                oldest = entry;
                oldestSince = since;
                oldestMark = mark;
            }
        }
        if (oldest == m_entries.end() || oldest->second.idleSince->compare_exchange_strong(oldestMark, kClosedMark))
            return oldest;
    }
}

std::uint64_t ConnectionSet::add(std::function<void()> close, std::shared_ptr<IdleMark> *mark)
{
    std::function<void()> evicted;
    std::uint64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_entries.size() >= m_capacity - m_reserve) {
            if (const auto oldest = takeLongestIdle(); oldest != m_entries.end()) {
                evicted = std::move(oldest->second.close);
                m_entries.erase(oldest);
            } else if (m_entries.size() >= m_capacity) {
                return 0;
            }
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

bool ConnectionSet::setIdle(IdleMark &mark, bool idle)
{
    const auto now = std::max<std::chrono::steady_clock::rep>(1, std::chrono::steady_clock::now().time_since_epoch().count());
    std::chrono::steady_clock::rep current = mark.load();
    for (;;) {
        if (current == kClosedMark)
            return false;
        // Marking an idle connection again keeps its place in line.
        if (idle && current > 0)
            return true;
        if (mark.compare_exchange_weak(current, idle ? now : 0))
            return true;
    }
}

void ConnectionSet::setQuiet(IdleMark &mark, std::chrono::steady_clock::time_point since)
{
    const auto quiet = -std::max<std::chrono::steady_clock::rep>(1, since.time_since_epoch().count());
    std::chrono::steady_clock::rep current = mark.load();
    while (current != kClosedMark && !mark.compare_exchange_weak(current, quiet)) {
    }
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

std::size_t connectionCapacity(std::size_t descriptors, std::size_t controlWanted, std::size_t proxyWanted,
                               PortKind kind)
{
    constexpr std::size_t kFloor = 8;
    const std::size_t budget = descriptors > Limits::kReservedDescriptors + 4 * kFloor
                                   ? descriptors - Limits::kReservedDescriptors
                                   : 4 * kFloor;
    const std::size_t control = std::min(controlWanted, std::max(kFloor, budget / 8));
    if (kind == PortKind::Control)
        return control;
    const std::size_t left = budget > control ? budget - control : 0;
    return std::min(proxyWanted, std::max(kFloor, left / 2));
}

namespace {

std::size_t wantedCapacity(const char *testVariable)
{
    if (const char *text = testVariable ? std::getenv(testVariable) : nullptr; text && *text) {
        const long capacity = std::strtol(text, nullptr, 10);
        if (capacity > 0)
            return static_cast<std::size_t>(capacity);
    }
    return Limits::kMaxConnections;
}

} // namespace

std::size_t connectionCapacity(const char *testVariable, PortKind kind)
{
    const std::size_t wanted = wantedCapacity(testVariable);
    return kind == PortKind::Control
               ? connectionCapacity(descriptorLimit(), wanted, Limits::kMaxConnections, kind)
               : connectionCapacity(descriptorLimit(), Limits::kMaxConnections, wanted, kind);
}

namespace {

std::chrono::steady_clock::duration bodyGrace()
{
    static const std::chrono::steady_clock::duration grace = [] {
        if (const char *text = std::getenv(kTestBodyGraceVariable); text && *text) {
            const long milliseconds = std::strtol(text, nullptr, 10);
            if (milliseconds > 0)
                return std::chrono::steady_clock::duration(std::chrono::milliseconds(milliseconds));
        }
        return std::chrono::steady_clock::duration(Limits::kBodyGrace);
    }();
    return grace;
}

} // namespace

BodyPace::BodyPace(ConnectionTicket *ticket)
    : m_ticket(ticket)
    , m_started(std::chrono::steady_clock::now())
    , m_lastByte(m_started)
{
}

std::chrono::steady_clock::duration BodyPace::nextWait() const
{
    using namespace std::chrono;
    const auto now = steady_clock::now();
    const auto due = m_started + bodyGrace()
                     + duration_cast<steady_clock::duration>(
                         duration<double>(static_cast<double>(m_received) / Limits::kMinBodyBytesPerSecond));
    const steady_clock::duration perPiece = m_ticket ? m_ticket->idleWait() : steady_clock::duration(Limits::kProgress);
    return std::min(perPiece, due - now);
}

void BodyPace::waiting()
{
    if (m_ticket)
        m_ticket->setQuiet(m_lastByte);
}

void BodyPace::received(std::size_t bytes)
{
    if (m_ticket)
        m_ticket->setIdle(false);
    if (bytes == 0)
        return;
    m_received += bytes;
    m_lastByte = std::chrono::steady_clock::now();
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

std::size_t sendNow(tcp::socket &socket, const asio::const_buffer *pieces, std::size_t count, beast::error_code &ec)
{
    iovec vectors[8];
    count = std::min(count, std::size(vectors));
    for (std::size_t i = 0; i < count; ++i)
        vectors[i] = {const_cast<void *>(pieces[i].data()), pieces[i].size()};
    msghdr message {};
    message.msg_iov = vectors;
    message.msg_iovlen = count;
    ssize_t sent;
    do
        sent = ::sendmsg(socket.native_handle(), &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    if (sent >= 0)
        return static_cast<std::size_t>(sent);
    if (errno != EAGAIN && errno != EWOULDBLOCK)
        ec.assign(errno, boost::system::system_category());
    return 0;
}

namespace {

// What a plain read's timer finds when it fires: the read still waiting, or a wake-up that came too late.
struct PlainRead {
    tcp::socket *socket;
    bool waiting = true;
    bool timedOut = false;
};

} // namespace

asio::awaitable<std::size_t> readPlain(beast::tcp_stream &stream, asio::mutable_buffer space, Deadline deadline,
                                       beast::error_code &ec, ReadKind kind)
{
    tcp::socket &socket = stream.socket();
    if (deadline <= std::chrono::steady_clock::now()) {
        beast::error_code ignored;
        socket.close(ignored);
        ec = beast::error::timeout;
        co_return 0;
    }
    const auto read = std::make_shared<PlainRead>(PlainRead {&socket});
    asio::steady_timer timer(socket.get_executor(), deadline);
    // The read may end, and its frame go, before a timer that already fired is heard.
    timer.async_wait([watched = std::weak_ptr<PlainRead>(read)](const beast::error_code &waited) {
        const auto current = watched.lock();
        if (waited || !current || !current->waiting)
            return;
        current->timedOut = true;
        beast::error_code ignored;
        current->socket->close(ignored);
    });
    const std::size_t n = kind == ReadKind::Usual
                              ? co_await socket.async_read_some(space, asio::redirect_error(asio::use_awaitable, ec))
                              : co_await asyncReadDraining(socket, space, kind == ReadKind::FromHost,
                                                           asio::redirect_error(asio::use_awaitable, ec));
    read->waiting = false;
    timer.cancel();
    if (read->timedOut) {
        ec = beast::error::timeout;
        co_return 0;
    }
    co_return n;
}

asio::awaitable<void> lingeringClose(beast::tcp_stream &stream)
{
    beast::error_code ec;
    stream.socket().shutdown(tcp::socket::shutdown_send, ec);
    if (!ec)
        co_await dropIncoming(stream);
    stream.socket().close(ec);
}

std::optional<std::string> framingProblem(const http::request_parser<http::empty_body>::value_type &header)
{
    const auto lengths = countFields(header, http::field::content_length);
    if (lengths > 1
        || (lengths == 1 && findField(header, http::field::content_length)->value().find(',') != beast::string_view::npos))
        return "more than one Content-Length";
    const auto encodings = countFields(header, http::field::transfer_encoding);
    if (encodings > 1)
        return "more than one Transfer-Encoding";
    if (encodings == 1) {
        if (lengths)
            return "both Content-Length and Transfer-Encoding";
        if (!beast::iequals(findField(header, http::field::transfer_encoding)->value(), "chunked"))
            return "a Transfer-Encoding other than chunked";
    }
    return std::nullopt;
}

bool keepsAlive(const http::fields &fields, unsigned version)
{
    const auto connection = findField(fields, http::field::connection);
    if (version < 11)
        return connection != fields.end() && http::token_list {connection->value()}.exists("keep-alive");
    return connection == fields.end() || !http::token_list {connection->value()}.exists("close");
}

void markKeepAlive(http::fields &fields, unsigned version, bool keep)
{
    if (version >= 11 && !keep)
        fields.insert(http::field::connection, "close");
    else if (version < 11 && keep)
        fields.insert(http::field::connection, "keep-alive");
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
