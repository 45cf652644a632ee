// net/: the socket layer under both ports: limits, I/O threads, listeners, connections, HTTP reading and
// writing, body pacing and budget, buffers, the request as the proxy holds it.
// The names the socket layer uses and the limits every HTTP connection on both ports keeps.
#pragma once

#include <utility> // before asio: its awaitable.hpp uses std::exchange without including it

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace standin::net {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// Limits every connection on both ports keeps, so a slow or hostile client holds little.
struct Limits {
    static constexpr std::uint32_t kMaxHeaderBytes = 64 * 1024;
    // Waiting for the next request on a kept-alive connection.
    static constexpr std::chrono::seconds kIdle {30};
    // From the first byte of a request to the end of its header (a header dripped slowly is cut).
    static constexpr std::chrono::seconds kHeader {10};
    // Between two pieces of a body, and for one write to a client that stopped reading.
    static constexpr std::chrono::seconds kProgress {30};
    // Chunk of a streamed body held in memory at once, per direction.
    static constexpr std::size_t kStreamChunk = 64 * 1024;
    // Past this many open connections on one port, the longest idle one is closed for a new one (or the
    // new one, when none is idle).
    static constexpr std::size_t kMaxConnections = 10000;
    // The idle wait once a port holds half its maximum, so a flood of idle connections clears quickly.
    static constexpr std::chrono::seconds kIdleUnderPressure {2};
    // Connections waiting to be accepted.
    static constexpr int kBacklog = 4096;
    // New clients a listener takes at once before its thread serves others again.
    static constexpr int kAcceptsPerTurn = 16;
    // A request body must keep at least this pace once its first seconds are over, so a body trickled a
    // byte at a time cannot hold a connection for ever.
    static constexpr std::chrono::seconds kBodyGrace {20};
    static constexpr std::size_t kMinBodyBytesPerSecond = 500;
    // Descriptors kept out of the connection caps: listeners, files, pipes, the resolver.
    static constexpr std::size_t kReservedDescriptors = 128;
};

} // namespace standin::net
