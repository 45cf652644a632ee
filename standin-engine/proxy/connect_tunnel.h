// CONNECT on the proxy port: a tunnel relayed untouched when there is no root CA, otherwise TLS ended
// here with a per-host leaf (or plain HTTP read as it is) and the requests inside served like any other;
// a tunnel that carries anything else is relayed untouched too.
#pragma once

#include "core/log_throttle.h"
#include "hosts/upstream.h"
#include "mocks/route_matching.h"
#include "net/net_limits.h"

#include <memory>
#include <optional>
#include <string>

namespace standin {

class ExchangeHandler;
class LeafCertificates;
class ProxyServer;
struct ProxyConnection;

class ConnectTunnel final {
public:
    ConnectTunnel(ProxyServer &server, ExchangeHandler &handler, LeafCertificates &leaves);

    // Serves the connection from its CONNECT on; it is a tunnel for good.
    net::asio::awaitable<void> serve(std::shared_ptr<net::beast::tcp_stream> stream, net::beast::flat_buffer &buffer,
                                     const std::string &authority, unsigned version, ProxyConnection &connection);

private:
    net::asio::awaitable<void> relayBlind(net::beast::tcp_stream &stream, net::beast::flat_buffer &buffer,
                                          const ProxyTarget &target, unsigned version, ProxyConnection &connection,
                                          bool opened, std::optional<UpstreamConnection> upstream);

    ProxyServer &m_server;
    ExchangeHandler &m_handler;
    LeafCertificates &m_leaves;
    LogThrottle m_tlsFailures;
    LogThrottle m_blindRelays; // hosts whose leaf could not be made
};

} // namespace standin
