// The real stand-in engine as a child process for the proxy, flood and import benchmarks, with the
// hosts it passes through to, and the benchmarks' own clients that load it (plain or through CONNECT,
// kept alive or not).
#pragma once

#include <utility> // before asio: its awaitable.hpp uses std::exchange without including it

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <benchmark/benchmark.h>

#include "engine/records/engine_records.h"
#include "side_by_side.h"
#include "standin-engine/wire_routes.h"
#include "tls/leaf_certificates.h"
#include "tls/root_ca.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace proxybench {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr auto kRunFor = std::chrono::milliseconds(1500);

// Hands each connection `acceptor` takes to `take`, until the acceptor fails or its context stops.
template <class Take>
asio::awaitable<void> acceptEach(tcp::acceptor &acceptor, Take take)
{
    for (;;) {
        beast::error_code ec;
        tcp::socket socket = co_await acceptor.async_accept(asio::redirect_error(asio::use_awaitable, ec));
        if (ec)
            co_return;
        take(std::move(socket));
    }
}

// A fixed answer from a real host, plain or TLS, for pass-through.
class BenchUpstream {
public:
    explicit BenchUpstream(std::shared_ptr<ssl::context> tls)
        : m_tls(std::move(tls))
        , m_acceptor(m_context, {asio::ip::make_address("127.0.0.1"), 0})
    {
        asio::co_spawn(m_context, acceptEach(m_acceptor, [this](tcp::socket socket) { take(std::move(socket)); }),
                       asio::detached);
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
    void take(tcp::socket socket)
    {
        socket.set_option(tcp::no_delay(true));
        if (m_tls)
            asio::co_spawn(m_context, serveTls(std::move(socket)), asio::detached);
        else
            asio::co_spawn(m_context, serve(beast::tcp_stream(std::move(socket))), asio::detached);
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
            http::request_parser<http::string_body> parser;
            parser.header_limit(64 * 1024); // heads as large as the proxy passes on
            beast::error_code ec;
            co_await http::async_read(stream, buffer, parser, asio::redirect_error(asio::use_awaitable, ec));
            if (ec)
                co_return;
            const auto &request = parser.get();
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

// What the engine under bench printed for the process that started it; every control request shows it.
inline std::string controlToken;

// One blocking control request and its answer, however large; `ec` says when no whole answer came.
inline http::response<http::string_body> exchange(int port, http::verb method, const std::string &target,
                                                  const std::string &body, beast::error_code &ec)
{
    asio::io_context context;
    beast::tcp_stream stream(context);
    stream.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)));
    http::request<http::string_body> request {method, target, 11};
    request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
    request.set("X-Kestrion-Token", controlToken);
    if (!body.empty())
        request.set(http::field::content_type, "application/json");
    request.body() = body;
    request.prepare_payload();
    http::write(stream, request);
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> response;
    response.body_limit(256 * 1024 * 1024);
    http::read(stream, buffer, response, ec);
    return response.release();
}

// The body of one blocking control request.
inline std::string control(int port, http::verb method, const std::string &target, const std::string &body = {})
{
    beast::error_code ec;
    auto response = exchange(port, method, target, body, ec);
    if (ec)
        throw beast::system_error(ec);
    return std::move(response.body());
}

constexpr double kMB = 1024.0 * 1024.0;

// A figure of /proc/<pid>/status in bytes: "VmRSS" now, "VmHWM" the peak so far.
inline double statusBytes(pid_t pid, const std::string &field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0)
            return std::atof(line.c_str() + field.size() + 1) * 1024.0;
    }
    return 0;
}

// The engine's resident memory once it stops changing (connections still closing, pairs still joined).
inline double settledResident(pid_t pid)
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

// What the engine under bench starts with.
enum class Setup {
    Intercepting, // a root CA is generated, so HTTPS is intercepted
    Blind,        // no CA: tunnels are relayed blind
    Bare,         // the engine alone: no CA, upstreams or routes, and its proxy not started
};

// The stand-in engine as a child process, with its routes, CA and two upstreams unless it is bare.
struct Engine {
    std::filesystem::path dir;
    pid_t pid = -1;
    int stdinFd = -1;
    int controlPort = 0;
    int proxyPort = 0;
    std::string caPem;
    std::unique_ptr<BenchUpstream> plainUpstream;
    std::unique_ptr<BenchUpstream> tlsUpstream;
    // The TLS hosts' identity ("localhost", signed by dir/upstream-ca.pem, which the engine trusts).
    std::shared_ptr<ssl::context> upstreamTls;

    // `name` tells apart the data folders of engines the same benchmark runs at once.
    explicit Engine(Setup setup = Setup::Intercepting, const std::string &name = "kestrion-proxy-bench")
    {
        dir = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
        std::error_code stale;
        std::filesystem::remove_all(dir, stale); // left by an earlier run that had this pid
        std::filesystem::create_directories(dir);
        std::vector<std::string> environment;
        if (setup != Setup::Bare) {
            startUpstreams();
            environment.push_back("KESTRION_TEST_UPSTREAM_CA=" + (dir / "upstream-ca.pem").string());
        }
        spawn(setup != Setup::Bare, environment);
        if (setup == Setup::Bare)
            return;
        proxyPort = decodeRecord<EngineHealth>(control(controlPort, http::verb::get, "/health"))->proxyPort;
        if (setup == Setup::Intercepting)
            caPem = decodeRecord<CAInfo>(control(controlPort, http::verb::post, "/ca/generate"))->certPEM;

        baseRoutes = {
            benchRoute("r-mock", "bench.test", "/mock", 0, false),
            benchRoute("r-late", "bench.test", "/late", 300, false),
            benchRoute("r-pass", "127.0.0.1:" + std::to_string(plainUpstream->port()), "/pass", 0, true),
            benchRoute("r-tls-pass", "localhost:" + std::to_string(tlsUpstream->port()), "/pass", 0, true),
        };
        setRoutes(baseRoutes);
    }

    // Status of one control POST; -1 when no whole answer came.
    int post(const std::string &target, const std::string &body) const
    {
        beast::error_code ec;
        const auto response = exchange(controlPort, http::verb::post, target, body, ec);
        return ec ? -1 : static_cast<int>(response.result_int());
    }

    static WireRoute benchRoute(const std::string &id, const std::string &host, const std::string &path, int latency,
                                bool pass)
    {
        WireRoute route
            = standintest::wireRoute(id, "GET", host, path, R"({"id":"usr_01","name":"Bench","roles":["a","b"]})", pass);
        route.latencyMs = latency;
        return route;
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

private:
    // A plain and a TLS host for pass-through, the TLS one under a CA of its own the engine trusts.
    void startUpstreams()
    {
        std::string error;
        const auto upstreamCa = standin::makeSelfSignedCA("Bench upstream CA", error);
        const auto leaf = standin::issueLeaf(upstreamCa->first, upstreamCa->second, "localhost", std::chrono::hours(24), error);
        std::ofstream(dir / "upstream-ca.pem") << upstreamCa->first;
        auto tls = std::make_shared<ssl::context>(ssl::context::tls_server);
        tls->use_certificate_chain(asio::buffer(leaf->certPEM));
        tls->use_private_key(asio::buffer(leaf->keyPEM), ssl::context::pem);
        plainUpstream = std::make_unique<BenchUpstream>(nullptr);
        tlsUpstream = std::make_unique<BenchUpstream>(tls);
        upstreamTls = tls;
    }

    // Starts the engine with `environment` added to ours and reads its control port and token.
    void spawn(bool autostart, const std::vector<std::string> &environment)
    {
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
        std::vector<std::string> arguments = {binary, "--data-dir", data, "--control-port", "0", "--proxy-port", "0"};
        if (autostart)
            arguments.push_back("--autostart");
        std::vector<char *> argv;
        for (auto &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::vector<char *> envp;
        for (char **e = environ; *e; ++e)
            envp.push_back(*e);
        for (const auto &variable : environment)
            envp.push_back(const_cast<char *>(variable.c_str()));
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
        posix_spawn_file_actions_destroy(&actions);
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
        // The engine prints its token on the line before the port's.
        static constexpr std::string_view kTokenPrefix = "KESTRION_CONTROL_TOKEN=";
        const size_t token = text.find(kTokenPrefix) + kTokenPrefix.size();
        controlToken = text.substr(token, text.find('\n', token) - token);
        // Keep draining the engine's log so it never blocks on a full pipe.
        std::thread([fd = out[0]] {
            char sink[4096];
            while (::read(fd, sink, sizeof sink) > 0) {
            }
            ::close(fd);
        }).detach();
    }
};

inline Engine &engine()
{
    static Engine instance;
    return instance;
}

struct Target {
    bool tls = false;         // TLS: through CONNECT with interception, or straight to `port`
    std::string authority;    // CONNECT authority, for tls through the proxy
    std::string requestTarget;
    std::string host;
    int port = 0;             // a server of its own to talk to instead of the engine's proxy port
    bool resume = false;      // offers the last TLS session again on each new connection
};

struct Samples {
    std::mutex mutex;
    std::vector<double> micros;
    std::size_t errors = 0;
    std::size_t resumed = 0;
};

using SecureStream = beast::ssl_stream<beast::tcp_stream>;
using SessionPtr = std::unique_ptr<SSL_SESSION, decltype(&SSL_SESSION_free)>;

// A new connection for the target: plain, or TLS after a CONNECT through the proxy or straight to
// its own server, offering `session` when there is one.
inline asio::awaitable<void> open(const Target &target, std::shared_ptr<ssl::context> tls, SSL_SESSION *session,
                                  beast::flat_buffer &buffer, std::unique_ptr<beast::tcp_stream> &plain,
                                  std::unique_ptr<SecureStream> &secure, beast::error_code &ec)
{
    auto executor = co_await asio::this_coro::executor;
    const int port = target.port ? target.port : engine().proxyPort;
    const tcp::endpoint server(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port));
    buffer.clear();
    auto stream = std::make_unique<beast::tcp_stream>(executor);
    co_await stream->async_connect(server, asio::redirect_error(asio::use_awaitable, ec));
    stream->socket().set_option(tcp::no_delay(true), ec);
    if (ec || !target.tls) {
        plain = std::move(stream);
        co_return;
    }
    if (!target.port) {
        http::request<http::empty_body> connect {http::verb::connect, target.authority, 11};
        connect.set(http::field::host, target.authority);
        co_await http::async_write(*stream, connect, asio::redirect_error(asio::use_awaitable, ec));
        http::response_parser<http::empty_body> established;
        established.skip(true);
        if (!ec)
            co_await http::async_read_header(*stream, buffer, established, asio::redirect_error(asio::use_awaitable, ec));
        if (ec)
            co_return;
    }
    secure = std::make_unique<SecureStream>(std::move(*stream), *tls);
    SSL_set_tlsext_host_name(secure->native_handle(), target.host.c_str());
    if (session)
        SSL_set_session(secure->native_handle(), session);
    co_await secure->async_handshake(ssl::stream_base::client, asio::redirect_error(asio::use_awaitable, ec));
}

// Keeps one connection busy until the deadline: request, whole answer, next (reconnecting each time
// unless kept alive).
inline asio::awaitable<void> client(const Target &target, bool keepAlive, Clock::time_point deadline,
                                    std::shared_ptr<ssl::context> tls, Samples &samples)
{
    std::vector<double> local;
    std::size_t errors = 0;
    std::size_t resumed = 0;
    SessionPtr session(nullptr, SSL_SESSION_free);
    std::unique_ptr<beast::tcp_stream> plain;
    std::unique_ptr<SecureStream> secure;
    beast::flat_buffer buffer;
    http::request<http::empty_body> request {http::verb::get, target.requestTarget, 11};
    request.set(http::field::host, target.host);
    request.keep_alive(keepAlive);
    while (Clock::now() < deadline) {
        const auto started = Clock::now();
        beast::error_code ec;
        if (!plain && !secure) {
            co_await open(target, tls, session.get(), buffer, plain, secure, ec);
            if (ec) {
                ++errors;
                plain.reset();
                secure.reset();
                continue;
            }
            if (secure && SSL_session_reused(secure->native_handle()))
                ++resumed;
        }
        http::response<http::string_body> response;
        if (secure) {
            co_await http::async_write(*secure, request, asio::redirect_error(asio::use_awaitable, ec));
            if (!ec)
                co_await http::async_read(*secure, buffer, response, asio::redirect_error(asio::use_awaitable, ec));
            // TLS 1.3 hands its tickets over after the handshake: they have arrived by the answer.
            if (!ec && target.resume)
                session.reset(SSL_get1_session(secure->native_handle()));
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
        // Closed as after a close_notify: OpenSSL won't offer a session again from a connection it
        // saw dropped.
        if (!keepAlive && secure)
            SSL_set_shutdown(secure->native_handle(), SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
        if (!keepAlive) {
            plain.reset();
            secure.reset();
        }
    }
    std::lock_guard lock(samples.mutex);
    samples.micros.insert(samples.micros.end(), local.begin(), local.end());
    samples.errors += errors;
    samples.resumed += resumed;
}

// Trusts the engine's root CA and, when given, another one (a peer server's).
inline std::shared_ptr<ssl::context> clientTls(const std::string &otherCaPem = {})
{
    auto tls = std::make_shared<ssl::context>(ssl::context::tls_client);
    tls->add_certificate_authority(asio::buffer(engine().caPem));
    if (!otherCaPem.empty())
        tls->add_certificate_authority(asio::buffer(otherCaPem));
    tls->set_verify_mode(ssl::verify_peer);
    return tls;
}

inline double quantile(std::vector<double> &sorted, double q)
{
    return sorted.empty() ? 0.0 : sorted[std::min(sorted.size() - 1, static_cast<size_t>(q * sorted.size()))];
}

inline void report(benchmark::State &state, Samples &samples, double seconds)
{
    auto &micros = samples.micros;
    std::sort(micros.begin(), micros.end());
    state.counters["req_per_s"] = static_cast<double>(micros.size()) / seconds;
    state.counters["median_us"] = quantile(micros, 0.5);
    state.counters["p99_us"] = quantile(micros, 0.99);
    state.counters["errors"] = static_cast<double>(samples.errors);
}

// The benchmark's clients on `connections` connections for `length`, on the load cores when they are
// given; how long they ran.
inline double runClients(const Target &target, int connections, bool keepAlive, std::shared_ptr<ssl::context> tls,
                         Clock::duration length, Samples &samples)
{
    asio::io_context context;
    const auto started = Clock::now();
    const auto deadline = started + length;
    for (int i = 0; i < connections; ++i)
        asio::co_spawn(context, client(target, keepAlive, deadline, tls, samples), asio::detached);
    const auto loadCores = coresFrom("KESTRION_BENCH_LOAD_CPUS");
    std::vector<std::thread> threads;
    for (int i = 0; i < (connections > 1 ? 3 : 1); ++i) {
        threads.emplace_back([&] {
            if (loadCores)
                ::sched_setaffinity(0, sizeof *loadCores, &*loadCores);
            context.run();
        });
    }
    for (auto &thread : threads)
        thread.join();
    return std::chrono::duration<double>(Clock::now() - started).count();
}

inline void runLoad(benchmark::State &state, const Target &target, bool keepAlive)
{
    const int connections = static_cast<int>(state.range(0));
    auto tls = clientTls();
    for (auto _ : state) {
        Samples samples;
        const double seconds = runClients(target, connections, keepAlive, tls, kRunFor, samples);
        state.SetIterationTime(seconds);
        report(state, samples, seconds);
    }
}

// The benchmark's clients as one side of a side-by-side case, with the CPU `measured` used per answer.
inline Load clientLoad(const Target &target, int connections, bool keepAlive, std::shared_ptr<ssl::context> tls,
                       pid_t measured, std::size_t *resumed = nullptr)
{
    Samples samples;
    const double cpuBefore = cpuSeconds(measured);
    const double seconds = runClients(target, connections, keepAlive, tls, std::chrono::seconds(kSideBySideSeconds), samples);
    const double cpu = cpuSeconds(measured) - cpuBefore;
    auto &micros = samples.micros;
    std::sort(micros.begin(), micros.end());
    Load load;
    load.requests = static_cast<double>(micros.size());
    load.perSecond = load.requests / seconds;
    load.p50us = quantile(micros, 0.5);
    load.p99us = quantile(micros, 0.99);
    load.errors = static_cast<double>(samples.errors);
    load.cpuUsPerRequest = load.requests > 0 ? cpu * 1e6 / load.requests : 0;
    if (resumed)
        *resumed = samples.resumed;
    return load;
}

} // namespace proxybench
