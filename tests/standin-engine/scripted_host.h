// A host that answers with bytes written by hand, for the shapes a framework-built host never sends:
// one-piece chunked, close-delimited, slow pieces, stray bytes, endless interim answers.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace standintest {

class ScriptedHost final {
public:
    struct Request {
        std::string head; // request line and fields, up to the blank line
        std::string body; // decoded
        std::string raw;  // every byte of it as it arrived
        std::string line() const { return head.substr(0, head.find("\r\n")); }
        std::string header(const std::string &name) const; // case-insensitive, "" when absent
    };

    // One accepted connection, handed to the script on its own thread.
    class Connection final {
    public:
        Connection(int fd, int index);
        ~Connection();
        Connection(const Connection &) = delete;
        Connection &operator=(const Connection &) = delete;

        // The next whole request (Content-Length or chunked body), or nothing when the peer closed or
        // the time ran out.
        std::optional<Request> next(std::chrono::milliseconds timeout = std::chrono::seconds(10));
        // Whatever arrives next (what was read ahead first); empty when the peer closed or time ran out.
        std::string receive(std::chrono::milliseconds timeout);
        bool send(const std::string &bytes);
        // Waits until the peer closes; true when it did in time.
        bool waitForClose(std::chrono::milliseconds timeout);
        void close();
        int index() const { return m_index; } // 0 for the first connection the host took

    private:
        bool fill(std::chrono::steady_clock::time_point deadline);
        int m_fd;
        int m_index;
        std::string m_pending;
    };
    using Script = std::function<void(Connection &)>;

    explicit ScriptedHost(Script script);
    ~ScriptedHost();

    int port() const { return m_port; }
    int connections() const { return m_connections; }

private:
    Script m_script;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<int> m_connections {0};
    std::atomic<bool> m_stopping {false};
    std::mutex m_mutex;
    std::list<int> m_open;
    std::list<std::thread> m_threads;
    std::thread m_acceptor;
};

// "5\r\nhello\r\n..." for each piece, then the last chunk: a chunked body by hand.
std::string chunked(const std::vector<std::string> &pieces);

} // namespace standintest
