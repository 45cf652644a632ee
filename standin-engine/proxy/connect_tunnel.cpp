// CONNECT tunnels: blind relay without a root CA, TLS interception with per-host leaves with one.
#include "proxy/connect_tunnel.h"

#include "core/engine_support.h"
#include "exchange/exchange_handler.h"
#include "forward/joined_connections.h"
#include "forward/proxy_connection.h"
#include "hosts/upstream.h"
#include "proxy/proxy_server.h"

#include <boost/asio/ssl.hpp>

namespace standin {

namespace {

using namespace proxy;
using net::Limits;
using net::tcp;

const std::string kEstablished = "HTTP/1.1 200 Connection Established\r\n\r\n";

// What requests inside a tunnel to `authority` are addressed to: "https://host", the port only
// when it isn't the scheme's own.
std::string tunnelBaseUrl(const std::string &scheme, const std::string &authority)
{
    const std::string defaultPort = scheme == "https" ? "443" : "80";
    const size_t colon = authority.rfind(':');
    if (colon != std::string::npos && authority.substr(colon + 1) == defaultPort && authority.back() != ']')
        return scheme + "://" + authority.substr(0, colon);
    return scheme + "://" + authority;
}

// The host as a certificate names it: an IPv6 address without its brackets.
std::string bareHostname(const ProxyTarget &target)
{
    const std::string &hostname = target.hostname;
    if (hostname.size() > 2 && hostname.front() == '[')
        return hostname.substr(1, hostname.size() - 2);
    return hostname;
}

} // namespace

ConnectTunnel::ConnectTunnel(ProxyServer &server, ExchangeHandler &handler, LeafCertificates &leaves)
    : m_server(server)
    , m_handler(handler)
    , m_leaves(leaves)
{
}

asio::awaitable<void> ConnectTunnel::serve(std::shared_ptr<beast::tcp_stream> stream, beast::flat_buffer &buffer,
                                           const std::string &authority, unsigned version, ProxyConnection &connection)
{
    const auto target = co_await acceptedTarget(*stream, authority, version);
    if (!target)
        co_return;
    const Connect connect {*target, authority, bareHostname(*target), version};
    const auto leaf = co_await leafFor(connect.hostname, authority);
    if (!leaf) {
        co_await relayBlind(*stream, buffer, *target, version, connection, false, std::nullopt);
        co_return;
    }
    if (!co_await reachHost(*stream, *target, version, connection))
        co_return;
    const TunnelOpening opening = co_await openTunnel(*stream, buffer, connection);
    std::optional<UpstreamConnection> upstream = std::exchange(connection.idle, std::nullopt);
    switch (opening) {
    case TunnelOpening::Tls:
        co_await serveTls(*stream, buffer, connect, *leaf, connection, std::move(upstream));
        co_return;
    case TunnelOpening::Http:
        // The connection made for the tunnel serves its first request.
        if (upstream) {
            connection.idle = std::move(upstream);
            connection.idleKey = keptConnectionKey("http", *target);
        }
        co_await m_server.serveRequests(*stream, buffer, tunnelBaseUrl("http", authority), connection);
        co_return;
    case TunnelOpening::Other:
    case TunnelOpening::Silent:
        co_await relayBlind(*stream, buffer, *target, version, connection, true, std::move(upstream));
        co_return;
    default:
        co_return;
    }
}

// The host and port a CONNECT names; nothing, once the client is told why, when it names none or the
// engine's own port.
asio::awaitable<std::optional<ProxyTarget>> ConnectTunnel::acceptedTarget(beast::tcp_stream &stream,
                                                                          const std::string &authority, unsigned version)
{
    const auto target = parseProxyTarget("https://" + authority + "/", "");
    const size_t colon = authority.rfind(':');
    const bool hasPort = colon != std::string::npos && colon + 1 < authority.size()
                         && authority.find_first_not_of("0123456789", colon + 1) == std::string::npos;
    if (!target || !hasPort || authority.find_first_of("/@") != std::string::npos) {
        co_await writeError(stream, version, 400, "CONNECT needs host:port, got \"" + authority + "\"", false);
        co_return std::nullopt;
    }
    if (m_handler.isOwnPort(*target)) {
        co_await writeError(stream, version, 403,
                            "refusing to proxy to the engine's own port " + std::to_string(target->port), false);
        co_return std::nullopt;
    }
    co_return target;
}

// The leaf the host's TLS is ended with; nothing (and one line in the log, unless there is no CA at
// all) when the tunnel is to be relayed untouched.
asio::awaitable<std::optional<LeafCertificates::Leaf>> ConnectTunnel::leafFor(const std::string &hostname,
                                                                             const std::string &authority)
{
    std::string leafError;
    auto leaf = co_await m_leaves.leafFor(hostname, leafError);
    if (!leaf && leafError != "no root CA" && m_blindRelays.shouldLog(authority)) {
        // The reason may name the host again, as long as the client made it.
        if (const size_t at = leafError.find(hostname); at != std::string::npos && hostname.size() > kMaxLoggedName)
            leafError.replace(at, hostname.size(), loggedName(hostname));
        logLine("HTTPS to " + loggedName(authority) + " relayed without interception: " + leafError);
    }
    co_return leaf;
}

// A 2xx says the tunnel to the host is open (RFC 9110 §9.3.6), so a host no route answers for is
// reached first, and one that can't be is answered as without a CA. A mocked host may not exist.
// The connection made is kept where a stop closes it (`connection.idle`) until the tunnel shows what
// it carries. False once the client has been told the host can't be reached.
asio::awaitable<bool> ConnectTunnel::reachHost(beast::tcp_stream &stream, const ProxyTarget &target, unsigned version,
                                               ProxyConnection &connection)
{
    if (m_handler.mocksHost(target))
        co_return true;
    UpstreamFailure failure;
    auto upstream = co_await m_handler.upstream().connect(target.hostname, target.port, false, failure);
    if (!upstream) {
        co_await writeError(stream, version, failure.status, failure.message, false);
        co_return false;
    }
    connection.idle = std::move(upstream);
    connection.idleKey.clear();
    co_return true;
}

// Tells the client the tunnel is open and reads what it carries.
asio::awaitable<TunnelOpening> ConnectTunnel::openTunnel(beast::tcp_stream &stream, beast::flat_buffer &buffer,
                                                         ProxyConnection &connection)
{
    // Waiting for the client to begin is waiting for a request: idle, and short once the port fills.
    // Idle from before the client hears the tunnel is open, so tunnels opened one after another are
    // in line in that order.
    const bool waitsForClient = buffer.size() == 0;
    if (waitsForClient && connection.ticket)
        connection.ticket->setIdle(true);
    beast::error_code ec;
    stream.expires_after(Limits::kProgress);
    co_await asio::async_write(stream, asio::buffer(kEstablished), asio::redirect_error(asio::use_awaitable, ec));
    if (ec)
        co_return TunnelOpening::Closed;
    // Only TLS is ended here and only HTTP read as requests; a tunnel that carries anything else, or
    // whose host speaks first (a mail server's greeting), is relayed untouched.
    co_return co_await readOpening(stream, buffer, connection.ticket, waitsForClient);
}

// A tunnel whose client begins TLS: ended here with the host's leaf and its requests served, unless
// the client can't speak HTTP/1.1 inside it (an HTTP/2-only client such as gRPC): that tunnel is
// relayed untouched to the host, as one that carries no HTTP/1 is.
asio::awaitable<void> ConnectTunnel::serveTls(beast::tcp_stream &stream, beast::flat_buffer &buffer,
                                              const Connect &connect, const LeafCertificates::Leaf &leaf,
                                              ProxyConnection &connection, std::optional<UpstreamConnection> upstream)
{
    const auto hello = co_await readClientHello(stream, buffer);
    if (!hello)
        co_return;
    if (!hello->speaksHttp1()) {
        co_await relayBlind(stream, buffer, connect.target, connect.version, connection, true, std::move(upstream));
        co_return;
    }
    TlsStream tls(std::move(stream), *leaf.context);
    if (!leaf.presentOn(tls.native_handle()))
        co_return;
    connection.socket = &beast::get_lowest_layer(tls);
    struct Forget {
        ProxyConnection &connection;
        ~Forget() { connection.socket = nullptr; }
    } forget {connection};
    if (!co_await handshakeWithClient(tls, buffer, connect.hostname))
        co_return;
    if (upstream)
        co_await secureHost(tls, connect, std::move(*upstream), connection);
    co_await m_server.serveRequests(tls, buffer, tunnelBaseUrl("https", connect.authority), connection);
    beast::error_code ec;
    beast::get_lowest_layer(tls).expires_after(std::chrono::seconds(2));
    co_await tls.async_shutdown(asio::redirect_error(asio::use_awaitable, ec));
}

// TLS with the client, from the ClientHello already read into `buffer`; false when it failed.
asio::awaitable<bool> ConnectTunnel::handshakeWithClient(TlsStream &tls, beast::flat_buffer &buffer,
                                                         const std::string &hostname)
{
    beast::error_code ec;
    beast::get_lowest_layer(tls).expires_after(Limits::kHeader);
    const std::size_t used = co_await tls.async_handshake(asio::ssl::stream_base::server, buffer.data(),
                                                          asio::redirect_error(asio::use_awaitable, ec));
    buffer.consume(used);
    if (ec) {
        // A client that doesn't trust the CA ends here; one line says so (once a minute per host, so a
        // client retrying in a loop doesn't flood the log), nothing else happens.
        if (m_tlsFailures.shouldLog(hostname))
            logLine("TLS with the client for " + loggedName(hostname) + " failed: " + ec.message());
        co_return false;
    }
    buffer.consume(buffer.size());
    co_return true;
}

// The connection made for the tunnel serves its first request, once it is TLS too; it is kept where a
// stop closes it meanwhile. One that fails TLS is left to the request, which says why. A client that
// leaves while the host takes its time has everything opened for it closed at once, the host's
// connection too, rather than when the host's TLS gives up.
asio::awaitable<void> ConnectTunnel::secureHost(TlsStream &tls, const Connect &connect, UpstreamConnection upstream,
                                                ProxyConnection &connection)
{
    connection.idle = std::move(upstream);
    connection.idleKey = keptConnectionKey("https", connect.target);
    UpstreamFailure failure;
    bool secured = false;
    {
        ClientWatch watch(connection, beast::get_lowest_layer(tls).socket(), true);
        secured = co_await m_handler.upstream().secure(*connection.idle, connect.hostname, failure);
    }
    if (!secured)
        connection.idle.reset();
    connection.idleUnused = connection.idle.has_value();
}

// No CA, or a tunnel that carries neither TLS nor HTTP: relayed untouched, over `upstream` when the
// host was reached already. `opened`: the client has heard the tunnel is open, so a host that can't be
// reached only closes it.
asio::awaitable<void> ConnectTunnel::relayBlind(beast::tcp_stream &stream, beast::flat_buffer &buffer,
                                                const ProxyTarget &target, unsigned version,
                                                ProxyConnection &connection, bool opened,
                                                std::optional<UpstreamConnection> upstream)
{
    beast::error_code ec;
    if (!upstream) {
        UpstreamFailure failure;
        upstream = co_await m_handler.upstream().connect(target.hostname, target.port, false, failure);
        if (!upstream) {
            if (!opened)
                co_await writeError(stream, version, failure.status, failure.message, false);
            co_return;
        }
    }
    connection.upstream = upstream->plain.get();
    struct Release {
        ProxyConnection &connection;
        ~Release() { connection.upstream = nullptr; }
    } release {connection};
    // Quiet from before the client hears the tunnel is open, so tunnels opened one after another
    // are in line in that order.
    if (connection.ticket)
        connection.ticket->setQuiet(std::chrono::steady_clock::now());
    if (!opened) {
        stream.expires_after(Limits::kProgress);
        co_await asio::async_write(stream, asio::buffer(kEstablished), asio::redirect_error(asio::use_awaitable, ec));
        if (ec)
            co_return;
    }
    if (buffer.size() > 0) { // bytes the client sent right behind its CONNECT
        upstream->plain->expires_after(Limits::kProgress);
        co_await asio::async_write(*upstream->plain, buffer.data(), asio::redirect_error(asio::use_awaitable, ec));
        buffer.consume(buffer.size());
        if (ec)
            co_return;
    }
    co_await joinConnections(stream, *upstream->plain, connection.ticket);
}

} // namespace standin
