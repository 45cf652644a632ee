// The real stand-in engine's proxy over loopback: requests per second and latency (median, p99)
// for mock answers and pass-through, plain HTTP and intercepted HTTPS, kept-alive and new
// connections, 1 and 50 connections; TLS handshakes per second with a cached leaf; how exactly a
// route's latency is kept; /health while 200 idle connections sit on each port. The side-by-side
// cases load both sides with wrk and print their ratios: 1 vs 5,000 routes, a learned vs an unlearned
// 100 KB body, 1 MB through the proxy vs straight from a minimal C server, and a mock vs that server
// answering a fixed 200 on 50 and on 1,000 connections, throughput, CPU per answer and p99, with an
// event reader attached (KESTRION_BENCH_ROUNDS repeats them). KESTRION_BENCH_SERVER_CPUS ("0-3") pins the
// engine and the C server to those cores and KESTRION_BENCH_LOAD_CPUS ("4-7") pins wrk, so each side's
// load stays off the other's cores. KESTRION_BENCH_ENGINE runs another
// engine build (a baseline); KESTRION_BENCH_ENGINE_PRELOAD preloads a library (an allocator) into the
// engine only.
#include <utility> // before asio: its awaitable.hpp uses std::exchange without including it

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <benchmark/benchmark.h>

#include "engine/records/engine_records.h"
#include "leaf_certificates.h"
#include "root_ca.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sched.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr auto kRunFor = std::chrono::milliseconds(1500);

// The cores a variable names ("0-3", "0,2,4-5"); nothing when it is unset.
std::optional<cpu_set_t> coresFrom(const char *variable)
{
    const char *text = std::getenv(variable);
    if (!text || !*text)
        return std::nullopt;
    cpu_set_t cores;
    CPU_ZERO(&cores);
    std::istringstream ranges(text);
    std::string range;
    while (std::getline(ranges, range, ',')) {
        const size_t dash = range.find('-');
        const int first = std::atoi(range.c_str());
        const int last = dash == std::string::npos ? first : std::atoi(range.c_str() + dash + 1);
        for (int core = first; core <= last; ++core)
            CPU_SET(core, &cores);
    }
    return cores;
}

// While it lives, processes this thread starts run on the servers' cores, when they are given.
class OnServerCores {
public:
    OnServerCores()
    {
        const auto cores = coresFrom("KESTRION_BENCH_SERVER_CPUS");
        if (!cores || ::sched_getaffinity(0, sizeof m_before, &m_before) != 0)
            return;
        m_pinned = ::sched_setaffinity(0, sizeof *cores, &*cores) == 0;
    }
    ~OnServerCores()
    {
        if (m_pinned)
            ::sched_setaffinity(0, sizeof m_before, &m_before);
    }

private:
    cpu_set_t m_before {};
    bool m_pinned = false;
};

// A fixed answer from a real host, plain or TLS, for pass-through.
class BenchUpstream {
public:
    explicit BenchUpstream(std::shared_ptr<ssl::context> tls)
        : m_tls(std::move(tls))
        , m_acceptor(m_context, {asio::ip::make_address("127.0.0.1"), 0})
    {
        asio::co_spawn(m_context, accept(), asio::detached);
        for (int i = 0; i < 2; ++i)
            m_threads.emplace_back([this] { m_context.run(); });
    }
    ~BenchUpstream()
    {
        m_context.stop();
        for (auto &thread : m_threads)
            thread.join();
    }
    int port() const { return m_acceptor.local_endpoint().port(); }

private:
    asio::awaitable<void> accept()
    {
        for (;;) {
            beast::error_code ec;
            tcp::socket socket = co_await m_acceptor.async_accept(asio::redirect_error(asio::use_awaitable, ec));
            if (ec)
                co_return;
            socket.set_option(tcp::no_delay(true));
            if (m_tls)
                asio::co_spawn(m_context, serveTls(std::move(socket)), asio::detached);
            else
                asio::co_spawn(m_context, serve(beast::tcp_stream(std::move(socket))), asio::detached);
        }
    }
    asio::awaitable<void> serveTls(tcp::socket socket)
    {
        beast::ssl_stream<beast::tcp_stream> stream(std::move(socket), *m_tls);
        beast::error_code ec;
        co_await stream.async_handshake(ssl::stream_base::server, asio::redirect_error(asio::use_awaitable, ec));
        if (!ec)
            co_await answer(stream);
    }
    asio::awaitable<void> serve(beast::tcp_stream stream) { co_await answer(stream); }
    template <class Stream>
    asio::awaitable<void> answer(Stream &stream)
    {
        beast::flat_buffer buffer;
        for (;;) {
            http::request<http::string_body> request;
            beast::error_code ec;
            co_await http::async_read(stream, buffer, request, asio::redirect_error(asio::use_awaitable, ec));
            if (ec)
                co_return;
            http::response<http::string_body> response {http::status::ok, 11};
            response.set(http::field::content_type, "application/json");
            response.body() = R"({"from":"upstream","items":[1,2,3,4,5,6,7,8]})";
            response.keep_alive(request.keep_alive());
            response.prepare_payload();
            co_await http::async_write(stream, response, asio::redirect_error(asio::use_awaitable, ec));
            if (ec || !request.keep_alive())
                co_return;
        }
    }

    std::shared_ptr<ssl::context> m_tls;
    asio::io_context m_context;
    tcp::acceptor m_acceptor;
    std::vector<std::thread> m_threads;
};

// One blocking control request.
std::string control(int port, http::verb method, const std::string &target, const std::string &body = {})
{
    asio::io_context context;
    beast::tcp_stream stream(context);
    stream.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)));
    http::request<http::string_body> request {method, target, 11};
    request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
    if (!body.empty())
        request.set(http::field::content_type, "application/json");
    request.body() = body;
    request.prepare_payload();
    http::write(stream, request);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(stream, buffer, response);
    return response.body();
}

// The stand-in engine as a child process, with its routes, CA and two upstreams.
struct Engine {
    std::filesystem::path dir;
    pid_t pid = -1;
    int stdinFd = -1;
    int controlPort = 0;
    int proxyPort = 0;
    std::string caPem;
    std::unique_ptr<BenchUpstream> plainUpstream;
    std::unique_ptr<BenchUpstream> tlsUpstream;

    Engine()
    {
        dir = std::filesystem::temp_directory_path() / ("kestrion-proxy-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        std::string error;
        const auto upstreamCa = standin::makeSelfSignedCA("Bench upstream CA", error);
        const auto leaf = standin::issueLeaf(upstreamCa->first, upstreamCa->second, "localhost", std::chrono::hours(24), error);
        std::ofstream(dir / "upstream-ca.pem") << upstreamCa->first;
        auto tls = std::make_shared<ssl::context>(ssl::context::tls_server);
        tls->use_certificate_chain(asio::buffer(leaf->certPEM));
        tls->use_private_key(asio::buffer(leaf->keyPEM), ssl::context::pem);
        plainUpstream = std::make_unique<BenchUpstream>(nullptr);
        tlsUpstream = std::make_unique<BenchUpstream>(tls);

        int in[2];
        int out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0)
            std::abort();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string data = (dir / "data").string();
        const char *binary = std::getenv("KESTRION_BENCH_ENGINE") ? std::getenv("KESTRION_BENCH_ENGINE") : KESTRION_BENCH_ENGINE;
        std::vector<std::string> arguments = {binary, "--data-dir", data, "--control-port", "0",
                                              "--proxy-port", "0", "--autostart"};
        std::vector<char *> argv;
        for (auto &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        const std::string trust = std::string("KESTRION_TEST_UPSTREAM_CA=") + (dir / "upstream-ca.pem").string();
        std::vector<char *> envp;
        for (char **e = environ; *e; ++e)
            envp.push_back(*e);
        envp.push_back(const_cast<char *>(trust.c_str()));
        const std::string preload = std::string("LD_PRELOAD=")
                                    + (std::getenv("KESTRION_BENCH_ENGINE_PRELOAD") ? std::getenv("KESTRION_BENCH_ENGINE_PRELOAD") : "");
        if (std::getenv("KESTRION_BENCH_ENGINE_PRELOAD"))
            envp.push_back(const_cast<char *>(preload.c_str()));
        envp.push_back(nullptr);
        {
            OnServerCores pinned;
            if (posix_spawn(&pid, binary, &actions, nullptr, argv.data(), envp.data()) != 0)
                std::abort();
        }
        ::close(in[0]);
        ::close(out[1]);
        stdinFd = in[1];
        std::string text;
        char chunk[256];
        while (text.find("KESTRION_CONTROL_PORT=") == std::string::npos || text.find('\n', text.find("PORT=")) == std::string::npos) {
            const ssize_t n = ::read(out[0], chunk, sizeof chunk);
            if (n <= 0)
                std::abort();
            text.append(chunk, static_cast<size_t>(n));
        }
        controlPort = std::atoi(text.c_str() + text.find("KESTRION_CONTROL_PORT=") + 22);
        // Keep draining the engine's log so it never blocks on a full pipe.
        std::thread([fd = out[0]] {
            char sink[4096];
            while (::read(fd, sink, sizeof sink) > 0) {
            }
            ::close(fd);
        }).detach();
        proxyPort = decodeRecord<EngineHealth>(control(controlPort, http::verb::get, "/health"))->proxyPort;
        caPem = decodeRecord<CAInfo>(control(controlPort, http::verb::post, "/ca/generate"))->certPEM;

        baseRoutes = {
            benchRoute("r-mock", "bench.test", "/mock", 0, false),
            benchRoute("r-late", "bench.test", "/late", 300, false),
            benchRoute("r-pass", "127.0.0.1:" + std::to_string(plainUpstream->port()), "/pass", 0, true),
            benchRoute("r-tls-pass", "localhost:" + std::to_string(tlsUpstream->port()), "/pass", 0, true),
        };
        setRoutes(baseRoutes);
    }

    static WireRoute benchRoute(const std::string &id, const std::string &host, const std::string &path, int latency,
                                bool pass)
    {
        WireRoute r;
        r.id = id;
        r.method = "GET";
        r.host = host;
        r.path = path;
        r.latencyMs = latency;
        r.passThrough = pass;
        r.body = R"({"id":"usr_01","name":"Bench","roles":["a","b"]})";
        return r;
    }

    void setRoutes(const std::vector<WireRoute> &routes) const
    {
        control(controlPort, http::verb::post, "/routes", encodeRecord(routes));
    }

    std::vector<WireRoute> baseRoutes;

    ~Engine()
    {
        ::close(stdinFd); // the engine exits when its standard input closes
        int status = 0;
        ::waitpid(pid, &status, 0);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Engine &engine()
{
    static Engine instance;
    return instance;
}

struct Target {
    bool tls = false;         // through CONNECT with interception
    std::string authority;    // CONNECT authority, for tls
    std::string requestTarget;
    std::string host;
};

struct Samples {
    std::mutex mutex;
    std::vector<double> micros;
    std::size_t errors = 0;
};

// Keeps one connection busy until the deadline: request, whole answer, next (reconnecting each time
// unless kept alive).
asio::awaitable<void> client(const Target &target, bool keepAlive, Clock::time_point deadline,
                             std::shared_ptr<ssl::context> tls, Samples &samples)
{
    auto executor = co_await asio::this_coro::executor;
    const tcp::endpoint proxy(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(engine().proxyPort));
    std::vector<double> local;
    std::size_t errors = 0;
    std::unique_ptr<beast::tcp_stream> plain;
    std::unique_ptr<beast::ssl_stream<beast::tcp_stream>> secure;
    beast::flat_buffer buffer;
    http::request<http::empty_body> request {http::verb::get, target.requestTarget, 11};
    request.set(http::field::host, target.host);
    request.keep_alive(keepAlive);
    while (Clock::now() < deadline) {
        const auto started = Clock::now();
        beast::error_code ec;
        if (!plain && !secure) {
            buffer.clear();
            auto stream = std::make_unique<beast::tcp_stream>(executor);
            co_await stream->async_connect(proxy, asio::redirect_error(asio::use_awaitable, ec));
            stream->socket().set_option(tcp::no_delay(true), ec);
            if (!ec && target.tls) {
                http::request<http::empty_body> connect {http::verb::connect, target.authority, 11};
                connect.set(http::field::host, target.authority);
                co_await http::async_write(*stream, connect, asio::redirect_error(asio::use_awaitable, ec));
                http::response_parser<http::empty_body> established;
                established.skip(true);
                if (!ec)
                    co_await http::async_read_header(*stream, buffer, established, asio::redirect_error(asio::use_awaitable, ec));
                if (!ec) {
                    secure = std::make_unique<beast::ssl_stream<beast::tcp_stream>>(std::move(*stream), *tls);
                    SSL_set_tlsext_host_name(secure->native_handle(), target.host.c_str());
                    co_await secure->async_handshake(ssl::stream_base::client, asio::redirect_error(asio::use_awaitable, ec));
                }
            } else {
                plain = std::move(stream);
            }
            if (ec) {
                ++errors;
                plain.reset();
                secure.reset();
                continue;
            }
        }
        http::response<http::string_body> response;
        if (secure) {
            co_await http::async_write(*secure, request, asio::redirect_error(asio::use_awaitable, ec));
            if (!ec)
                co_await http::async_read(*secure, buffer, response, asio::redirect_error(asio::use_awaitable, ec));
        } else {
            co_await http::async_write(*plain, request, asio::redirect_error(asio::use_awaitable, ec));
            if (!ec)
                co_await http::async_read(*plain, buffer, response, asio::redirect_error(asio::use_awaitable, ec));
        }
        if (ec || response.result_int() != 200) {
            ++errors;
            plain.reset();
            secure.reset();
            continue;
        }
        local.push_back(std::chrono::duration<double, std::micro>(Clock::now() - started).count());
        if (!keepAlive) {
            plain.reset();
            secure.reset();
        }
    }
    std::lock_guard lock(samples.mutex);
    samples.micros.insert(samples.micros.end(), local.begin(), local.end());
    samples.errors += errors;
}

std::shared_ptr<ssl::context> clientTls()
{
    auto tls = std::make_shared<ssl::context>(ssl::context::tls_client);
    tls->add_certificate_authority(asio::buffer(engine().caPem));
    tls->set_verify_mode(ssl::verify_peer);
    return tls;
}

void report(benchmark::State &state, Samples &samples, double seconds)
{
    auto &micros = samples.micros;
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double q) { return micros.empty() ? 0.0 : micros[std::min(micros.size() - 1, static_cast<size_t>(q * micros.size()))]; };
    state.counters["req_per_s"] = static_cast<double>(micros.size()) / seconds;
    state.counters["median_us"] = at(0.5);
    state.counters["p99_us"] = at(0.99);
    state.counters["errors"] = static_cast<double>(samples.errors);
}

void runLoad(benchmark::State &state, const Target &target, bool keepAlive)
{
    const int connections = static_cast<int>(state.range(0));
    auto tls = clientTls();
    for (auto _ : state) {
        Samples samples;
        asio::io_context context;
        const auto started = Clock::now();
        const auto deadline = started + kRunFor;
        for (int i = 0; i < connections; ++i)
            asio::co_spawn(context, client(target, keepAlive, deadline, tls, samples), asio::detached);
        std::vector<std::thread> threads;
        for (int i = 0; i < (connections > 1 ? 3 : 1); ++i)
            threads.emplace_back([&] { context.run(); });
        for (auto &thread : threads)
            thread.join();
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        state.SetIterationTime(seconds);
        report(state, samples, seconds);
    }
}

Target mockHttp() { return {false, "", "http://bench.test/mock", "bench.test"}; }
Target mockHttps() { return {true, "bench.test:443", "/mock", "bench.test"}; }
Target passHttp() { return {false, "", "http://127.0.0.1:" + std::to_string(engine().plainUpstream->port()) + "/pass",
                            "127.0.0.1:" + std::to_string(engine().plainUpstream->port())}; }
Target passHttps()
{
    const std::string authority = "localhost:" + std::to_string(engine().tlsUpstream->port());
    return {true, authority, "/pass", "localhost"};
}

void BM_MockHttpKeepAlive(benchmark::State &state) { runLoad(state, mockHttp(), true); }
void BM_MockHttpNewConnections(benchmark::State &state) { runLoad(state, mockHttp(), false); }
void BM_MockHttpsKeepAlive(benchmark::State &state) { runLoad(state, mockHttps(), true); }
// Each request on a new tunnel: CONNECT, a full handshake with the cached leaf, one request.
void BM_MockHttpsNewConnections(benchmark::State &state) { runLoad(state, mockHttps(), false); }
void BM_PassThroughHttpKeepAlive(benchmark::State &state) { runLoad(state, passHttp(), true); }
void BM_PassThroughHttpsKeepAlive(benchmark::State &state) { runLoad(state, passHttps(), true); }

BENCHMARK(BM_MockHttpKeepAlive)->Arg(1)->Arg(50)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MockHttpNewConnections)->Arg(1)->Arg(50)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MockHttpsKeepAlive)->Arg(1)->Arg(50)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MockHttpsNewConnections)->Arg(1)->Arg(50)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PassThroughHttpKeepAlive)->Arg(1)->Arg(50)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PassThroughHttpsKeepAlive)->Arg(1)->Arg(50)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// How far the measured time of a 300 ms route strays from 300 ms, on a kept-alive connection.
void BM_RouteLatencyAccuracy(benchmark::State &state)
{
    for (auto _ : state) {
        asio::io_context context;
        beast::tcp_stream stream(context);
        stream.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(engine().proxyPort)));
        stream.socket().set_option(tcp::no_delay(true));
        beast::flat_buffer buffer;
        std::vector<double> errors;
        for (int i = 0; i < 6; ++i) {
            http::request<http::empty_body> request {http::verb::get, "http://bench.test/late", 11};
            request.set(http::field::host, "bench.test");
            const auto started = Clock::now();
            http::write(stream, request);
            http::response<http::string_body> response;
            http::read(stream, buffer, response);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
            if (i > 0) // the first one warms the connection
                errors.push_back(ms - 300.0);
        }
        std::sort(errors.begin(), errors.end());
        state.counters["median_error_ms"] = errors[errors.size() / 2];
        state.counters["max_error_ms"] = errors.back();
        state.SetIterationTime(1.5);
    }
}
BENCHMARK(BM_RouteLatencyAccuracy)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// /health and a mock while 200 idle connections (half of them mid-header) sit on each port.
void BM_HealthWithHeldConnections(benchmark::State &state)
{
    asio::io_context context;
    std::vector<tcp::socket> held;
    for (const int port : {engine().controlPort, engine().proxyPort}) {
        for (int i = 0; i < 200; ++i) {
            held.emplace_back(context);
            held.back().connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)));
            if (i % 2)
                asio::write(held.back(), asio::buffer(std::string("GET /health HTTP/1.1\r\nX-Slow: 1\r\n")));
        }
    }
    for (auto _ : state) {
        std::vector<double> health;
        for (int i = 0; i < 20; ++i) {
            const auto started = Clock::now();
            control(engine().controlPort, http::verb::get, "/health");
            health.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
        }
        std::sort(health.begin(), health.end());
        state.counters["health_median_ms"] = health[health.size() / 2];
        state.counters["health_max_ms"] = health.back();
        state.SetIterationTime(0.1);
    }
}
BENCHMARK(BM_HealthWithHeldConnections)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------------
// Side by side: wrk loads each side for the same time, and the ratios are printed as counters.

constexpr int kSideBySideSeconds = 3;

std::string programOnPath(const std::string &name)
{
    const char *path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// User and system CPU of a process so far.
double cpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14) // utime, stime
            ticks += std::stod(field);
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The minimal C server (bench/fixed_answer_server.c) answering 200 with a body of the size given.
class AnswerServer {
public:
    explicit AnswerServer(size_t bodyBytes)
    {
        int out[2];
        if (::pipe(out) != 0)
            std::abort();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string program = KESTRION_BENCH_ANSWER_SERVER;
        std::string size = std::to_string(bodyBytes);
        char *argv[] = {program.data(), size.data(), nullptr};
        {
            OnServerCores pinned;
            if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv, environ) != 0)
                std::abort();
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        std::string text;
        char chunk[64];
        while (text.find('\n') == std::string::npos) {
            const ssize_t n = ::read(out[0], chunk, sizeof chunk);
            if (n <= 0)
                std::abort();
            text.append(chunk, static_cast<size_t>(n));
        }
        ::close(out[0]);
        m_port = std::atoi(text.c_str() + text.find("PORT=") + 5);
    }
    ~AnswerServer()
    {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_port = 0;
};

struct Load {
    double requests = 0;
    double perSecond = 0;
    double p50us = 0;
    double p99us = 0;
    double errors = 0;
    double cpuUsPerRequest = 0; // of the measured process
};

double microseconds(const std::string &figure)
{
    const double value = std::atof(figure.c_str());
    if (figure.find("us") != std::string::npos)
        return value;
    if (figure.find("ms") != std::string::npos)
        return value * 1000.0;
    if (figure.find('s') != std::string::npos)
        return value * 1e6;
    return value;
}

// wrk over kept-alive connections to 127.0.0.1:port, Host set to `host`; CPU is taken of `measured`.
Load runWrk(int port, const std::string &host, const std::string &path, int connections, pid_t measured)
{
    const int threads = std::min(connections, 4);
    const char *loadCores = std::getenv("KESTRION_BENCH_LOAD_CPUS");
    const std::string pin = loadCores && *loadCores ? "taskset -c " + std::string(loadCores) + " " : "";
    const std::string command = pin + programOnPath("wrk") + " -t" + std::to_string(threads) + " -c" + std::to_string(connections)
                                + " -d" + std::to_string(kSideBySideSeconds) + "s --timeout 10s --latency -H 'Host: " + host
                                + "' 'http://127.0.0.1:" + std::to_string(port) + path + "' 2>&1";
    const double cpuBefore = cpuSeconds(measured);
    std::string output;
    if (FILE *pipe = ::popen(command.c_str(), "r")) {
        char chunk[4096];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
            output.append(chunk, n);
        ::pclose(pipe);
    }
    const double cpu = cpuSeconds(measured) - cpuBefore;
    Load load;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string first;
        std::string second;
        words >> first >> second;
        if (first == "50%")
            load.p50us = microseconds(second);
        else if (first == "99%")
            load.p99us = microseconds(second);
        else if (first == "Requests/sec:")
            load.perSecond = std::atof(second.c_str());
        else if (line.find(" requests in ") != std::string::npos)
            load.requests = std::atof(first.c_str());
        else if (first == "Non-2xx")
            load.errors += std::atof(line.substr(line.rfind(' ') + 1).c_str());
        else if (first == "Socket" && second == "errors:") {
            for (const char *kind : {"connect ", "read ", "write ", "timeout "}) {
                const size_t at = line.find(kind);
                if (at != std::string::npos)
                    load.errors += std::atof(line.c_str() + at + std::strlen(kind));
            }
        }
    }
    if (load.requests > 0)
        load.cpuUsPerRequest = cpu * 1e6 / load.requests;
    return load;
}

// KESTRION_BENCH_ROUNDS (default 1) runs the sides of a case in turn that many times and reports each
// side's median figures, so a machine whose load comes and goes favours no side.
std::vector<Load> sideBySide(const std::vector<std::function<Load()>> &sides)
{
    const char *text = std::getenv("KESTRION_BENCH_ROUNDS");
    const int rounds = std::max(1, text ? std::atoi(text) : 1);
    std::vector<std::vector<Load>> runs(sides.size());
    for (int round = 0; round < rounds; ++round) {
        for (size_t side = 0; side < sides.size(); ++side)
            runs[side].push_back(sides[side]());
    }
    std::vector<Load> medians;
    for (auto &loads : runs) {
        const auto median = [&](double Load::*field) {
            std::vector<double> values;
            for (const Load &load : loads)
                values.push_back(load.*field);
            std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
            return values[values.size() / 2];
        };
        medians.push_back({median(&Load::requests), median(&Load::perSecond), median(&Load::p50us),
                           median(&Load::p99us), median(&Load::errors), median(&Load::cpuUsPerRequest)});
    }
    return medians;
}

bool haveWrk(benchmark::State &state)
{
    if (!programOnPath("wrk").empty())
        return true;
    state.SkipWithError("skipped: wrk is not installed (scripts/setup installs it)");
    return false;
}

void reportLoad(benchmark::State &state, const std::string &side, const Load &load)
{
    state.counters[side + "_req_per_s"] = load.perSecond;
    state.counters[side + "_p99_us"] = load.p99us;
    state.counters[side + "_cpu_us_per_req"] = load.cpuUsPerRequest;
    if (load.errors > 0)
        state.counters[side + "_errors"] = load.errors;
}

double ratio(double part, double whole)
{
    return whole > 0 ? part / whole : 0.0;
}

// The project limit of 5,000 routes with the one that answers last, against that route alone. Half the
// others are plain paths, half have a ":id" segment like the route asked for.
void BM_SideBySide_RoutesFiveThousandVsOne(benchmark::State &state)
{
    if (!haveWrk(state))
        return;
    const WireRoute wanted = Engine::benchRoute("r-wanted", "bench.test", "/v1/users/:id", 0, false);
    std::vector<WireRoute> many;
    for (int i = 0; many.size() < 4999; ++i) {
        const std::string n = std::to_string(i);
        many.push_back(Engine::benchRoute("r-p" + n, "bench.test", "/v1/res" + n, 0, false));
        many.push_back(Engine::benchRoute("r-q" + n, i % 10 ? "bench.test" : "other" + n + ".test", "/v1/res" + n + "/:id", 0, false));
    }
    many.resize(4999);
    many.push_back(wanted);
    for (auto _ : state) {
        const auto started = Clock::now();
        const auto loads = sideBySide({
            [&] {
                engine().setRoutes({wanted});
                return runWrk(engine().proxyPort, "bench.test", "/v1/users/42", 50, engine().pid);
            },
            [&] {
                engine().setRoutes(many);
                return runWrk(engine().proxyPort, "bench.test", "/v1/users/42", 50, engine().pid);
            },
        });
        const Load &one = loads[0];
        const Load &all = loads[1];
        engine().setRoutes(engine().baseRoutes);
        reportLoad(state, "routes_1", one);
        reportLoad(state, "routes_5000", all);
        state.counters["ratio_5000_vs_1"] = ratio(all.perSecond, one.perSecond);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}
BENCHMARK(BM_SideBySide_RoutesFiveThousandVsOne)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// A 100 KB JSON mock, learned from on every answer, against the same bytes made not JSON by their
// first character.
void BM_SideBySide_LearnedVsUnlearned100KB(benchmark::State &state)
{
    if (!haveWrk(state))
        return;
    std::string json = "[";
    for (int i = 0; json.size() < 100 * 1024 - 200; ++i) {
        json += (i ? "," : "") + std::string(R"({"id":)") + std::to_string(i) + R"(,"name":"user )" + std::to_string(i)
              + R"(","active":true,"score":)" + std::to_string(i * 0.5) + R"(,"tags":["a","b"],"address":{"city":"X","zip":null}})";
    }
    json += "]";
    WireRoute learned = Engine::benchRoute("r-json", "bench.test", "/json", 0, false);
    learned.body = json;
    WireRoute unlearned = Engine::benchRoute("r-text", "bench.test", "/text", 0, false);
    unlearned.body = "<" + json.substr(1);
    std::vector<WireRoute> routes = engine().baseRoutes;
    routes.push_back(learned);
    routes.push_back(unlearned);
    for (auto _ : state) {
        engine().setRoutes(routes);
        const auto started = Clock::now();
        const auto loads = sideBySide({
            [] { return runWrk(engine().proxyPort, "bench.test", "/json", 50, engine().pid); },
            [] { return runWrk(engine().proxyPort, "bench.test", "/text", 50, engine().pid); },
        });
        const Load &json100 = loads[0];
        const Load &text100 = loads[1];
        engine().setRoutes(engine().baseRoutes);
        reportLoad(state, "learned", json100);
        reportLoad(state, "unlearned", text100);
        state.counters["ratio_learned_vs_unlearned"] = ratio(json100.perSecond, text100.perSecond);
        state.counters["p99_learned_vs_unlearned"] = ratio(json100.p99us, text100.p99us);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}
BENCHMARK(BM_SideBySide_LearnedVsUnlearned100KB)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// A mock with two "{{key}}" placeholders under an active environment of 10,000 variables (the two
// among them), against the same mock with an environment that has none.
void BM_SideBySide_EnvironmentTenThousandVsNone(benchmark::State &state)
{
    if (!haveWrk(state))
        return;
    WireRoute placeholders = Engine::benchRoute("r-vars", "bench.test", "/vars", 0, false);
    placeholders.body = R"({"user":"{{userId}}","token":"{{ token }}","ok":true})";
    std::vector<WireRoute> routes = engine().baseRoutes;
    routes.push_back(placeholders);
    const auto environment = [](std::size_t count) {
        WireEnvironment chosen {"env-bench", "Bench", std::vector<WireVar> {}};
        for (std::size_t i = 0; chosen.vars->size() < count; ++i)
            chosen.vars->push_back({"key" + std::to_string(i), "value " + std::to_string(i)});
        if (count > 0) {
            chosen.vars->at(count / 2) = {"userId", "usr_42"};
            chosen.vars->back() = {"token", "abc"};
        }
        return encodeRecord(EnvironmentSet {{chosen}, "env-bench"});
    };
    const std::string none = environment(0);
    const std::string many = environment(10000);
    for (auto _ : state) {
        engine().setRoutes(routes);
        const auto started = Clock::now();
        const auto loads = sideBySide({
            [&] {
                control(engine().controlPort, http::verb::post, "/environments", none);
                return runWrk(engine().proxyPort, "bench.test", "/vars", 50, engine().pid);
            },
            [&] {
                control(engine().controlPort, http::verb::post, "/environments", many);
                return runWrk(engine().proxyPort, "bench.test", "/vars", 50, engine().pid);
            },
        });
        const Load &empty = loads[0];
        const Load &full = loads[1];
        control(engine().controlPort, http::verb::post, "/environments", encodeRecord(EnvironmentSet {}));
        engine().setRoutes(engine().baseRoutes);
        reportLoad(state, "vars_0", empty);
        reportLoad(state, "vars_10000", full);
        state.counters["ratio_10000_vs_0"] = ratio(full.perSecond, empty.perSecond);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}
BENCHMARK(BM_SideBySide_EnvironmentTenThousandVsNone)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// 1 MB answers of the minimal C server, fetched straight from it and through a pass-through route;
// the argument is the number of connections.
void BM_SideBySide_PassThrough1MB(benchmark::State &state)
{
    if (!haveWrk(state))
        return;
    const int connections = static_cast<int>(state.range(0));
    AnswerServer upstream(1024 * 1024);
    const std::string host = "127.0.0.1:" + std::to_string(upstream.port());
    std::vector<WireRoute> routes = engine().baseRoutes;
    routes.push_back(Engine::benchRoute("r-large", host, "/large", 0, true));
    for (auto _ : state) {
        engine().setRoutes(routes);
        const auto started = Clock::now();
        const auto loads = sideBySide({
            [&] { return runWrk(upstream.port(), host, "/large", connections, upstream.pid()); },
            [&] { return runWrk(engine().proxyPort, host, "/large", connections, engine().pid); },
        });
        const Load &direct = loads[0];
        const Load &proxied = loads[1];
        engine().setRoutes(engine().baseRoutes);
        reportLoad(state, "direct", direct);
        reportLoad(state, "proxy", proxied);
        state.counters["ratio_proxy_vs_direct"] = ratio(proxied.perSecond, direct.perSecond);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}
BENCHMARK(BM_SideBySide_PassThrough1MB)->Arg(1)->Arg(10)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// One reader of the engine's event stream for as long as it lives, as the app keeps one open: the
// engine builds and sends every "request" event while it reads.
class EventReader {
public:
    EventReader()
        : m_stream(m_context)
    {
        m_stream.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(engine().controlPort)));
        const std::string request = "GET /events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(engine().controlPort) + "\r\n\r\n";
        asio::write(m_stream, asio::buffer(request));
        m_thread = std::thread([this] {
            std::array<char, 64 * 1024> chunk;
            beast::error_code ec;
            while (!ec)
                m_bytes += m_stream.read_some(asio::buffer(chunk), ec);
        });
    }
    ~EventReader()
    {
        beast::error_code ignored;
        m_stream.shutdown(tcp::socket::shutdown_both, ignored);
        m_thread.join();
    }
    std::size_t bytes() const { return m_bytes; }

private:
    asio::io_context m_context;
    tcp::socket m_stream;
    std::atomic<std::size_t> m_bytes {0};
    std::thread m_thread;
};

// The small mock against the ceiling of the machine: the minimal C server answering a fixed 200 with
// a body of the same size, both on 50 connections, the engine keeping its history, learning and sending
// every event to a reader; and the engine's CPU per mock at 50 against 1.
void BM_SideBySide_MockVsFixed200Server(benchmark::State &state)
{
    if (!haveWrk(state))
        return;
    const size_t bodySize = Engine::benchRoute("", "", "", 0, false).body.size();
    AnswerServer ceiling(bodySize);
    EventReader events;
    for (auto _ : state) {
        const auto started = Clock::now();
        const auto loads = sideBySide({
            [&] { return runWrk(ceiling.port(), "127.0.0.1", "/mock", 50, ceiling.pid()); },
            [] { return runWrk(engine().proxyPort, "bench.test", "/mock", 50, engine().pid); },
            [] { return runWrk(engine().proxyPort, "bench.test", "/mock", 1, engine().pid); },
        });
        const Load &fixed = loads[0];
        const Load &mock = loads[1];
        const Load &single = loads[2];
        reportLoad(state, "c_server", fixed);
        reportLoad(state, "mock_50", mock);
        reportLoad(state, "mock_1", single);
        state.counters["ratio_mock_vs_c_server"] = ratio(mock.perSecond, fixed.perSecond);
        state.counters["cpu_per_req_mock_vs_c_server"] = ratio(mock.cpuUsPerRequest, fixed.cpuUsPerRequest);
        state.counters["cpu_per_req_50_vs_1"] = ratio(mock.cpuUsPerRequest, single.cpuUsPerRequest);
        state.counters["event_mb_read"] = static_cast<double>(events.bytes()) / 1e6;
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}
BENCHMARK(BM_SideBySide_MockVsFixed200Server)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The tail with many clients: the mock and the C server each on 1,000 kept-alive connections, with the
// event reader as above; p99 of the engine against the C server's.
void BM_SideBySide_TailAtThousandConnections(benchmark::State &state)
{
    if (!haveWrk(state))
        return;
    const size_t bodySize = Engine::benchRoute("", "", "", 0, false).body.size();
    AnswerServer ceiling(bodySize);
    EventReader events;
    for (auto _ : state) {
        const auto started = Clock::now();
        const auto loads = sideBySide({
            [&] { return runWrk(ceiling.port(), "127.0.0.1", "/mock", 1000, ceiling.pid()); },
            [] { return runWrk(engine().proxyPort, "bench.test", "/mock", 1000, engine().pid); },
        });
        const Load &fixed = loads[0];
        const Load &mock = loads[1];
        reportLoad(state, "c_server", fixed);
        reportLoad(state, "mock_1000", mock);
        state.counters["p99_mock_vs_c_server"] = ratio(mock.p99us, fixed.p99us);
        state.counters["ratio_mock_vs_c_server"] = ratio(mock.perSecond, fixed.perSecond);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}
BENCHMARK(BM_SideBySide_TailAtThousandConnections)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
