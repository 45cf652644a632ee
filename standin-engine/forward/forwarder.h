// forward/: passing requests through to real hosts: the forwarded exchange, relayed fields, joined connections.
// Passing a request through to the real host: connect (or reuse the kept connection), relay the
// client's request piece by piece, relay the host's answer piece by piece, record the exchange.
#pragma once

#include "exchange/exchange_handler.h"
#include "net/net_limits.h"
#include "tls/tls_stream.h"

namespace standin {

class BodyBudget;
struct ProxyConnection;

class Forwarder final {
public:
    // Copies kept for learning are held against `bodies` (none: unbounded).
    Forwarder(ExchangeHandler &handler, BodyBudget *bodies);

    // Forwards one request whose header has been read; true when the client connection stays usable.
    net::asio::awaitable<bool> forward(net::beast::tcp_stream &client, net::beast::flat_buffer &buffer,
                                       net::http::request_parser<net::http::empty_body> &header,
                                       ProxiedRequest &request, ExchangePlan &plan, ProxyConnection &connection);
    net::asio::awaitable<bool> forward(TlsStream &client, net::beast::flat_buffer &buffer,
                                       net::http::request_parser<net::http::empty_body> &header,
                                       ProxiedRequest &request, ExchangePlan &plan, ProxyConnection &connection);

private:
    ExchangeHandler &m_handler;
    BodyBudget *m_bodies;
};

// A request with no client socket (a replay) forwarded through the same steps on a private context:
// the answer is read to its end, kept only as far as the history and learning keep it. The record.
TrafficRecord forwardDetached(ExchangeHandler &handler, const ProxiedRequest &request, ExchangePlan &plan);

} // namespace standin
