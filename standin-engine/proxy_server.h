// The proxy port: plain-HTTP forward proxying answered from the active project's routes.
#pragma once

#include "engine/records/event_records.h"
#include "engine/records/traffic_records.h"
#include "route_matching.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace standin {

class SchemaLearner;
class StateStore;
class TrafficHistory;

// One request as it reached the proxy.
struct ProxiedRequest {
    std::string method;
    std::string target; // request target: "http://host/path?q" or "/path?q"
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    std::string header(const std::string &name) const; // case-insensitive, "" when absent
};

struct ProxiedResponse {
    int status = 200;
    std::string body;
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;
    bool drop = false; // close without a proper answer (chaos)
};

// Answers one proxied exchange and records it; knows nothing of sockets, so tests call it directly.
class ExchangeHandler final {
public:
    using Publish = std::function<void(const EngineEvent &)>;
    // Waits the given milliseconds; false when the wait was cut short (the proxy is stopping).
    using Wait = std::function<bool(int milliseconds)>;

    ExchangeHandler(StateStore &state, TrafficHistory &history, SchemaLearner &schema, Publish publish);

    // Ports on this machine the proxy must never forward to (the control API, the proxy itself).
    void setOwnPorts(std::set<int> ports);

    // Answers and records one exchange; `stored` (when given) receives the history record.
    ProxiedResponse handle(const ProxiedRequest &request, const Wait &wait, TrafficRecord *stored = nullptr);

private:
    ProxiedResponse answer(const ProxiedRequest &request, const ProxyTarget &target, const Wait &wait,
                           bool &injected, std::string &matchedPath);
    ProxiedResponse forward(const ProxiedRequest &request, const ProxyTarget &target);
    bool isOwnPort(const ProxyTarget &target) const;
    void learn(const TrafficRecord &record, const std::string &responseBody, const std::string &routePath,
               const std::string &projectId);

    StateStore &m_state;
    TrafficHistory &m_history;
    SchemaLearner &m_schema;
    Publish m_publish;
    mutable std::mutex m_mutex;
    std::set<int> m_ownPorts;
    std::mt19937_64 m_random;
};

// JSON error bodies the proxy answers with.
std::string proxyErrorBody(const std::string &message);

// The listener on the proxy port; started and stopped through the control API.
class ProxyServer final {
public:
    explicit ProxyServer(ExchangeHandler &handler);
    ~ProxyServer();

    // Listens on 127.0.0.1:port (0: any free port); false with a reason when the port can't be had.
    bool start(int port, std::string &error);
    void stop();
    bool running() const;
    int port() const; // the bound port, or the last one

private:
    bool waitInterruptible(int milliseconds);

    ExchangeHandler &m_handler;
    mutable std::mutex m_mutex;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    std::atomic<int> m_port {0};
    std::atomic<bool> m_running {false};

    std::mutex m_waitMutex;
    std::condition_variable m_waitCondition;
    bool m_stopping = false;
};

} // namespace standin
