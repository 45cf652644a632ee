// CONNECT on the proxy port: a tunnel relayed untouched when there is no root CA, otherwise TLS ended
// here with a per-host leaf (or plain HTTP read as it is) and the requests inside served like any other;
// a tunnel that carries anything else, or TLS whose client can't speak HTTP/1.1, is relayed untouched too.
#pragma once

#include "core/log_throttle.h"
#include "hosts/upstream.h"
#include "mocks/route_matching.h"
#include "net/net_limits.h"
#include "proxy/tunnel_opening.h"
#include "tls/leaf_certificates.h"
#include "tls/tls_stream.h"

#include <memory>
#include <optional>
#include <string>

namespace standin {

class ExchangeHandler;
class ProxyServer;
struct ProxyConnection;

class ConnectTunnel final {
public:
    ConnectTunnel(ProxyServer &server, ExchangeHandler &handler, LeafCertificates &leaves);

    // Serves the connection from its CONNECT on; it is a tunnel for good.
    net::asio::awaitable<void> serve(std::shared_ptr<net::beast::tcp_stream> stream, net::beast::flat_buffer &buffer,
                                     const std::string &authority, unsigned version, ProxyConnection &connection);

private:
    // One CONNECT as its steps need it.
    struct Connect {
        ProxyTarget target;
        std::string authority; // as the client wrote it
        std::string hostname;  // as a certificate names it: an IPv6 address without its brackets
        unsigned version;
    };

    net::asio::awaitable<std::optional<ProxyTarget>> acceptedTarget(net::beast::tcp_stream &stream,
                                                                    const std::string &authority, unsigned version);
    net::asio::awaitable<std::optional<LeafCertificates::Leaf>> leafFor(const std::string &hostname,
                                                                       const std::string &authority);
    net::asio::awaitable<bool> reachHost(net::beast::tcp_stream &stream, const ProxyTarget &target, unsigned version,
                                         ProxyConnection &connection);
    net::asio::awaitable<TunnelOpening> openTunnel(net::beast::tcp_stream &stream, net::beast::flat_buffer &buffer,
                                                   ProxyConnection &connection);
    net::asio::awaitable<void> serveTls(net::beast::tcp_stream &stream, net::beast::flat_buffer &buffer,
                                        const Connect &connect, const LeafCertificates::Leaf &leaf,
                                        ProxyConnection &connection, std::optional<UpstreamConnection> upstream);
    net::asio::awaitable<bool> handshakeWithClient(TlsStream &tls, net::beast::flat_buffer &buffer,
                                                   const std::string &hostname);
    net::asio::awaitable<void> secureHost(TlsStream &tls, const Connect &connect, UpstreamConnection upstream,
                                          ProxyConnection &connection);
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
