// Two connections joined byte for byte: a tunnel relayed untouched, and a client whose request
// switched protocols (a WebSocket, say) joined to its host once the host agreed.
#pragma once

#include "net/connection_set.h"
#include "tls/tls_stream.h"

#include <string>

namespace standin {

struct ProxyConnection;

// Relays both ways until each direction has ended (an end of stream is passed on as one, and the
// other direction goes on), either fails, or one stays idle too long. Every byte that moves renews
// the ticket's quiet mark, so a full port can close a joined pair that carries nothing.
net::asio::awaitable<void> joinConnections(net::beast::tcp_stream &client, net::beast::tcp_stream &host,
                                           net::ConnectionTicket *ticket);

// The host connection a forwarded request switched protocols on (`connection.upgraded`), joined to the
// client: what either side sent past the switch goes first. The client's connection ends with it.
net::asio::awaitable<void> joinUpgraded(net::beast::tcp_stream &client, net::beast::flat_buffer &buffer,
                                        ProxyConnection &connection);
net::asio::awaitable<void> joinUpgraded(TlsStream &client, net::beast::flat_buffer &buffer,
                                        ProxyConnection &connection);

// The protocols an HTTP/1.1 request asks to switch to (its Upgrade values, "websocket" say) when its
// Connection field names "upgrade"; empty when it asks for none.
std::string upgradeAsked(const net::http::request_header<> &header);

} // namespace standin
