// A hand-scripted HTTP host over plain sockets or TLS, one thread per connection.
#include "standin-engine/scripted_host.h"

#include <openssl/bio.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace standintest {

namespace {

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

} // namespace

std::string ScriptedHost::Request::header(const std::string &name) const
{
    const std::string wanted = "\r\n" + lowered(name) + ":";
    const std::string fields = lowered(head);
    const auto at = fields.find(wanted);
    if (at == std::string::npos)
        return {};
    const auto start = head.find_first_not_of(' ', at + wanted.size());
    return head.substr(start, head.find("\r\n", start) - start);
}

std::string chunked(const std::vector<std::string> &pieces)
{
    std::string out;
    for (const auto &piece : pieces) {
        char size[20];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        out += size + piece + "\r\n";
    }
    return out + "0\r\n\r\n";
}

ScriptedHost::Script RequestLog::recording(Answer answer)
{
    return [this, answer = std::move(answer)](ScriptedHost::Connection &connection) {
        while (const auto request = connection.next()) {
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(*request);
            }
            answer(connection, *request);
        }
    };
}

std::vector<ScriptedHost::Request> RequestLog::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<std::string> RequestLog::lines() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    for (const auto &request : m_requests)
        out.push_back(request.line());
    return out;
}

ScriptedHost::Connection::Connection(int fd, int index, SSL *tls, std::function<void(int)> forget)
    : m_fd(fd)
    , m_index(index)
    , m_tls(tls)
    , m_forget(std::move(forget))
{
}

ScriptedHost::Connection::~Connection()
{
    close();
    if (m_tls)
        SSL_free(m_tls);
}

bool ScriptedHost::Connection::fill(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd wanted {m_fd, POLLIN, 0};
    const bool held = m_tls && SSL_pending(m_tls) > 0;
    if (m_fd < 0 || (!held && (left.count() <= 0 || ::poll(&wanted, 1, static_cast<int>(left.count())) <= 0)))
        return false;
    char chunk[65536];
    const ssize_t n = m_tls ? SSL_read(m_tls, chunk, sizeof chunk) : ::recv(m_fd, chunk, sizeof chunk, 0);
    if (n <= 0)
        return false;
    m_pending.append(chunk, static_cast<std::size_t>(n));
    return true;
}

std::optional<ScriptedHost::Request> ScriptedHost::Connection::next(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_pending.find("\r\n\r\n") == std::string::npos) {
        if (!fill(deadline))
            return std::nullopt;
    }
    Request request;
    const std::size_t headEnd = m_pending.find("\r\n\r\n") + 4;
    request.head = m_pending.substr(0, headEnd - 2);
    std::size_t at = headEnd;
    if (lowered(request.header("Transfer-Encoding")) == "chunked") {
        for (;;) {
            std::size_t lineEnd;
            while ((lineEnd = m_pending.find("\r\n", at)) == std::string::npos) {
                if (!fill(deadline))
                    return std::nullopt;
            }
            const std::size_t size = std::stoul(m_pending.substr(at, lineEnd - at), nullptr, 16);
            const std::size_t needed = lineEnd + 2 + size + 2;
            while (m_pending.size() < needed) {
                if (!fill(deadline))
                    return std::nullopt;
            }
            if (size == 0) { // then trailer fields, up to a blank line
                std::size_t end;
                while ((end = m_pending.find("\r\n\r\n", lineEnd)) == std::string::npos) {
                    if (!fill(deadline))
                        return std::nullopt;
                }
                request.trailers = m_pending.substr(lineEnd + 2, end + 2 - (lineEnd + 2));
                at = end + 4;
                break;
            }
            request.body += m_pending.substr(lineEnd + 2, size);
            at = needed;
        }
    } else {
        const std::string length = request.header("Content-Length");
        const std::size_t size = length.empty() ? 0 : std::stoul(length);
        while (m_pending.size() < headEnd + size) {
            if (!fill(deadline))
                return std::nullopt;
        }
        request.body = m_pending.substr(headEnd, size);
        at = headEnd + size;
    }
    request.raw = m_pending.substr(0, at);
    m_pending.erase(0, at);
    return request;
}

std::string ScriptedHost::Connection::receive(std::chrono::milliseconds timeout)
{
    if (m_pending.empty())
        fill(std::chrono::steady_clock::now() + timeout);
    return std::exchange(m_pending, std::string());
}

std::string ScriptedHost::Connection::head(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_pending.find("\r\n\r\n") == std::string::npos) {
        if (!fill(deadline))
            return {};
    }
    const std::size_t end = m_pending.find("\r\n\r\n") + 4;
    std::string taken = m_pending.substr(0, end);
    m_pending.erase(0, end);
    return taken;
}

bool ScriptedHost::Connection::send(const std::string &bytes)
{
    std::size_t sent = 0;
    while (m_fd >= 0 && sent < bytes.size()) {
        const ssize_t n = m_tls ? SSL_write(m_tls, bytes.data() + sent, static_cast<int>(bytes.size() - sent))
                                : ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return sent == bytes.size();
}

bool ScriptedHost::Connection::waitForClose(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd wanted {m_fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&wanted, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char chunk[4096];
        if ((m_tls ? SSL_read(m_tls, chunk, sizeof chunk) : ::recv(m_fd, chunk, sizeof chunk, 0)) <= 0)
            return true;
    }
}

void ScriptedHost::Connection::close()
{
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_RDWR);
}

void ScriptedHost::Connection::drop()
{
    if (m_fd < 0)
        return;
    m_forget(m_fd);
    ::close(m_fd);
    m_fd = -1;
}

void ScriptedHost::forget(int fd)
{
    std::lock_guard lock(m_mutex);
    m_open.remove(fd);
}

namespace {

SSL_CTX *serverContext(const TlsIdentity &identity)
{
    // A client that leaves mid-answer must fail a write, not end the test process.
    std::signal(SIGPIPE, SIG_IGN);
    SSL_CTX *context = SSL_CTX_new(TLS_server_method());
    BIO *certificate = BIO_new_mem_buf(identity.certPem.data(), static_cast<int>(identity.certPem.size()));
    X509 *cert = PEM_read_bio_X509(certificate, nullptr, nullptr, nullptr);
    BIO_free(certificate);
    BIO *key = BIO_new_mem_buf(identity.keyPem.data(), static_cast<int>(identity.keyPem.size()));
    EVP_PKEY *pkey = PEM_read_bio_PrivateKey(key, nullptr, nullptr, nullptr);
    BIO_free(key);
    if (cert)
        SSL_CTX_use_certificate(context, cert);
    if (pkey)
        SSL_CTX_use_PrivateKey(context, pkey);
    X509_free(cert);
    EVP_PKEY_free(pkey);
    return context;
}

} // namespace

ScriptedHost::ScriptedHost(Script script, std::optional<TlsIdentity> tls)
    : m_script(std::move(script))
    , m_tls(tls ? serverContext(*tls) : nullptr)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::listen(m_listener, 64);
    socklen_t length = sizeof address;
    ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] {
        for (;;) {
            const int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd < 0 || m_stopping) {
                if (fd >= 0)
                    ::close(fd);
                return;
            }
            int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            const int index = m_connections++;
            std::lock_guard lock(m_mutex);
            m_open.push_back(fd);
            m_threads.emplace_back([this, fd, index] {
                SSL *tls = nullptr;
                if (m_tls) {
                    tls = SSL_new(m_tls);
                    SSL_set_fd(tls, fd);
                    if (SSL_accept(tls) != 1) {
                        SSL_free(tls);
                        return;
                    }
                }
                Connection connection(fd, index, tls, [this](int closing) { forget(closing); });
                m_script(connection);
            });
        }
    });
}

ScriptedHost::~ScriptedHost()
{
    m_stopping = true;
    ::shutdown(m_listener, SHUT_RDWR);
    m_acceptor.join();
    {
        std::lock_guard lock(m_mutex);
        for (const int fd : m_open)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (auto &thread : m_threads)
        thread.join();
    std::lock_guard lock(m_mutex);
    for (const int fd : m_open)
        ::close(fd);
    ::close(m_listener);
    if (m_tls)
        SSL_CTX_free(m_tls);
}

} // namespace standintest
