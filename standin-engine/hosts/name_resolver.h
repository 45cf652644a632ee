// Host name lookups for passed-through requests: many at once on one c-ares channel, each with a
// deadline, so a name that never resolves holds up no other request.
#pragma once

#include "net/net_limits.h"

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace standin {

class NameResolver final {
public:
    // A lookup that has not finished by then is given up.
    static constexpr std::chrono::seconds kDeadline {5};
    static std::chrono::steady_clock::duration deadline();

    using Done = std::function<void(std::vector<net::tcp::endpoint> endpoints, std::string error)>;

    NameResolver();
    ~NameResolver();
    NameResolver(const NameResolver &) = delete;
    NameResolver &operator=(const NameResolver &) = delete;

    // The one the engine's passed-through requests share.
    static NameResolver &shared();

    // Starts a lookup; `done` runs once, on the resolver's own thread (on the caller's at once when the
    // resolver is stopping or could not start).
    void resolve(std::string host, int port, Done done);

    // The endpoints of `host`, or `error` filled: addresses (also written the old ways, such as
    // "2130706433") at once, names through the resolver within the deadline.
    static net::asio::awaitable<std::vector<net::tcp::endpoint>> lookUp(std::string host, int port, std::string &error);

private:
    struct Lookup {
        std::string host;
        int port = 0;
        Done done;
    };
    void run();
    void wake();

    std::mutex m_mutex;
    std::deque<Lookup> m_pending;
    bool m_stopping = false;
    int m_wake[2] = {-1, -1};
    std::string m_setupError;
    void *m_channel = nullptr; // ares_channel, touched on the resolver's thread only once running
    std::string m_stamp;       // of the resolver configuration the channel was made from
    std::thread m_thread;
};

} // namespace standin
