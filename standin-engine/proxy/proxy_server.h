// proxy/: the proxy port from accepted socket to handed-off exchange: sessions, CONNECT tunnels.
// The proxy port: forward proxying over HTTP and HTTPS (CONNECT), answered from the active
// project's routes or passed through to the real host.
#pragma once

#include "exchange/exchange_handler.h"
#include "forward/forwarder.h"
#include "net/body_budget.h"
#include "net/connection_set.h"
#include "net/io_pool.h"
#include "proxy/connect_tunnel.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace standin {

class LeafCertificates;
struct ProxyConnection;

// The listener on the proxy port and the session on each connection; started and stopped through
// the control API.
class ProxyServer final {
public:
    ProxyServer(ExchangeHandler &handler, net::IoPool &pool, LeafCertificates &leaves);
    ~ProxyServer();

    // Listens on 127.0.0.1:port (0: any free port); false with a reason when the port can't be had.
    bool start(int port, std::string &error);
    void stop();
    bool running() const;
    int port() const; // the bound port, or the last one

    // Requests on a connection until it ends; inside a tunnel, origin-form targets are taken as
    // addressed to `tunnelBase` ("https://host").
    net::asio::awaitable<void> serveRequests(net::beast::tcp_stream &stream, net::beast::flat_buffer &buffer,
                                             const std::string &tunnelBase, ProxyConnection &connection);
    net::asio::awaitable<void> serveRequests(TlsStream &stream, net::beast::flat_buffer &buffer,
                                             const std::string &tunnelBase, ProxyConnection &connection);

private:
    net::asio::awaitable<bool> awaitTlsRequest(TlsStream &stream, net::beast::flat_buffer &buffer,
                                               ProxyConnection &connection);
    template <class Stream>
    net::asio::awaitable<void> serveRequestsOn(Stream &stream, net::beast::flat_buffer &buffer,
                                               const std::string &tunnelBase, ProxyConnection &connection);
    template <class Stream>
    net::asio::awaitable<bool> exchange(Stream &stream, net::beast::flat_buffer &buffer,
                                        net::http::request_parser<net::http::empty_body> &header,
                                        const std::string &tunnelBase, ProxyConnection &connection);
    template <class Stream>
    net::asio::awaitable<bool> answer(Stream &stream, net::beast::flat_buffer &buffer,
                                      net::http::request_parser<net::http::empty_body> &header,
                                      ProxiedRequest &request, ExchangePlan &plan, ProxyConnection &connection);
    net::asio::awaitable<void> serve(std::shared_ptr<net::beast::tcp_stream> stream,
                                     std::shared_ptr<ProxyConnection> connection,
                                     std::shared_ptr<net::ConnectionSet> connections,
                                     std::unique_ptr<net::ConnectionTicket> ticket);

    ExchangeHandler &m_handler;
    net::IoPool &m_pool;
    BodyBudget m_bodies;
    Forwarder m_forwarder;
    ConnectTunnel m_tunnel;
    mutable std::mutex m_mutex;
    std::unique_ptr<net::Listener> m_listener;
    std::shared_ptr<net::ConnectionSet> m_connections;
    std::atomic<int> m_port {0};
    std::atomic<bool> m_running {false};
};

} // namespace standin
