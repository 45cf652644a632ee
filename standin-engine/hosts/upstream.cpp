// Resolving, connecting and verifying real hosts for passed-through requests.
#include "hosts/upstream.h"

#include "core/engine_support.h"
#include "hosts/name_resolver.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <sys/socket.h>

namespace standin {

namespace {

namespace asio = net::asio;
namespace beast = net::beast;
using net::tcp;

constexpr std::chrono::seconds kConnectTimeout {10};

std::string tlsFailureText(const beast::error_code &ec, SSL *ssl)
{
    if (ssl) {
        const long verify = SSL_get_verify_result(ssl);
        if (verify != X509_V_OK)
            return std::string("certificate not trusted (") + X509_verify_cert_error_string(verify) + ")";
    }
    return ec.message();
}

} // namespace

bool UpstreamConnection::quiet()
{
    auto &socket = lowest().socket();
    if (!socket.is_open())
        return false;
    // Records TLS took off the socket already are no longer seen on it.
    if (tls && (SSL_pending(tls->native_handle()) > 0 || BIO_ctrl_pending(SSL_get_rbio(tls->native_handle())) > 0))
        return false;
    char byte = 0;
    const auto peeked = ::recv(socket.native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

Upstream::Upstream() = default;

asio::ssl::context &Upstream::tlsContext()
{
    // Built on the first TLS upstream: reading the system's trust store takes longer than the rest of
    // the engine's start, and most sessions never pass a TLS request through.
    std::call_once(m_tlsMade, [this] {
        m_tls = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_client);
        m_tls->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2
                           | asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1
                           | asio::ssl::context::no_tlsv1_1);
        beast::error_code ec;
        m_tls->set_default_verify_paths(ec);
        if (ec)
            logError("the system's trusted certificates could not be loaded: " + ec.message());
        if (const std::string &extra = testSwitches().upstreamCa; !extra.empty()) {
            m_tls->load_verify_file(extra, ec);
            if (ec)
                logError(std::string("could not read ") + kTestUpstreamCaVariable + " " + extra + ": " + ec.message());
        }
        m_tls->set_verify_mode(asio::ssl::verify_peer);
    });
    return *m_tls;
}

void Upstream::setOwnPorts(std::set<int> ports)
{
    std::lock_guard lock(m_mutex);
    m_ownPorts = std::move(ports);
}

bool Upstream::isOwnEndpoint(const tcp::endpoint &endpoint) const
{
    asio::ip::address address = endpoint.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    if (!address.is_loopback() && !address.is_unspecified())
        return false;
    std::lock_guard lock(m_mutex);
    return m_ownPorts.count(endpoint.port()) > 0;
}

asio::awaitable<std::optional<UpstreamConnection>> Upstream::connect(std::string hostname, int port, bool tls,
                                                                     UpstreamFailure &failure)
{
    if (hostname.size() > 2 && hostname.front() == '[' && hostname.back() == ']')
        hostname = hostname.substr(1, hostname.size() - 2);
    auto executor = co_await asio::this_coro::executor;
    beast::error_code ec;
    std::string lookupError;
    const auto endpoints = co_await NameResolver::lookUp(hostname, port, lookupError);
    if (endpoints.empty()) {
        failure = {502, "upstream " + hostname + " could not be resolved: " + lookupError};
        co_return std::nullopt;
    }
    // However the host was written (0, 2130706433, 0x7f000001, a name that resolves to loopback),
    // what counts is where it leads.
    for (const auto &endpoint : endpoints) {
        if (isOwnEndpoint(endpoint)) {
            failure = {403, "refusing to forward to the engine's own port " + std::to_string(port)};
            co_return std::nullopt;
        }
    }

    UpstreamConnection connection;
    connection.plain = std::make_unique<beast::tcp_stream>(executor);
    connection.plain->expires_after(kConnectTimeout);
    co_await connection.plain->async_connect(endpoints, asio::redirect_error(asio::use_awaitable, ec));
    if (ec) {
        failure = {502, "upstream " + hostname + ":" + std::to_string(port) + " could not be reached: " + ec.message()};
        co_return std::nullopt;
    }
    connection.plain->socket().set_option(tcp::no_delay(true), ec);
    if (tls && !co_await secure(connection, hostname, failure))
        co_return std::nullopt;
    co_return connection;
}

asio::awaitable<bool> Upstream::secure(UpstreamConnection &connection, std::string hostname, UpstreamFailure &failure)
{
    if (hostname.size() > 2 && hostname.front() == '[' && hostname.back() == ']')
        hostname = hostname.substr(1, hostname.size() - 2);
    connection.tls = std::make_unique<TlsStream>(std::move(*connection.plain), tlsContext());
    connection.plain.reset();
    SSL *ssl = connection.tls->native_handle();
    beast::error_code addressError;
    asio::ip::make_address(hostname, addressError);
    if (addressError) {
        SSL_set_tlsext_host_name(ssl, hostname.c_str());
        SSL_set1_host(ssl, hostname.c_str());
    } else {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), hostname.c_str());
    }
    beast::error_code ec;
    connection.lowest().expires_after(kConnectTimeout);
    co_await connection.tls->async_handshake(asio::ssl::stream_base::client, asio::redirect_error(asio::use_awaitable, ec));
    if (ec) {
        failure = {502, "upstream " + hostname + " failed TLS: " + tlsFailureText(ec, ssl)};
        co_return false;
    }
    co_return true;
}

} // namespace standin
