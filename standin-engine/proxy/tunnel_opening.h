// What a tunnel through an engine with a root CA carries, told from the client's first bytes: TLS is
// ended here, plain HTTP is read as requests, anything else (or a client waiting for the host to
// speak first) is relayed untouched.
#pragma once

#include "net/connection_set.h"
#include "tls/client_hello.h"

#include <optional>
#include <string_view>

namespace standin {

enum class TunnelOpening {
    Undecided, // too few bytes yet
    Tls,       // a TLS handshake
    Http,      // an HTTP/1 request line
    Other,     // some other protocol: relayed untouched
    Silent,    // the client waits for the host to speak first: relayed untouched
    Closed,    // the client left, or a full port closed the tunnel
};

// How long a client may keep quiet after the tunnel opens before the host is taken to speak first
// (a mail server's greeting, say); TLS and HTTP clients speak at once.
constexpr std::chrono::seconds kClientSpeaksWithin {2};

// What the first bytes of a tunnel are, as far as they go.
TunnelOpening classifyOpening(std::string_view bytes);

// Reads the client's first bytes into `buffer` (after those already there) until they tell what the
// tunnel carries. Never Undecided: bytes that still could begin a request line when the client stops
// sending are taken for HTTP, whose reading then waits for the rest as any request's does.
// `waitsForClient`: the connection was marked idle before the tunnel opened, and is unmarked here.
net::asio::awaitable<TunnelOpening> readOpening(net::beast::tcp_stream &stream, net::beast::flat_buffer &buffer,
                                                net::ConnectionTicket *ticket, bool waitsForClient);

// Reads on, after a TLS opening, until the client's ClientHello is whole: what it offers. Nothing when
// the client went; a hello that stops short or runs too long is left to the handshake (not Read).
net::asio::awaitable<std::optional<ClientHelloOffer>> readClientHello(net::beast::tcp_stream &stream,
                                                                      net::beast::flat_buffer &buffer);

} // namespace standin
