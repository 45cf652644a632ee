// A host that answers with bytes written by hand, for the shapes a framework-built host never sends:
// one-piece chunked, close-delimited, slow pieces, stray bytes, endless interim answers, trailers,
// answers before the body is read. Over plain TCP, or TLS with a given identity.
#pragma once

#include "standin-engine/test_upstream.h"

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace standintest {

class ScriptedHost final {
public:
    struct Request {
        std::string head; // request line and fields, up to the blank line
        std::string body; // decoded
        std::string raw;  // every byte of it as it arrived
        std::string trailers; // a chunked body's trailer fields, each line ending in CRLF
        std::string line() const { return head.substr(0, head.find("\r\n")); }
        std::string header(const std::string &name) const; // case-insensitive, "" when absent
    };

    // One accepted connection, handed to the script on its own thread.
    class Connection final {
    public:
        // `forget` takes the socket off the host's list before `drop` closes it.
        Connection(int fd, int index, SSL *tls, std::function<void(int)> forget);
        ~Connection();
        Connection(const Connection &) = delete;
        Connection &operator=(const Connection &) = delete;

        // The next whole request (Content-Length or chunked body), or nothing when the peer closed or
        // the time ran out.
        std::optional<Request> next(std::chrono::milliseconds timeout = std::chrono::seconds(10));
        // Whatever arrives next (what was read ahead first); empty when the peer closed or time ran out.
        std::string receive(std::chrono::milliseconds timeout);
        // Reads up to the end of the next request's head, and no further; empty when it doesn't come.
        std::string head(std::chrono::milliseconds timeout = std::chrono::seconds(10));
        bool send(const std::string &bytes);
        // Waits until the peer closes; true when it did in time.
        bool waitForClose(std::chrono::milliseconds timeout);
        void close();
        // Closes the socket itself, as a server does that is done with a client: with bytes of the
        // client's still unread, the client's side sees a reset.
        void drop();
        int index() const { return m_index; } // 0 for the first connection the host took

    private:
        bool fill(std::chrono::steady_clock::time_point deadline);
        int m_fd;
        int m_index;
        SSL *m_tls;
        std::function<void(int)> m_forget;
        std::string m_pending;
    };
    using Script = std::function<void(Connection &)>;

    explicit ScriptedHost(Script script, std::optional<TlsIdentity> tls = std::nullopt);
    ~ScriptedHost();

    int port() const { return m_port; }
    int connections() const { return m_connections; }

private:
    void forget(int fd);

    Script m_script;
    SSL_CTX *m_tls = nullptr;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<int> m_connections {0};
    std::atomic<bool> m_stopping {false};
    std::mutex m_mutex;
    std::list<int> m_open;
    std::list<std::thread> m_threads;
    std::thread m_acceptor;
};

// Every request the hosts recording into it read, in arrival order, for the test's thread to look at
// while they run. Declared before those hosts, so that it outlives their threads.
class RequestLog final {
public:
    using Answer = std::function<void(ScriptedHost::Connection &, const ScriptedHost::Request &)>;

    // A script that reads request after request until the peer stops sending or `answer` closes the
    // connection, keeps each here, then lets `answer` reply to it.
    ScriptedHost::Script recording(Answer answer);
    std::vector<ScriptedHost::Request> requests() const;
    // Just their request lines.
    std::vector<std::string> lines() const;

private:
    mutable std::mutex m_mutex;
    std::vector<ScriptedHost::Request> m_requests;
};

// "5\r\nhello\r\n..." for each piece, then the last chunk: a chunked body by hand.
std::string chunked(const std::vector<std::string> &pieces);

} // namespace standintest
