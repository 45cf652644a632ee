// HTTP, raw and TLS-through-CONNECT clients for the stand-in engine's tests.
#include "standin-engine/http_client.h"

#include <boost/beast/http.hpp>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace standintest {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

std::string lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The Host an absolute-form target names ("http://api.test/x" -> "api.test").
std::string hostOfAbsolute(const std::string &target)
{
    const size_t scheme = target.find("://");
    if (scheme == std::string::npos)
        return {};
    const size_t start = scheme + 3;
    const size_t end = target.find_first_of("/?", start);
    return target.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

} // namespace

std::string Response::get_header_value(const std::string &name) const
{
    const std::string wanted = lower(name);
    for (const auto &[key, value] : headers) {
        if (lower(key) == wanted)
            return value;
    }
    return {};
}

bool Response::has_header(const std::string &name) const
{
    const std::string wanted = lower(name);
    for (const auto &[key, value] : headers) {
        if (lower(key) == wanted)
            return true;
    }
    return false;
}

HttpClient::HttpClient(std::string host, int port)
    : m_host(std::move(host))
    , m_port(port)
{
}

HttpClient::~HttpClient() = default;

void HttpClient::set_read_timeout(int seconds, int microseconds)
{
    m_readTimeout = std::chrono::milliseconds(seconds * 1000 + microseconds / 1000);
}

void HttpClient::set_connection_timeout(int seconds, int microseconds)
{
    m_connectTimeout = std::chrono::milliseconds(seconds * 1000 + microseconds / 1000);
}

Result HttpClient::Get(const std::string &target, const Headers &headers)
{
    return send("GET", target, headers, {}, {});
}

Result HttpClient::Get(const std::string &target, Receiver receiver)
{
    return send("GET", target, {}, {}, {}, std::move(receiver));
}

Result HttpClient::Post(const std::string &target, const std::string &body, const std::string &contentType)
{
    return send("POST", target, {}, body, contentType);
}

Result HttpClient::Post(const std::string &target, const Headers &headers, const std::string &body,
                        const std::string &contentType)
{
    return send("POST", target, headers, body, contentType);
}

Result HttpClient::Put(const std::string &target, const std::string &body, const std::string &contentType)
{
    return send("PUT", target, {}, body, contentType);
}

Result HttpClient::Patch(const std::string &target, const std::string &body, const std::string &contentType)
{
    return send("PATCH", target, {}, body, contentType);
}

Result HttpClient::Delete(const std::string &target)
{
    return send("DELETE", target, {}, {}, {});
}

void HttpClient::stop()
{
    m_stopped = true;
    asio::post(m_context, [this] {
        if (m_stream)
            m_stream->socket().close();
    });
}

Result HttpClient::send(const std::string &method, const std::string &target, const Headers &headers,
                        const std::string &body, const std::string &contentType, Receiver receiver)
{
    std::optional<Response> result;
    m_context.restart();
    asio::co_spawn(
        m_context,
        [&]() -> asio::awaitable<void> {
            beast::error_code ec;
            if (m_stopped)
                co_return;
            if (!m_keepAlive || !m_stream || !m_stream->socket().is_open()) {
                m_buffer.clear();
                m_stream = std::make_unique<beast::tcp_stream>(m_context);
                m_stream->expires_after(m_connectTimeout);
                const asio::ip::tcp::endpoint endpoint(asio::ip::make_address(m_host), static_cast<unsigned short>(m_port));
                co_await m_stream->async_connect(endpoint, asio::redirect_error(asio::use_awaitable, ec));
                if (ec)
                    co_return;
            }
            http::request<http::string_body> request {http::string_to_verb(method), target, 11};
            const std::string absoluteHost = hostOfAbsolute(target);
            request.set(http::field::host, absoluteHost.empty() ? m_host + ":" + std::to_string(m_port) : absoluteHost);
            for (const auto &[name, value] : m_defaultHeaders)
                request.set(name, value);
            for (const auto &[name, value] : headers)
                request.set(name, value);
            if (!contentType.empty())
                request.set(http::field::content_type, contentType);
            request.body() = body;
            request.keep_alive(m_keepAlive);
            if (method != "GET" || !body.empty())
                request.prepare_payload();
            m_stream->expires_after(m_readTimeout);
            co_await http::async_write(*m_stream, request, asio::redirect_error(asio::use_awaitable, ec));
            if (ec)
                co_return;

            Response response;
            if (receiver) {
                http::response_parser<http::buffer_body> parser;
                parser.body_limit((std::numeric_limits<std::uint64_t>::max)());
                co_await http::async_read_header(*m_stream, m_buffer, parser, asio::redirect_error(asio::use_awaitable, ec));
                if (ec)
                    co_return;
                response.status = parser.get().result_int();
                for (const auto &field : parser.get())
                    response.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
                char chunk[16384];
                while (!parser.is_done()) {
                    parser.get().body().data = chunk;
                    parser.get().body().size = sizeof chunk;
                    m_stream->expires_after(m_readTimeout);
                    co_await http::async_read_some(*m_stream, m_buffer, parser, asio::redirect_error(asio::use_awaitable, ec));
                    if (ec == http::error::need_buffer)
                        ec = {};
                    if (ec)
                        break;
                    const std::size_t n = sizeof chunk - parser.get().body().size;
                    if (n && !receiver(chunk, n))
                        break;
                }
                m_stream->socket().close(ec);
                result = std::move(response);
                co_return;
            }
            http::response_parser<http::string_body> parser;
            parser.body_limit((std::numeric_limits<std::uint64_t>::max)());
            if (method == "HEAD")
                parser.skip(true);
            co_await http::async_read(*m_stream, m_buffer, parser, asio::redirect_error(asio::use_awaitable, ec));
            if (ec) {
                m_stream->socket().close(ec);
                co_return;
            }
            response.status = parser.get().result_int();
            response.body = std::move(parser.get().body());
            for (const auto &field : parser.get())
                response.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
            if (!parser.get().keep_alive() || !m_keepAlive)
                m_stream->socket().close(ec);
            result = std::move(response);
        },
        asio::detached);
    m_context.run();
    return result ? Result(std::move(*result)) : Result();
}

RawSocket::~RawSocket()
{
    close();
}

bool RawSocket::connect(int port)
{
    close();
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_fd < 0)
        return false;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close();
        return false;
    }
    int yes = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    return true;
}

bool RawSocket::send(const std::string &bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string RawSocket::readUntil(const std::string &needle, std::chrono::milliseconds timeout)
{
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char chunk[16384];
    while (out.find(needle) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd wanted {m_fd, POLLIN, 0};
        if (::poll(&wanted, 1, static_cast<int>(left.count())) <= 0)
            break;
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        out.append(chunk, static_cast<size_t>(n));
    }
    return out;
}

bool RawSocket::readToEnd(std::string &out, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char chunk[16384];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd wanted {m_fd, POLLIN, 0};
        if (::poll(&wanted, 1, static_cast<int>(left.count())) <= 0)
            return false;
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return true;
        out.append(chunk, static_cast<size_t>(n));
    }
}

void RawSocket::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

TunnelClient::~TunnelClient()
{
    if (m_ssl)
        SSL_free(m_ssl);
    if (m_context)
        SSL_CTX_free(m_context);
}

std::string TunnelClient::open(int proxyPort, const std::string &authority)
{
    if (!m_socket.connect(proxyPort))
        return {};
    m_socket.send("CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n");
    return m_socket.readUntil("\r\n\r\n", std::chrono::seconds(10));
}

bool TunnelClient::handshake(const std::string &host, const std::string &caPem, std::string &error,
                             SSL_SESSION *resume, int maxVersion)
{
    m_context = SSL_CTX_new(TLS_client_method());
    if (maxVersion)
        SSL_CTX_set_max_proto_version(m_context, maxVersion);
    BIO *bio = BIO_new_mem_buf(caPem.data(), static_cast<int>(caPem.size()));
    X509 *ca = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (ca) {
        X509_STORE_add_cert(SSL_CTX_get_cert_store(m_context), ca);
        X509_free(ca);
    }
    SSL_CTX_set_verify(m_context, SSL_VERIFY_PEER, nullptr);
    m_ssl = SSL_new(m_context);
    SSL_set_fd(m_ssl, m_socket.fd());
    if (resume)
        SSL_set_session(m_ssl, resume);
    in_addr address {};
    if (::inet_pton(AF_INET, host.c_str(), &address) == 1) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), host.c_str());
    } else {
        SSL_set_tlsext_host_name(m_ssl, host.c_str());
        SSL_set1_host(m_ssl, host.c_str());
    }
    timeval timeout {10, 0};
    ::setsockopt(m_socket.fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (SSL_connect(m_ssl) != 1) {
        const long verify = SSL_get_verify_result(m_ssl);
        error = verify != X509_V_OK ? X509_verify_cert_error_string(verify)
                                    : ERR_error_string(ERR_get_error(), nullptr);
        return false;
    }
    return true;
}

std::vector<std::string> TunnelClient::peerAltNames() const
{
    std::vector<std::string> names;
    X509 *peer = m_ssl ? SSL_get1_peer_certificate(m_ssl) : nullptr;
    if (!peer)
        return names;
    auto *entries = static_cast<GENERAL_NAMES *>(X509_get_ext_d2i(peer, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; entries && i < sk_GENERAL_NAME_num(entries); ++i) {
        const GENERAL_NAME *entry = sk_GENERAL_NAME_value(entries, i);
        if (entry->type == GEN_DNS) {
            const auto *text = ASN1_STRING_get0_data(entry->d.dNSName);
            names.push_back("DNS:" + std::string(reinterpret_cast<const char *>(text), ASN1_STRING_length(entry->d.dNSName)));
        } else if (entry->type == GEN_IPADD && ASN1_STRING_length(entry->d.iPAddress) == 4) {
            const unsigned char *bytes = ASN1_STRING_get0_data(entry->d.iPAddress);
            names.push_back("IP:" + std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "."
                            + std::to_string(bytes[2]) + "." + std::to_string(bytes[3]));
        }
    }
    GENERAL_NAMES_free(entries);
    X509_free(peer);
    return names;
}

std::string TunnelClient::peerFingerprint() const
{
    X509 *peer = m_ssl ? SSL_get1_peer_certificate(m_ssl) : nullptr;
    if (!peer)
        return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(peer, EVP_sha256(), digest, &length);
    X509_free(peer);
    std::string hex;
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kHex[digest[i] >> 4]);
        hex.push_back(kHex[digest[i] & 0xF]);
    }
    return hex;
}

bool TunnelClient::send(const std::string &bytes)
{
    return m_ssl && SSL_write(m_ssl, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
}

std::string TunnelClient::readResponse(std::chrono::milliseconds timeout)
{
    timeval limit {static_cast<time_t>(timeout.count() / 1000), static_cast<suseconds_t>((timeout.count() % 1000) * 1000)};
    ::setsockopt(m_socket.fd(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string &data = m_pending;
    auto complete = [&]() -> size_t {
        const size_t headerEnd = data.find("\r\n\r\n");
        if (headerEnd == std::string::npos)
            return 0;
        const std::string head = lower(data.substr(0, headerEnd));
        const size_t length = head.find("content-length:");
        if (length != std::string::npos) {
            const size_t size = std::stoul(head.substr(length + 15));
            return data.size() >= headerEnd + 4 + size ? headerEnd + 4 + size : 0;
        }
        if (head.find("transfer-encoding: chunked") != std::string::npos) {
            const size_t last = data.find("\r\n0\r\n\r\n", headerEnd);
            return last == std::string::npos ? 0 : last + 7;
        }
        return headerEnd + 4;
    };
    char chunk[16384];
    size_t end = 0;
    while ((end = complete()) == 0) {
        const int n = SSL_read(m_ssl, chunk, sizeof chunk);
        if (n <= 0)
            return std::exchange(data, std::string());
        data.append(chunk, static_cast<size_t>(n));
    }
    std::string response = data.substr(0, end);
    data.erase(0, end);
    return response;
}

int statusOf(const std::string &response)
{
    if (response.rfind("HTTP/1.", 0) != 0 || response.size() < 12)
        return 0;
    return std::atoi(response.c_str() + 9);
}

std::string bodyOf(const std::string &response)
{
    const size_t headerEnd = response.find("\r\n\r\n");
    if (headerEnd == std::string::npos)
        return {};
    const std::string head = lower(response.substr(0, headerEnd));
    std::string rest = response.substr(headerEnd + 4);
    if (head.find("transfer-encoding: chunked") == std::string::npos)
        return rest;
    std::string body;
    size_t position = 0;
    while (position < rest.size()) {
        const size_t lineEnd = rest.find("\r\n", position);
        if (lineEnd == std::string::npos)
            break;
        const size_t size = std::stoul(rest.substr(position, lineEnd - position), nullptr, 16);
        if (size == 0)
            break;
        body += rest.substr(lineEnd + 2, size);
        position = lineEnd + 2 + size + 2;
    }
    return body;
}

} // namespace standintest
