// What floods cost the real stand-in engine: the memory each idle blind tunnel holds, the memory peak and
// throughput while 16 KB POSTs flood it paced and at full rate, the memory slow readers of a large
// (templated) mock body hold, a bystander's latency during a flood of one-byte chunks, the CPU a leaf
// certificate for a new CONNECT name takes, and a bystander's HTTPS and plain latency while 500 new
// names a second arrive. Each figure with a goal is reported beside it (goal_*).
// KESTRION_BENCH_FLOOD_SECONDS sets how long each POST flood lasts (default 20).
#include "engine_under_bench.h"

#include <array>
#include <atomic>
#include <fstream>
#include <tuple>
#include <time.h>

namespace {

using namespace proxybench;

// Starts the engine's high-water mark (VmHWM) afresh from what it holds now, so a peak is the load's own
// and not its setup's.
void resetPeak(pid_t pid)
{
    std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5";
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

// 64 connections POST 16 KB bodies to a mock, each at its turn of a schedule `rate` a second (0: as fast
// as the engine answers), for `seconds`; what they got.
struct PacedPosts {
    std::atomic<std::int64_t> answered {0};
    std::atomic<std::int64_t> errors {0};
};

asio::awaitable<void> postInTurn(int port, const std::string &request, int connection, int connections, int rate,
                                 Clock::time_point start, Clock::time_point deadline, PacedPosts &posts)
{
    auto executor = co_await asio::this_coro::executor;
    tcp::socket socket(executor);
    beast::error_code ec;
    co_await socket.async_connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)},
                                  asio::redirect_error(asio::use_awaitable, ec));
    socket.set_option(tcp::no_delay(true), ec);
    asio::steady_timer timer(executor);
    beast::flat_buffer buffer;
    for (std::int64_t turn = connection; !ec && Clock::now() < deadline; turn += connections) {
        if (rate > 0) {
            timer.expires_at(start + std::chrono::nanoseconds(turn * 1000000000LL / rate));
            co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ec));
        }
        co_await asio::async_write(socket, asio::buffer(request), asio::redirect_error(asio::use_awaitable, ec));
        http::response_parser<http::string_body> answer;
        if (!ec)
            co_await http::async_read(socket, buffer, answer, asio::redirect_error(asio::use_awaitable, ec));
        (ec || answer.get().result_int() != 200 ? posts.errors : posts.answered)++;
    }
}

Load postFlood(int port, int rate, int seconds)
{
    constexpr int kConnections = 64;
    const std::string request = "POST /upload HTTP/1.1\r\nHost: bench.test\r\nContent-Type: application/octet-stream\r\n"
                                "Content-Length: 16384\r\n\r\n"
                                + std::string(16384, 'x');
    PacedPosts posts;
    asio::io_context context;
    const auto start = Clock::now();
    for (int i = 0; i < kConnections; ++i)
        asio::co_spawn(context, postInTurn(port, request, i, kConnections, rate, start, start + std::chrono::seconds(seconds), posts),
                       asio::detached);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] { context.run(); });
    for (auto &thread : threads)
        thread.join();
    Load load;
    load.requests = static_cast<double>(posts.answered.load());
    load.perSecond = load.requests / std::chrono::duration<double>(Clock::now() - start).count();
    load.errors = static_cast<double>(posts.errors.load());
    return load;
}

// 64 connections POST 16 KB bodies to a mock, paced at 50,000 a second and then with wrk as fast as the
// engine answers, each on a fresh engine: its peak memory (its own high-water mark) should follow the
// connections, not the rate. KESTRION_BENCH_FLOOD_SECONDS sets how long each lasts (default 20).
void BM_PostFlood16KB(benchmark::State &state)
{
    if (!haveWrk(state))
        return;
    const char *length = std::getenv("KESTRION_BENCH_FLOOD_SECONDS");
    const int seconds = std::max(1, length ? std::atoi(length) : 20);
    const auto flooded = [](auto &&load) {
        Engine engine(Setup::Blind, "kestrion-flood-bench-posts");
        WireRoute upload = Engine::benchRoute("r-upload", "bench.test", "/upload", 0, false);
        upload.method = "POST";
        engine.setRoutes({upload});
        const double before = statusBytes(engine.pid, "VmRSS");
        resetPeak(engine.pid);
        const Load result = load(engine);
        return std::tuple {result, before, statusBytes(engine.pid, "VmHWM"), settledResident(engine.pid)};
    };
    for (auto _ : state) {
        const auto started = Clock::now();
        const auto [paced, pacedBefore, pacedPeak, pacedAfter]
            = flooded([&](Engine &engine) { return postFlood(engine.proxyPort, 50000, seconds); });
        const auto [full, fullBefore, fullPeak, fullAfter] = flooded([&](Engine &engine) {
            const std::filesystem::path script = engine.dir / "post16k.lua";
            std::ofstream(script) << "wrk.method = \"POST\"\nwrk.body = string.rep(\"x\", 16384)\n"
                                     "wrk.headers[\"Content-Type\"] = \"application/octet-stream\"\n";
            return runWrk(engine.proxyPort, "bench.test", "/upload", 64, engine.pid, script.string(), seconds);
        });
        state.counters["paced_req_per_s"] = paced.perSecond;
        state.counters["paced_errors"] = paced.errors;
        state.counters["paced_peak_rss_mb"] = pacedPeak / kMB;
        state.counters["full_req_per_s"] = full.perSecond;
        state.counters["full_p99_ms"] = full.p99us / 1000.0;
        state.counters["full_errors"] = full.errors;
        state.counters["full_cpu_us_per_req"] = full.cpuUsPerRequest;
        state.counters["full_peak_rss_mb"] = fullPeak / kMB;
        state.counters["goal_peak_rss_mb"] = 256;
        state.counters["peak_rise_mb"] = (fullPeak - pacedPeak) / kMB; // goal: about 0
        state.counters["rss_before_mb"] = fullBefore / kMB;
        state.counters["rss_after_mb"] = fullAfter / kMB;
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}
BENCHMARK(BM_PostFlood16KB)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Clients that read a large mock body slowly: each asks for it and then takes 4 KB every 100 ms, with
// a small receive buffer, so most of the body waits in the engine.
asio::awaitable<void> readSlowly(int port, const std::string &path, Clock::time_point deadline, std::atomic<int> &reading)
{
    auto executor = co_await asio::this_coro::executor;
    tcp::socket socket(executor);
    beast::error_code ec;
    socket.open(tcp::v4(), ec);
    socket.set_option(asio::socket_base::receive_buffer_size(4096), ec);
    co_await socket.async_connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)},
                                  asio::redirect_error(asio::use_awaitable, ec));
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: bench.test\r\n\r\n";
    co_await asio::async_write(socket, asio::buffer(request), asio::redirect_error(asio::use_awaitable, ec));
    if (ec)
        co_return;
    ++reading;
    asio::steady_timer timer(executor);
    std::array<char, 4096> piece;
    while (!ec && Clock::now() < deadline) {
        co_await socket.async_read_some(asio::buffer(piece), asio::redirect_error(asio::use_awaitable, ec));
        timer.expires_after(std::chrono::milliseconds(100));
        co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ec));
    }
}

// 500 clients reading a 4 MB mock body slowly, the body plain (arg 0) or holding "{{key}}" variables
// (arg 1): the engine's peak memory, which should not hold a copy of the body for each reader.
void BM_SlowReadersOfLargeBody(benchmark::State &state)
{
    const bool templated = state.range(0) != 0;
    constexpr int kReaders = 500;
    Engine engine(Setup::Blind, "kestrion-flood-bench-readers");
    std::string body = "{\"who\":\"" + std::string(templated ? "{{name}}" : "plain") + "\",\"pad\":\"";
    body += std::string(4 * 1024 * 1024 - body.size() - 2, 'x') + "\"}";
    WireRoute large = Engine::benchRoute("r-large", "bench.test", "/large", 0, false);
    large.body = body;
    engine.setRoutes({large});
    EnvironmentSet environments;
    environments.environments = {{"env-1", "Bench", std::vector<WireVar> {{"name", "reader"}}}};
    environments.activeId = "env-1";
    control(engine.controlPort, http::verb::post, "/environments", encodeRecord(environments));
    // The state's save of the new route, which comes within a second, is no part of the readers' peak.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    for (auto _ : state) {
        const auto started = Clock::now();
        const double before = settledResident(engine.pid);
        resetPeak(engine.pid);
        std::atomic<int> reading {0};
        asio::io_context context;
        const auto deadline = Clock::now() + std::chrono::seconds(6);
        for (int i = 0; i < kReaders; ++i)
            asio::co_spawn(context, readSlowly(engine.proxyPort, "/large", deadline, reading), asio::detached);
        context.run();
        state.counters["readers"] = reading.load();
        state.counters["rss_before_mb"] = before / kMB;
        state.counters["peak_rss_mb"] = statusBytes(engine.pid, "VmHWM") / kMB;
        state.counters["goal_peak_rss_mb"] = 128;
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}
BENCHMARK(BM_SlowReadersOfLargeBody)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Connections that send a chunked body one byte a chunk, as fast as they can, so that every read of the
// engine brings thousands of chunks; after 65,536 chunks the body ends and the next request starts.
asio::awaitable<void> trickleChunks(int port, Clock::time_point deadline, std::atomic<std::int64_t> &sent)
{
    auto executor = co_await asio::this_coro::executor;
    static const std::string head = "POST /upload HTTP/1.1\r\nHost: bench.test\r\nTransfer-Encoding: chunked\r\n\r\n";
    constexpr int kChunksAWrite = 1024;
    static const std::string chunks = [] {
        std::string many;
        for (int i = 0; i < kChunksAWrite; ++i)
            many += "1\r\nx\r\n";
        return many;
    }();
    static const std::string last = "0\r\n\r\n";
    while (Clock::now() < deadline) {
        tcp::socket socket(executor);
        beast::error_code ec;
        co_await socket.async_connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)},
                                      asio::redirect_error(asio::use_awaitable, ec));
        socket.set_option(tcp::no_delay(true), ec);
        beast::flat_buffer buffer;
        while (!ec && Clock::now() < deadline) {
            co_await asio::async_write(socket, asio::buffer(head), asio::redirect_error(asio::use_awaitable, ec));
            for (int i = 0; i < 64 && !ec; ++i) {
                co_await asio::async_write(socket, asio::buffer(chunks), asio::redirect_error(asio::use_awaitable, ec));
                sent += kChunksAWrite;
            }
            if (!ec)
                co_await asio::async_write(socket, asio::buffer(last), asio::redirect_error(asio::use_awaitable, ec));
            http::response_parser<http::string_body> answer;
            if (!ec)
                co_await http::async_read(socket, buffer, answer, asio::redirect_error(asio::use_awaitable, ec));
        }
    }
}

// A bystander's mock latency (plain, kept alive) alone and while 200 connections send one-byte chunks.
void BM_BystanderDuringOneByteChunks(benchmark::State &state)
{
    constexpr int kFlooders = 200;
    Engine engine(Setup::Blind, "kestrion-flood-bench-chunks");
    WireRoute upload = Engine::benchRoute("r-upload", "bench.test", "/upload", 0, false);
    upload.method = "POST";
    engine.setRoutes({Engine::benchRoute("r-mock", "bench.test", "/mock", 0, false), upload});
    const Target bystander {false, "", "http://bench.test/mock", "bench.test", engine.proxyPort};
    constexpr auto kLength = std::chrono::seconds(10);
    const auto p99ms = [](Samples &samples) {
        std::sort(samples.micros.begin(), samples.micros.end());
        return quantile(samples.micros, 0.99) / 1000.0;
    };
    for (auto _ : state) {
        const auto started = Clock::now();
        Samples quiet;
        runClients(bystander, 2, true, nullptr, std::chrono::seconds(3), quiet);
        std::atomic<std::int64_t> chunks {0};
        asio::io_context context;
        for (int i = 0; i < kFlooders; ++i)
            asio::co_spawn(context, trickleChunks(engine.proxyPort, Clock::now() + kLength, chunks), asio::detached);
        std::vector<std::thread> flooders;
        for (int i = 0; i < 2; ++i)
            flooders.emplace_back([&] { context.run(); });
        Samples busy;
        runClients(bystander, 2, true, nullptr, kLength, busy);
        for (auto &thread : flooders)
            thread.join();
        state.counters["p99_ms_alone"] = p99ms(quiet);
        state.counters["p99_ms_during"] = p99ms(busy);
        state.counters["goal_p99_ms"] = 200;
        state.counters["chunks_per_s"] = static_cast<double>(chunks.load()) / std::chrono::duration<double>(kLength).count();
        state.counters["bystander_errors"] = static_cast<double>(busy.errors);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}
BENCHMARK(BM_BystanderDuringOneByteChunks)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

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
