// The real stand-in engine's proxy over loopback: requests per second and latency (median, p99)
// for mock answers and pass-through, plain HTTP and intercepted HTTPS, kept-alive and new
// connections, 1 and 50 connections; TLS handshakes per second with a cached leaf; how exactly a
// route's latency is kept; /health while 200 idle connections sit on each port.
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
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <spawn.h>
#include <string>
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
        std::vector<std::string> arguments = {KESTRION_BENCH_ENGINE, "--data-dir", data, "--control-port", "0",
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
        envp.push_back(nullptr);
        if (posix_spawn(&pid, KESTRION_BENCH_ENGINE, &actions, nullptr, argv.data(), envp.data()) != 0)
            std::abort();
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

        auto route = [](const std::string &id, const std::string &host, const std::string &path, int latency, bool pass) {
            WireRoute r;
            r.id = id;
            r.method = "GET";
            r.host = host;
            r.path = path;
            r.latencyMs = latency;
            r.passThrough = pass;
            r.body = R"({"id":"usr_01","name":"Bench","roles":["a","b"]})";
            return r;
        };
        const std::vector<WireRoute> routes = {
            route("r-mock", "bench.test", "/mock", 0, false),
            route("r-late", "bench.test", "/late", 300, false),
            route("r-pass", "127.0.0.1:" + std::to_string(plainUpstream->port()), "/pass", 0, true),
            route("r-tls-pass", "localhost:" + std::to_string(tlsUpstream->port()), "/pass", 0, true),
        };
        control(controlPort, http::verb::post, "/routes", encodeRecord(routes));
    }

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

} // namespace

BENCHMARK_MAIN();
