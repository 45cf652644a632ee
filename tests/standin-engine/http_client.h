// Small HTTP clients for driving a real stand-in engine from tests: a request/response client,
// a raw socket for hand-written (and hostile) bytes, and a TLS client through a CONNECT tunnel.
#pragma once

#include <utility> // before asio: its awaitable.hpp uses std::exchange without including it

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace standintest {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Response {
    int status = 0;
    std::string body;
    Headers headers;

    std::string get_header_value(const std::string &name) const; // case-insensitive; "" when absent
    bool has_header(const std::string &name) const;
};

// A response, or nothing when the exchange failed (refused, reset, timed out).
class Result {
public:
    Result() = default;
    explicit Result(Response response)
        : m_response(std::move(response))
    {
    }
    explicit operator bool() const { return m_response.has_value(); }
    const Response *operator->() const { return &*m_response; }
    const Response &operator*() const { return *m_response; }

private:
    std::optional<Response> m_response;
};

class HttpClient final {
public:
    // Called with each piece of a streamed body; false stops reading.
    using Receiver = std::function<bool(const char *data, std::size_t size)>;

    HttpClient(std::string host, int port);
    ~HttpClient();

    void set_read_timeout(int seconds, int microseconds = 0);
    void set_connection_timeout(int seconds, int microseconds = 0);
    // Keeps one connection open across requests instead of a new one each time.
    void set_keep_alive(bool keepAlive) { m_keepAlive = keepAlive; }
    // Fields sent with every request; a request's own field of the same name replaces one.
    void set_default_headers(Headers headers) { m_defaultHeaders = std::move(headers); }

    Result Get(const std::string &target, const Headers &headers = {});
    Result Get(const std::string &target, Receiver receiver);
    Result Post(const std::string &target, const std::string &body = {}, const std::string &contentType = {});
    Result Post(const std::string &target, const Headers &headers, const std::string &body,
                const std::string &contentType);
    Result Put(const std::string &target, const std::string &body, const std::string &contentType);
    Result Patch(const std::string &target, const std::string &body, const std::string &contentType);
    Result Delete(const std::string &target);

    Result send(const std::string &method, const std::string &target, const Headers &headers, const std::string &body,
                const std::string &contentType, Receiver receiver = {});
    // From another thread: ends a request in flight (a streamed body, say).
    void stop();

private:
    std::string m_host;
    int m_port;
    std::chrono::milliseconds m_readTimeout {15000};
    std::chrono::milliseconds m_connectTimeout {5000};
    bool m_keepAlive = false;
    Headers m_defaultHeaders;
    std::atomic<bool> m_stopped {false};
    boost::asio::io_context m_context;
    std::unique_ptr<boost::beast::tcp_stream> m_stream;
    boost::beast::flat_buffer m_buffer;
};

// A plain blocking socket for bytes written by hand; every read gives up after its timeout.
class RawSocket final {
public:
    RawSocket() = default;
    ~RawSocket();
    RawSocket(const RawSocket &) = delete;
    RawSocket &operator=(const RawSocket &) = delete;

    bool connect(int port);
    bool send(const std::string &bytes);
    // Reads until the text appears, the peer closes or the time is up; returns everything read.
    std::string readUntil(const std::string &needle, std::chrono::milliseconds timeout);
    // Reads until the peer closes (true) or the time is up (false).
    bool readToEnd(std::string &out, std::chrono::milliseconds timeout);
    void close();
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// TLS through the proxy: CONNECT host:port, then a handshake that trusts only the given CA.
class TunnelClient final {
public:
    TunnelClient() = default;
    ~TunnelClient();
    TunnelClient(const TunnelClient &) = delete;
    TunnelClient &operator=(const TunnelClient &) = delete;

    // The proxy's answer to CONNECT ("HTTP/1.1 200 ..." on success).
    std::string open(int proxyPort, const std::string &authority);
    // Handshakes, verifying the server as `host` against `caPem`, offering `resume` when given and
    // speaking at most `maxVersion` (TLS1_2_VERSION) when given; false with OpenSSL's reason.
    bool handshake(const std::string &host, const std::string &caPem, std::string &error,
                   SSL_SESSION *resume = nullptr, int maxVersion = 0);
    SSL *native() const { return m_ssl; }
    // The server certificate's subjectAltName entries ("DNS:name", "IP:1.2.3.4").
    std::vector<std::string> peerAltNames() const;
    std::string peerFingerprint() const;
    bool send(const std::string &bytes);
    // Reads one whole HTTP response (Content-Length or chunked) through the tunnel.
    std::string readResponse(std::chrono::milliseconds timeout);
    RawSocket &socket() { return m_socket; }

private:
    RawSocket m_socket;
    SSL_CTX *m_context = nullptr;
    SSL *m_ssl = nullptr;
    std::string m_pending;
};

// The status code of a raw HTTP response text ("HTTP/1.1 413 ..."), or 0.
int statusOf(const std::string &response);
// The body of a raw HTTP response text with Content-Length or chunked framing decoded.
std::string bodyOf(const std::string &response);

} // namespace standintest
