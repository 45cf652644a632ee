// hosts/: reaching real hosts: name lookups on one c-ares channel and the connections made to them.
// Connections from the proxy to real hosts: name resolution that refuses the engine's own sockets,
// and TLS that verifies the host against the system's trust store.
#pragma once

#include "core/test_switches.h"
#include "net/net_limits.h"
#include "tls/tls_stream.h"

#include <boost/asio/ssl.hpp>

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace standin {

// An extra CA file trusted for upstream hosts, besides the system's store; for tests that run a
// local TLS upstream. Verification is never switched off.
constexpr const char *kTestUpstreamCaVariable = test_switches::kUpstreamCa;

struct UpstreamConnection {
    std::unique_ptr<net::beast::tcp_stream> plain;
    std::unique_ptr<TlsStream> tls;

    net::beast::tcp_stream &lowest() { return tls ? net::beast::get_lowest_layer(*tls) : *plain; }
    // Open, and nothing has come from the host since its last answer: neither the end of the stream
    // nor stray bytes, either of which would meet the next request. Looks without waiting.
    bool quiet();
};

struct UpstreamFailure {
    int status = 502;
    std::string message;
};

class Upstream final {
public:
    Upstream();

    void setOwnPorts(std::set<int> ports);
    // A loopback or unspecified address on one of the engine's own ports.
    bool isOwnEndpoint(const net::tcp::endpoint &endpoint) const;

    // Resolves the host, refuses the engine's own sockets, connects and, for TLS, verifies the host.
    net::asio::awaitable<std::optional<UpstreamConnection>> connect(std::string hostname, int port, bool tls,
                                                                    UpstreamFailure &failure);
    // Begins TLS on a plain connection `connect` made to `hostname`, verifying the host; false (the
    // connection spent) when that fails.
    net::asio::awaitable<bool> secure(UpstreamConnection &connection, std::string hostname, UpstreamFailure &failure);

private:
    net::asio::ssl::context &tlsContext();

    mutable std::mutex m_mutex;
    std::set<int> m_ownPorts;
    std::once_flag m_tlsMade;
    std::unique_ptr<net::asio::ssl::context> m_tls;
};

} // namespace standin
