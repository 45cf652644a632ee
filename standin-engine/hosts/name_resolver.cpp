// Concurrent host name lookups on a c-ares channel served by one thread, with a deadline each.
#include "hosts/name_resolver.h"

#include "core/engine_support.h"
#include "core/test_switches.h"

#include <ares.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace standin {

namespace {

namespace asio = net::asio;
namespace beast = net::beast;
using net::tcp;

struct Pending {
    NameResolver::Done done;
    int port = 0;
};

void onAnswer(void *argument, int status, int, ares_addrinfo *result)
{
    std::unique_ptr<Pending> pending(static_cast<Pending *>(argument));
    std::vector<tcp::endpoint> endpoints;
    std::string error;
    if (status == ARES_SUCCESS && result) {
        for (const ares_addrinfo_node *node = result->nodes; node; node = node->ai_next) {
            if (node->ai_family == AF_INET && node->ai_addrlen >= sizeof(sockaddr_in)) {
                const auto *address = reinterpret_cast<const sockaddr_in *>(node->ai_addr);
                asio::ip::address_v4::bytes_type bytes;
                std::memcpy(bytes.data(), &address->sin_addr, bytes.size());
                endpoints.emplace_back(asio::ip::address_v4(bytes), static_cast<unsigned short>(pending->port));
            } else if (node->ai_family == AF_INET6 && node->ai_addrlen >= sizeof(sockaddr_in6)) {
                const auto *address = reinterpret_cast<const sockaddr_in6 *>(node->ai_addr);
                asio::ip::address_v6::bytes_type bytes;
                std::memcpy(bytes.data(), &address->sin6_addr, bytes.size());
                endpoints.emplace_back(asio::ip::address_v6(bytes, address->sin6_scope_id),
                                       static_cast<unsigned short>(pending->port));
            }
        }
    }
    if (result)
        ares_freeaddrinfo(result);
    if (endpoints.empty())
        error = status == ARES_SUCCESS ? std::string("no address") : ares_strerror(status);
    pending->done(std::move(endpoints), std::move(error));
}

// An address as written, in any form the system's own resolver takes without asking a name server.
std::vector<tcp::endpoint> literalAddress(const std::string &host, int port)
{
    addrinfo hints {};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    std::vector<tcp::endpoint> endpoints;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return endpoints;
    for (const addrinfo *entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6)
            continue;
        tcp::endpoint endpoint;
        std::memcpy(endpoint.data(), entry->ai_addr, entry->ai_addrlen);
        endpoints.push_back(endpoint);
    }
    ::freeaddrinfo(found);
    return endpoints;
}

// A channel set up from the system's resolver configuration as it stands (or the test's servers).
ares_channel makeChannel(std::string &error)
{
    ares_options options {};
    options.timeout = 2000;
    options.tries = 2;
    ares_channel channel = nullptr;
    int status = ares_init_options(&channel, &options, ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES);
    if (status == ARES_SUCCESS) {
        if (const std::string &servers = testSwitches().nameServers; !servers.empty())
            status = ares_set_servers_ports_csv(channel, servers.c_str());
    }
    if (status == ARES_SUCCESS)
        return channel;
    error = ares_strerror(status);
    if (channel)
        ares_destroy(channel);
    return nullptr;
}

// What identifies one version of the resolver configuration, so a change of network is noticed.
std::string configurationStamp()
{
    struct stat info {};
    if (::stat("/etc/resolv.conf", &info) != 0)
        return {};
    return std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) + ":"
           + std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
}

} // namespace

NameResolver::NameResolver()
{
    ares_library_init(ARES_LIB_INIT_ALL);
    m_stamp = configurationStamp();
    m_channel = makeChannel(m_setupError);
    if (!m_channel) {
        logError("host name lookups are not available: " + m_setupError);
        return;
    }
    if (::pipe2(m_wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        m_setupError = std::strerror(errno);
        return;
    }
    m_thread = std::thread([this] { run(); });
}

NameResolver::~NameResolver()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    wake();
    if (m_thread.joinable())
        m_thread.join();
    if (m_channel)
        ares_destroy(static_cast<ares_channel>(m_channel)); // answers what is still pending with a failure
    for (const int fd : m_wake) {
        if (fd >= 0)
            ::close(fd);
    }
}

std::chrono::steady_clock::duration NameResolver::deadline()
{
    static const std::chrono::steady_clock::duration deadline = [] {
        if (const auto milliseconds = testSwitches().lookupDeadline)
            return std::chrono::steady_clock::duration(*milliseconds);
        return std::chrono::steady_clock::duration(kDeadline);
    }();
    return deadline;
}

NameResolver &NameResolver::shared()
{
    static NameResolver *resolver = new NameResolver(); // lookups may still finish while the process exits
    return *resolver;
}

void NameResolver::resolve(std::string host, int port, Done done)
{
    bool queued = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_thread.joinable() && !m_stopping) {
            m_pending.push_back(Lookup {std::move(host), port, std::move(done)});
            queued = true;
        }
    }
    if (queued)
        wake();
    else
        done({}, m_setupError.empty() ? std::string("the resolver is stopping") : m_setupError);
}

void NameResolver::wake()
{
    if (m_wake[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wake[1], &byte, 1);
    }
}

void NameResolver::run()
{
    auto channel = static_cast<ares_channel>(m_channel);
    auto checked = std::chrono::steady_clock::now();
    for (;;) {
        std::deque<Lookup> starting;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            starting.swap(m_pending);
        }
        // A laptop changes networks and name servers while the engine runs: the configuration is
        // read again when it changed (lookups still under way on the old one fail).
        if (!starting.empty() && std::chrono::steady_clock::now() - checked > std::chrono::seconds(2)) {
            checked = std::chrono::steady_clock::now();
            if (std::string stamp = configurationStamp(); stamp != m_stamp) {
                std::string error;
                if (ares_channel renewed = makeChannel(error)) {
                    ares_destroy(channel);
                    channel = renewed;
                    m_channel = renewed;
                    m_stamp = std::move(stamp);
                }
            }
        }
        for (auto &lookup : starting) {
            ares_addrinfo_hints hints {};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_flags = ARES_AI_NUMERICSERV;
            auto *pending = new Pending {std::move(lookup.done), lookup.port};
            ares_getaddrinfo(channel, lookup.host.c_str(), std::to_string(lookup.port).c_str(), &hints, onAnswer,
                             pending);
        }

        ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
        const int bits = ares_getsock(channel, sockets, ARES_GETSOCK_MAXNUM);
        std::vector<pollfd> polled {pollfd {m_wake[0], POLLIN, 0}};
        for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
            short events = 0;
            if (ARES_GETSOCK_READABLE(bits, i))
                events |= POLLIN;
            if (ARES_GETSOCK_WRITABLE(bits, i))
                events |= POLLOUT;
            if (events)
                polled.push_back(pollfd {sockets[i], events, 0});
        }
        // Asleep until a lookup comes or one under way needs its timeout handled.
        timeval wait {};
        const timeval *next = ares_timeout(channel, nullptr, &wait);
        const int milliseconds = next ? static_cast<int>(next->tv_sec * 1000 + (next->tv_usec + 999) / 1000) : -1;
        ::poll(polled.data(), polled.size(), milliseconds);

        if (polled[0].revents & POLLIN) {
            char drained[64];
            while (::read(m_wake[0], drained, sizeof drained) > 0) {
            }
        }
        bool processed = false;
        for (std::size_t i = 1; i < polled.size(); ++i) {
            if (!polled[i].revents)
                continue;
            const bool readable = polled[i].revents & (POLLIN | POLLERR | POLLHUP);
            const bool writable = polled[i].revents & POLLOUT;
            ares_process_fd(channel, readable ? polled[i].fd : ARES_SOCKET_BAD,
                            writable ? polled[i].fd : ARES_SOCKET_BAD);
            processed = true;
        }
        if (!processed)
            ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD); // timeouts
    }
}

asio::awaitable<std::vector<tcp::endpoint>> NameResolver::lookUp(std::string host, int port, std::string &error)
{
    if (auto literal = literalAddress(host, port); !literal.empty())
        co_return literal;

    auto executor = co_await asio::this_coro::executor;
    struct Outcome {
        explicit Outcome(asio::any_io_executor executor)
            : deadline(std::move(executor), NameResolver::deadline())
        {
        }
        asio::steady_timer deadline;
        bool settled = false;
        std::vector<tcp::endpoint> endpoints;
        std::string error;
    };
    // The answer may come after this lookup gave up and its event loop is gone (a replay runs on a
    // loop of its own): it is posted only while this frame stands, which the gate says under its lock.
    struct Gate {
        std::mutex mutex;
        bool open = true;
    };
    struct Closer {
        std::shared_ptr<Gate> gate;
        ~Closer()
        {
            std::lock_guard lock(gate->mutex);
            gate->open = false;
        }
    };
    auto outcome = std::make_shared<Outcome>(executor);
    const Closer closer {std::make_shared<Gate>()};
    shared().resolve(host, port, [gate = closer.gate, weak = std::weak_ptr<Outcome>(outcome),
                                  executor](std::vector<tcp::endpoint> endpoints, std::string failure) {
        std::lock_guard lock(gate->mutex);
        if (!gate->open)
            return;
        asio::post(executor, [weak, endpoints = std::move(endpoints), failure = std::move(failure)]() mutable {
            const auto outcome = weak.lock();
            if (!outcome || outcome->settled)
                return;
            outcome->settled = true;
            outcome->endpoints = std::move(endpoints);
            outcome->error = std::move(failure);
            outcome->deadline.cancel();
        });
    });
    beast::error_code ec;
    co_await outcome->deadline.async_wait(asio::redirect_error(asio::use_awaitable, ec));
    if (!outcome->settled) {
        outcome->settled = true;
        error = "the name servers gave no answer in time";
        co_return std::vector<tcp::endpoint> {};
    }
    error = outcome->error;
    co_return std::move(outcome->endpoints);
}

} // namespace standin
