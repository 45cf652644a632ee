// Wiring and lifetime of the stand-in engine.
#include "standin_engine.h"

#include "control_api.h"
#include "core/engine_support.h"

#include <fstream>
#include <random>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace standin {

namespace {

std::filesystem::path dataPath(const EngineOptions &options, const char *name)
{
    return std::filesystem::path(options.dataDir) / name;
}

std::int64_t residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long long pages = 0;
    long long resident = 0;
    if (!(statm >> pages >> resident))
        return 0;
    return resident * static_cast<std::int64_t>(::sysconf(_SC_PAGESIZE));
}

std::string randomToken()
{
    std::random_device random;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 8; ++i) {
        const std::uint32_t value = random();
        for (int shift = 28; shift >= 0; shift -= 4)
            token.push_back(kHex[(value >> shift) & 0xF]);
    }
    return token;
}

int threadCount()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0)
            return std::atoi(line.c_str() + 8);
    }
    return 1;
}

// One I/O thread per core the engine may run on: more threads than cores (an engine limited to some of
// the machine's cores) take turns on them, and a connection waits whenever its thread is off its core.
std::size_t usableCores()
{
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (::sched_getaffinity(0, sizeof cores, &cores) == 0 && CPU_COUNT(&cores) > 0)
        return static_cast<std::size_t>(CPU_COUNT(&cores));
    return std::thread::hardware_concurrency();
}

} // namespace

StandinEngine::StandinEngine(EngineOptions options, Fault fault)
    : m_options(std::move(options))
    , m_fault(fault)
    , m_io(usableCores())
    , m_started(std::chrono::steady_clock::now())
    , m_state(dataPath(m_options, "state.json"), StateStore::configuredMaxSavedBytes())
    , m_history(dataPath(m_options, "history.json"))
    , m_replays(dataPath(m_options, "replay"), m_history)
    , m_schema(dataPath(m_options, "schema.json"))
    , m_rootCA(dataPath(m_options, "ca"))
    , m_leaves(m_rootCA)
    , m_events(EventHub::configuredQueueBytes())
    , m_exchanges(m_state, m_history, m_schema, m_events)
    , m_proxy(m_exchanges, m_io, m_leaves)
    , m_control(m_io)
    , m_controlToken(randomToken())
{
    m_exchanges.setReplayStore(&m_replays);
    net::raiseDescriptorLimit();
    std::error_code ec;
    std::filesystem::create_directories(m_options.dataDir, ec);
    if (ec)
        logError("could not create the data directory " + m_options.dataDir + ": " + ec.message());
    m_saver = std::thread([this] { saveLoop(); });
}

StandinEngine::~StandinEngine()
{
    requestExit();
    if (m_saver.joinable())
        m_saver.join();
    m_proxy.stop();
    m_events.closeAll();
    m_control.stop();
    m_leaves.stop();
    // Connections still open end here, while everything they refer to is alive.
    m_io.stop();
}

int StandinEngine::bindControl(std::string &error)
{
    registerControlApi(m_control.router(), *this);
    if (!m_control.bind(m_options.controlPort, error)) {
        error = "control port " + std::to_string(m_options.controlPort) + " is not available";
        return -1;
    }
    const int port = m_control.port();
    m_controlPort = port;
    m_exchanges.setOwnPorts({port});
    return port;
}

void StandinEngine::serveControl()
{
    m_control.start();
}

bool StandinEngine::startProxy(std::string &error)
{
    if (m_proxy.running())
        return true;
    int wanted = m_options.proxyPort;
    if (wanted == 0 && m_proxy.port() != 0)
        wanted = m_proxy.port(); // keep the port the app was told, when it is still free
    bool started = m_proxy.start(wanted, error);
    if (!started && wanted != m_options.proxyPort)
        started = m_proxy.start(0, error);
    if (!started) {
        logError("proxy failed to start: " + error);
        return false;
    }
    m_exchanges.setOwnPorts({m_controlPort.load(), m_proxy.port()});
    logLine("proxy listening on 127.0.0.1:" + std::to_string(m_proxy.port()));
    publish(makeEvent("proxy_started", true));
    return true;
}

void StandinEngine::stopProxy()
{
    if (!m_proxy.running())
        return;
    m_proxy.stop();
    logLine("proxy stopped");
    publish(makeEvent("proxy_stopped", true));
}

EngineHealth StandinEngine::health() const
{
    EngineHealth health;
    health.status = "ok";
    health.version = kEngineVersion;
    health.pid = static_cast<int>(::getpid());
    health.uptimeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    health.proxyRunning = m_proxy.running();
    health.proxyPort = m_proxy.running() || m_options.proxyPort == 0 ? m_proxy.port() : m_options.proxyPort;
    health.controlPort = m_controlPort;
    health.memoryBytes = residentBytes();
    health.goroutines = threadCount();
    health.routeCount = m_state.routeCount();
    return health;
}

EngineEvent StandinEngine::makeEvent(const std::string &type, bool withHealth) const
{
    EngineEvent event;
    event.type = type;
    event.time = localClockTime(std::chrono::system_clock::now());
    if (withHealth)
        event.health = health();
    return event;
}

void StandinEngine::publish(const EngineEvent &event)
{
    if (m_events.listening())
        m_events.publish(std::make_shared<const std::string>(encodeRecord(event)));
}

void StandinEngine::requestExit()
{
    {
        std::lock_guard lock(m_exitMutex);
        m_exitRequested = true;
    }
    m_exitCondition.notify_all();
}

void StandinEngine::waitForExit()
{
    std::unique_lock lock(m_exitMutex);
    m_exitCondition.wait(lock, [this] { return m_exitRequested; });
}

void StandinEngine::prepareExit()
{
    m_events.closeAll();
    m_state.save();
    m_history.saveIfDirty();
    m_replays.flush();
    m_schema.saveIfDirty();
}

void StandinEngine::saveLoop()
{
    std::unique_lock lock(m_exitMutex);
    while (!m_exitCondition.wait_for(lock, m_options.timings.savePeriod, [this] { return m_exitRequested; })) {
        lock.unlock();
        m_state.save(); // a change whose save failed is tried again
        m_history.saveIfDirty();
        m_schema.saveIfDirty();
        lock.lock();
    }
}

} // namespace standin
