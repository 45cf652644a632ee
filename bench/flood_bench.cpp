// What floods cost the real stand-in engine: the memory each idle blind tunnel holds, the memory peak and
// throughput while wrk floods it with 16 KB POSTs, the CPU a leaf certificate for a new CONNECT name
// takes, and a bystander's HTTPS and plain latency while 500 new names a second arrive.
// KESTRION_BENCH_FLOOD_SECONDS sets how long the POST flood lasts (default 20).
#include "engine_under_bench.h"

#include <fstream>
#include <time.h>

namespace {

using namespace proxybench;

// The engine's resident memory once it stops growing (pairs still being joined as the last answers came).
double settledResident(pid_t pid)
{
    double last = statusBytes(pid, "VmRSS");
    for (int i = 0; i < 40; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const double now = statusBytes(pid, "VmRSS");
        if (std::abs(now - last) < 64 * 1024)
            return now;
        last = now;
    }
    return last;
}

tcp::endpoint proxyOf(const Engine &engine)
{
    return {asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(engine.proxyPort)};
}

// CONNECT on a new connection; true once the proxy said the tunnel is open.
bool openTunnel(tcp::socket &socket, const tcp::endpoint &proxy, const std::string &authority)
{
    beast::error_code ec;
    socket.connect(proxy, ec);
    if (ec)
        return false;
    asio::write(socket, asio::buffer("CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n"), ec);
    std::string answer;
    if (!ec)
        asio::read_until(socket, asio::dynamic_buffer(answer), "\r\n\r\n", ec);
    return !ec && answer.rfind("HTTP/1.1 200", 0) == 0;
}

// Blind tunnels (no CA) to a host, held open and silent: what each adds to the engine's memory.
void BM_IdleBlindTunnels(benchmark::State &state)
{
    Engine bare(Setup::Blind, "kestrion-flood-bench-blind");
    const int pairs = static_cast<int>(state.range(0));
    const std::string authority = "127.0.0.1:" + std::to_string(bare.plainUpstream->port());
    asio::io_context context;
    std::vector<tcp::socket> held;
    int refused = 0;
    const auto hold = [&](int count) {
        for (int i = 0; i < count; ++i) {
            tcp::socket socket(context);
            if (openTunnel(socket, proxyOf(bare), authority))
                held.push_back(std::move(socket));
            else
                ++refused;
        }
    };
    for (auto _ : state) {
        const auto started = Clock::now();
        hold(200); // the engine's threads and caches warmed up
        const double before = settledResident(bare.pid);
        hold(pairs);
        const double after = settledResident(bare.pid);
        // Still tunnels: one of them carries a request to the host and its answer back.
        std::string answer;
        beast::error_code ec;
        tcp::socket &probe = held[held.size() / 2];
        asio::write(probe, asio::buffer("GET /pass HTTP/1.1\r\nHost: " + authority + "\r\n\r\n"), ec);
        if (!ec)
            asio::read_until(probe, asio::dynamic_buffer(answer), "upstream", ec);
        state.counters["pairs_held"] = static_cast<double>(held.size());
        state.counters["refused"] = refused;
        state.counters["kb_per_idle_pair"] = (after - before) / pairs / 1024.0;
        state.counters["engine_rss_mb"] = after / kMB;
        state.counters["probe_relayed"] = ec ? 0 : 1;
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}
BENCHMARK(BM_IdleBlindTunnels)->Arg(4000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// wrk's 50 connections POST 16 KB bodies to a mock as fast as it answers: the engine's peak memory
// (its own high-water mark, from a fresh engine) against its throughput.
void BM_PostFlood16KB(benchmark::State &state)
{
    if (!haveWrk(state))
        return;
    Engine flooded(Setup::Blind, "kestrion-flood-bench-posts");
    WireRoute upload = Engine::benchRoute("r-upload", "bench.test", "/upload", 0, false);
    upload.method = "POST";
    flooded.setRoutes({upload});
    const std::filesystem::path script = flooded.dir / "post16k.lua";
    std::ofstream(script) << "wrk.method = \"POST\"\nwrk.body = string.rep(\"x\", 16384)\n"
                             "wrk.headers[\"Content-Type\"] = \"application/octet-stream\"\n";
    const char *length = std::getenv("KESTRION_BENCH_FLOOD_SECONDS");
    const int seconds = std::max(1, length ? std::atoi(length) : 20);
    for (auto _ : state) {
        const auto started = Clock::now();
        const double before = statusBytes(flooded.pid, "VmRSS");
        const Load load = runWrk(flooded.proxyPort, "bench.test", "/upload", 50, flooded.pid, script.string(), seconds);
        state.counters["req_per_s"] = load.perSecond;
        state.counters["p99_ms"] = load.p99us / 1000.0;
        state.counters["errors"] = load.errors;
        state.counters["cpu_us_per_req"] = load.cpuUsPerRequest;
        state.counters["rss_before_mb"] = before / kMB;
        state.counters["peak_rss_mb"] = statusBytes(flooded.pid, "VmHWM") / kMB;
        state.counters["rss_after_mb"] = statusBytes(flooded.pid, "VmRSS") / kMB;
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}
BENCHMARK(BM_PostFlood16KB)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

double threadCpuSeconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The CPU one leaf for a name not seen before takes, made in this process as the engine makes them.
void BM_LeafForNewName(benchmark::State &state)
{
    const auto dir = std::filesystem::temp_directory_path() / ("kestrion-flood-bench-leaves-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    standin::RootCA rootCA(dir);
    std::string error;
    if (!rootCA.generate(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    standin::LeafCertificates leaves(rootCA);
    static int next = 0;
    int made = 0;
    double cpu = 0;
    for (auto _ : state) {
        const std::string host = "n" + std::to_string(next++) + ".bench.test";
        const double before = threadCpuSeconds();
        made += leaves.leafNow(host, error) ? 1 : 0;
        cpu += threadCpuSeconds() - before;
    }
    if (made == 0)
        state.SkipWithError(("no leaf: " + error).c_str());
    state.counters["cpu_us_per_leaf"] = made ? cpu * 1e6 / made : 0;
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LeafForNewName)->Iterations(2000)->Unit(benchmark::kMicrosecond);

// A name no tunnel asked for yet: an address of its own on loopback, 127.1.0.0 onwards.
std::string newAddress()
{
    static std::atomic<unsigned> next {0};
    const unsigned n = next++;
    return "127." + std::to_string(1 + n / 65536 % 254) + "." + std::to_string(n / 256 % 256) + "." + std::to_string(n % 256);
}

// Opens a tunnel to a new name at `rate` a second until the deadline, each up to its TLS handshake with
// the engine's leaf for it; how many got that far and how many failed.
struct NameFlood {
    std::atomic<int> handshakes {0};
    std::atomic<int> failures {0};
};

asio::awaitable<void> newName(int port, std::shared_ptr<ssl::context> tls, NameFlood &flood)
{
    Target target {true, newAddress() + ":" + std::to_string(port), "/", "", 0};
    target.host = target.authority.substr(0, target.authority.rfind(':'));
    beast::flat_buffer buffer;
    std::unique_ptr<beast::tcp_stream> plain;
    std::unique_ptr<SecureStream> secure;
    beast::error_code ec;
    co_await open(target, tls, nullptr, buffer, plain, secure, ec);
    (ec || !secure ? flood.failures : flood.handshakes)++;
}

asio::awaitable<void> paceNames(int port, int rate, Clock::time_point deadline, std::shared_ptr<ssl::context> tls,
                                NameFlood &flood)
{
    auto executor = co_await asio::this_coro::executor;
    asio::steady_timer timer(executor);
    auto next = Clock::now();
    while (next < deadline) {
        asio::co_spawn(executor, newName(port, tls, flood), asio::detached);
        next += std::chrono::microseconds(1000000 / rate);
        timer.expires_at(next);
        co_await timer.async_wait(asio::use_awaitable);
    }
}

// Takes every connection the new names' tunnels make to their hosts (on any loopback address), so each
// host can be reached, and holds it until the flood is over.
class AnyLoopbackHost {
public:
    AnyLoopbackHost()
        : m_acceptor(m_context, {asio::ip::make_address("0.0.0.0"), 0})
    {
        const auto hold = [this](tcp::socket socket) { m_held.push_back(std::move(socket)); };
        asio::co_spawn(m_context, acceptEach(m_acceptor, hold), asio::detached);
        m_thread = std::thread([this] { m_context.run(); });
    }
    ~AnyLoopbackHost()
    {
        m_context.stop();
        m_thread.join();
    }
    int port() const { return m_acceptor.local_endpoint().port(); }

private:
    asio::io_context m_context;
    tcp::acceptor m_acceptor;
    std::vector<tcp::socket> m_held;
    std::thread m_thread;
};

// Bystanders of a mock, first alone, then while new names arrive at 500 a second: HTTPS on a new tunnel
// for each request (its name's leaf cached, each handshake a full one), and plain HTTP kept alive.
void BM_BystanderDuringNewNames(benchmark::State &state)
{
    const int rate = static_cast<int>(state.range(0));
    auto tls = clientTls();
    auto anyName = std::make_shared<ssl::context>(ssl::context::tls_client);
    anyName->set_verify_mode(ssl::verify_none);
    AnyLoopbackHost hosts;
    const Target https {true, "bench.test:443", "/mock", "bench.test"};
    const Target plain {false, "", "http://bench.test/mock", "bench.test"};
    constexpr auto kLength = std::chrono::seconds(5);
    const auto bystanders = [&](Samples &secure, Samples &clear) {
        std::thread other([&] { runClients(plain, 4, true, tls, kLength, clear); });
        runClients(https, 4, false, tls, kLength, secure);
        other.join();
    };
    for (auto _ : state) {
        const auto started = Clock::now();
        Samples quietHttps;
        Samples quietPlain;
        bystanders(quietHttps, quietPlain);

        NameFlood flood;
        asio::io_context context;
        const auto deadline = Clock::now() + kLength;
        asio::co_spawn(context, paceNames(hosts.port(), rate, deadline, anyName, flood), asio::detached);
        const double cpuBefore = cpuSeconds(engine().pid);
        std::vector<std::thread> loaders;
        for (int i = 0; i < 2; ++i)
            loaders.emplace_back([&] { context.run(); });
        Samples busyHttps;
        Samples busyPlain;
        bystanders(busyHttps, busyPlain);
        for (auto &loader : loaders)
            loader.join();
        const double cpu = cpuSeconds(engine().pid) - cpuBefore;

        const auto p99ms = [](Samples &samples) {
            std::sort(samples.micros.begin(), samples.micros.end());
            return quantile(samples.micros, 0.99) / 1000.0;
        };
        state.counters["https_p99_ms_alone"] = p99ms(quietHttps);
        state.counters["plain_p99_ms_alone"] = p99ms(quietPlain);
        state.counters["https_p99_ms_during"] = p99ms(busyHttps);
        state.counters["plain_p99_ms_during"] = p99ms(busyPlain);
        state.counters["new_names_per_s"] = flood.handshakes.load() / std::chrono::duration<double>(kLength).count();
        state.counters["new_name_failures"] = flood.failures.load();
        state.counters["bystander_errors"] = static_cast<double>(busyHttps.errors + busyPlain.errors);
        state.counters["engine_cpu_s"] = cpu;
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}
BENCHMARK(BM_BystanderDuringNewNames)->Arg(500)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
