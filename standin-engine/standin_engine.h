// The top wires the folders together: the engine object, the control API's handlers and main().
// The stand-in engine as a whole: its stores, the control API, the proxy, events and its lifetime.
#pragma once

#include "control/control_http.h"
#include "control/event_hub.h"
#include "core/engine_options.h"
#include "mocks/schema_learner.h"
#include "net/io_pool.h"
#include "proxy/proxy_server.h"
#include "replay/replay_runner.h"
#include "replay/replay_store.h"
#include "store/state_store.h"
#include "store/traffic_history.h"
#include "tls/leaf_certificates.h"
#include "tls/root_ca.h"

#include "engine/records/engine_records.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace standin {

constexpr const char *kEngineVersion = "0.1.0-standin";
// The line before the control port's that hands the parent the token every control request shows.
constexpr const char *kControlTokenPrefix = "KESTRION_CONTROL_TOKEN=";

class StandinEngine final {
public:
    StandinEngine(EngineOptions options, Fault fault);
    ~StandinEngine();

    StandinEngine(const StandinEngine &) = delete;
    StandinEngine &operator=(const StandinEngine &) = delete;

    // Binds the control API on 127.0.0.1; returns the port, or -1 with a reason.
    int bindControl(std::string &error);
    // Starts answering control requests (on the engine's I/O threads; returns at once).
    void serveControl();
    int controlPort() const { return m_controlPort; }
    // Known only to the parent (printed on standard output, which only it reads): a control request
    // without it is refused, so no other local user can drive the engine.
    const std::string &controlToken() const { return m_controlToken; }

    bool startProxy(std::string &error);
    void stopProxy();

    EngineHealth health() const;
    // An event stamped now, carrying the health record when asked.
    EngineEvent makeEvent(const std::string &type, bool withHealth) const;
    void publish(const EngineEvent &event);

    // Asks the process to end (stdin closed, control/shutdown, SIGTERM); the main thread does the rest.
    void requestExit();
    void waitForExit();
    // Ends every event stream and saves what is unsaved.
    void prepareExit();

    // A setup of the local model was asked for (it can't succeed here; the progress says why).
    void setAISetupRequested() { m_aiSetupRequested = true; }
    bool aiSetupRequested() const { return m_aiSetupRequested; }

    const EngineOptions &options() const { return m_options; }
    Fault fault() const { return m_fault; }
    StateStore &state() { return m_state; }
    TrafficHistory &history() { return m_history; }
    ReplayStore &replays() { return m_replays; }
    ReplayRunner &replayRunner() { return m_replayRunner; }
    SchemaLearner &schema() { return m_schema; }
    RootCA &rootCA() { return m_rootCA; }
    EventHub &events() { return m_events; }
    ExchangeHandler &exchanges() { return m_exchanges; }
    ProxyServer &proxy() { return m_proxy; }

private:
    void saveLoop();

    EngineOptions m_options;
    Fault m_fault;
    // First in, last out: every connection lives on these threads.
    net::IoPool m_io;
    std::chrono::steady_clock::time_point m_started;
    StateStore m_state;
    TrafficHistory m_history;
    ReplayStore m_replays;
    SchemaLearner m_schema;
    RootCA m_rootCA;
    LeafCertificates m_leaves;
    EventHub m_events;
    ExchangeHandler m_exchanges;
    ProxyServer m_proxy;
    ControlServer m_control;
    std::atomic<int> m_controlPort {0};
    const std::string m_controlToken;
    std::atomic<bool> m_aiSetupRequested {false};

    std::mutex m_exitMutex;
    std::condition_variable m_exitCondition;
    bool m_exitRequested = false;
    std::thread m_saver;
    // Last, so its threads are done before anything a replay uses goes.
    ReplayRunner m_replayRunner;
};

} // namespace standin
