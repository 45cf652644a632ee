// I/O threads and listeners: one io_context per thread, and the sockets both ports accept on.
#pragma once

#include "net/net_limits.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace standin::net {

// One io_context per thread; connections are spread over them and stay on one thread for life,
// so a connection's own state needs no lock.
class IoPool final {
public:
    explicit IoPool(std::size_t threads);
    ~IoPool();
    IoPool(const IoPool &) = delete;
    IoPool &operator=(const IoPool &) = delete;

    asio::io_context &next();
    // Work that may block (file reads, parsing large documents) runs here, never on an I/O thread.
    asio::thread_pool &blocking() { return m_blocking; }
    void stop();

private:
    std::vector<std::unique_ptr<asio::io_context>> m_contexts;
    std::vector<asio::executor_work_guard<asio::io_context::executor_type>> m_guards;
    std::vector<std::thread> m_threads;
    std::atomic<std::size_t> m_next {0};
    asio::thread_pool m_blocking;
};

// Listens on 127.0.0.1 and hands each accepted socket, already on its own I/O thread, to `onAccept`.
class Listener final {
public:
    using Accept = std::function<void(tcp::socket)>;

    explicit Listener(IoPool &pool);
    ~Listener();

    // Binds without SO_REUSEPORT, so two engines can never split one port; 0 picks a free port.
    bool bind(int port, std::string &error);
    void start(Accept onAccept);
    void stop();
    int port() const { return m_port; }

private:
    IoPool &m_pool;
    asio::io_context &m_context;
    std::shared_ptr<tcp::acceptor> m_acceptor;
    int m_port = 0;
};

// Raises the soft limit on open descriptors to the hard one: desktops often start processes with
// 1024, which a proxy with a few hundred clients and their hosts would soon run out of.
void raiseDescriptorLimit();
// The soft limit on open descriptors as it stands.
std::size_t descriptorLimit();

// Sets TCP_NODELAY: every answer leaves in one write, and waiting on Nagle only adds latency.
void tuneAccepted(tcp::socket &socket);

} // namespace standin::net
