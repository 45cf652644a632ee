// A real host for pass-through tests: plain HTTP or TLS on 127.0.0.1, one thread per connection.
#pragma once

#include "standin-engine/http_client.h"

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace standintest {

struct TlsIdentity {
    std::string certPem;
    std::string keyPem;
};

// A throwaway CA and a server certificate it signed for `host`, for a local TLS upstream.
struct ThrowawayPki {
    std::string caPem;
    TlsIdentity server;
};
ThrowawayPki makeThrowawayPki(const std::string &host);

class TestUpstream final {
public:
    struct Request {
        std::string method;
        std::string target;
        std::string body;
        Headers headers;
        std::string header(const std::string &name) const;
        int count(const std::string &name) const;
    };
    struct Reply {
        int status = 200;
        std::string body;
        Headers headers;
        // When set, the body goes out chunked, one piece at a time; `beforeLast` runs before the last.
        std::vector<std::string> pieces;
        std::function<void()> beforeLast;
        // Answer as if the connection stayed open, then close it (a host ending idle connections).
        bool closeAfter = false;
    };
    using Handler = std::function<void(const Request &, Reply &)>;

    explicit TestUpstream(Handler handler, std::optional<TlsIdentity> tls = std::nullopt);
    ~TestUpstream();

    int port() const { return m_port; }
    int requests() const { return m_requests; }
    int connections() const { return m_connections; }

private:
    void acceptLoop();
    template <class Stream>
    void serve(Stream &stream);

    Handler m_handler;
    std::optional<TlsIdentity> m_tls;
    struct State;
    std::unique_ptr<State> m_state;
    int m_port = 0;
    std::atomic<int> m_requests {0};
    std::atomic<int> m_connections {0};
    std::thread m_acceptor;
};

} // namespace standintest
