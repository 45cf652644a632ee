// The real stand-in engine's proxy over loopback: requests per second and latency (median, p99)
// for mock answers and pass-through, plain HTTP and intercepted HTTPS, kept-alive and new
// connections, 1 and 50 connections; TLS handshakes per second with a cached leaf; how exactly a
// route's latency is kept; /health while 200 idle connections sit on each port. The side-by-side
// cases load both sides with wrk and print their ratios: 1 vs 5,000 routes, a learned vs an unlearned
// 100 KB body, 1 MB through the proxy vs straight from a minimal C server, and a mock vs that server
// answering a fixed 200 on 50 and on 1,000 connections, throughput, CPU per answer and p99, with an
// event reader attached (KESTRION_BENCH_ROUNDS repeats them). KESTRION_BENCH_SERVER_CPUS ("0-3") pins the
// engine and the C server to those cores and KESTRION_BENCH_LOAD_CPUS ("4-7") pins wrk, so each side's
// load stays off the other's cores (and the benchmark's own clients). nginx is the peer for a 1 KB
// pass-through (as a reverse proxy) and for new TLS connections (as an HTTPS server). A 60 KB head
// whose Connection field lists thousands of names is measured against a plain one of the same size.
// KESTRION_BENCH_ENGINE runs another engine build (a baseline); KESTRION_BENCH_ENGINE_PRELOAD preloads
// a library (an allocator) into the engine only.
#include "engine_under_bench.h"
#include "nginx_peer.h"
#include "side_by_side.h"

#include <array>
#include <atomic>
#include <fstream>

namespace {

using namespace proxybench;

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

// A 1 KB file from nginx through a pass-through route, against nginx as a reverse proxy to the same
// host keeping its connections to it (keepalive, proxy_http_version 1.1), both on 50 connections:
// throughput, each proxy's CPU per answer, and how many connections the engine then keeps to the host.
void BM_SideBySide_PassThrough1KBVsNginx(benchmark::State &state)
{
    if (!haveWrk(state))
        return;
    NginxPeer host("host", "    root @DIR@/www;");
    std::ofstream(host.dir() / "www" / "1k") << std::string(1024, 'k');
    NginxPeer proxy("proxy",
                    "    location / {\n      proxy_pass http://host;\n      proxy_http_version 1.1;\n"
                    "      proxy_set_header Connection \"\";\n    }",
                    "  upstream host {\n    server 127.0.0.1:" + std::to_string(host.port()) + ";\n    keepalive 64;\n  }\n");
    std::string error;
    if (!host.start(error) || !proxy.start(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::string authority = "127.0.0.1:" + std::to_string(host.port());
    std::vector<WireRoute> routes = engine().baseRoutes;
    routes.push_back(Engine::benchRoute("r-1k", authority, "/1k", 0, true));
    for (auto _ : state) {
        engine().setRoutes(routes);
        const auto started = Clock::now();
        int held = 0;
        const auto loads = sideBySide({
            [&] { return runWrk(proxy.port(), authority, "/1k", 50, proxy.pid()); },
            [&] {
                // Counted halfway through the load, while every client has its exchange going.
                std::thread count([&] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(kSideBySideSeconds * 500));
                    held = std::max(held, connectionsTo(engine().pid, host.port()));
                });
                const Load load = runWrk(engine().proxyPort, authority, "/1k", 50, engine().pid);
                count.join();
                return load;
            },
        });
        const Load &nginx = loads[0];
        const Load &proxied = loads[1];
        state.counters["engine_host_connections"] = held;
        engine().setRoutes(engine().baseRoutes);
        reportLoad(state, "nginx", nginx);
        reportLoad(state, "engine", proxied);
        state.counters["ratio_engine_vs_nginx"] = ratio(proxied.perSecond, nginx.perSecond);
        state.counters["cpu_per_req_engine_vs_nginx"] = ratio(proxied.cpuUsPerRequest, nginx.cpuUsPerRequest);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}
BENCHMARK(BM_SideBySide_PassThrough1KBVsNginx)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// A new TLS connection for each request, 16 clients at a time: through CONNECT with the engine's
// cached leaf (a full handshake, no resumption), against nginx as an HTTPS server with a P-256 leaf of
// its own CA, with the same client; and the engine again with clients that offer their last session.
void BM_SideBySide_NewTlsConnectionVsNginx(benchmark::State &state)
{
    const std::string body = Engine::benchRoute("", "", "", 0, false).body;
    NginxPeer server("tls",
                     "    ssl_certificate @DIR@/leaf.pem;\n    ssl_certificate_key @DIR@/leaf.key;\n"
                     // Debian's nginx offers only up to TLS 1.2 unless told, and the engine and the client
                     // speak 1.3: both sides must do the same handshake.
                     "    ssl_protocols TLSv1.2 TLSv1.3;\n"
                     "    location /mock {\n      default_type application/json;\n      return 200 '" + body + "';\n    }",
                     {}, "ssl");
    std::string error;
    const auto ca = standin::makeSelfSignedCA("Bench nginx CA", error);
    const auto leaf = ca ? standin::issueLeaf(ca->first, ca->second, "localhost", std::chrono::hours(24), error) : std::nullopt;
    if (leaf) {
        std::ofstream(server.dir() / "leaf.pem") << leaf->certPEM;
        std::ofstream(server.dir() / "leaf.key") << leaf->keyPEM;
    }
    if (!leaf || !server.start(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    auto tls = clientTls(ca->first);
    const Target direct {true, "", "/mock", "localhost", server.port(), false};
    Target intercepted {true, "bench.test:443", "/mock", "bench.test", 0, false};
    Target resuming = intercepted;
    resuming.resume = true;
    constexpr int kClients = 16;
    for (auto _ : state) {
        const auto started = Clock::now();
        double resumedShare = 0; // of the last round's connections
        const auto loads = sideBySide({
            [&] { return clientLoad(direct, kClients, false, tls, server.pid()); },
            [&] { return clientLoad(intercepted, kClients, false, tls, engine().pid); },
            [&] {
                std::size_t resumed = 0;
                const Load load = clientLoad(resuming, kClients, false, tls, engine().pid, &resumed);
                resumedShare = ratio(static_cast<double>(resumed), load.requests);
                return load;
            },
        });
        reportLoad(state, "nginx", loads[0]);
        reportLoad(state, "engine", loads[1]);
        reportLoad(state, "engine_resumed", loads[2]);
        state.counters["cpu_per_conn_engine_vs_nginx"] = ratio(loads[1].cpuUsPerRequest, loads[0].cpuUsPerRequest);
        state.counters["resumed_share"] = resumedShare;
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}
BENCHMARK(BM_SideBySide_NewTlsConnectionVsNginx)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// One reader of the engine's event stream for as long as it lives, as the app keeps one open: the
// engine builds and sends every "request" event while it reads.
class EventReader {
public:
    EventReader()
        : m_stream(m_context)
    {
        m_stream.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(engine().controlPort)));
        const std::string request = "GET /events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(engine().controlPort)
                                    + "\r\nX-Kestrion-Token: " + controlToken + "\r\n\r\n";
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

// A 60 KB head whose Connection field lists 6,000 names, 3,000 of them fields it carries, passed through
// to a host, against a plain head of the same size with 3,000 fields: the engine's CPU per request of
// each, one request at a time on one kept connection (a head's cost, not the machine's load).
void BM_ConnectionListingHeadVsPlainHead(benchmark::State &state)
{
    constexpr int kRequests = 100;
    const Target pass = passHttp();
    const auto headOf = [&](bool listing) {
        std::string head = "GET " + pass.requestTarget + " HTTP/1.1\r\nHost: " + pass.host + "\r\nConnection: ";
        if (listing) {
            for (int i = 0; i < 6000; ++i)
                head.append(i ? ",t" : "t").append(std::to_string(i));
        } else {
            head += "keep-alive";
        }
        head += "\r\n";
        for (int i = 0; i < 3000; ++i)
            head.append(listing ? "t" : "x").append(std::to_string(i)).append(":1\r\n");
        for (std::size_t filler = 0; head.size() < 60000; ++filler)
            head.append("X-Filler-").append(std::to_string(filler)).append(": ").append(200, 'f').append("\r\n");
        return head + "\r\n";
    };
    const auto cpuPerRequest = [&](const std::string &head) {
        asio::io_context context;
        beast::tcp_stream stream(context);
        stream.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(engine().proxyPort)));
        beast::flat_buffer buffer;
        const double before = cpuSeconds(engine().pid);
        for (int i = 0; i < kRequests; ++i) {
            beast::error_code ec;
            asio::write(stream, asio::buffer(head), ec);
            http::response<http::string_body> answer;
            if (!ec)
                http::read(stream, buffer, answer, ec);
            if (ec || answer.result_int() != 200) {
                state.SkipWithError("a request through the proxy was not answered 200");
                break;
            }
        }
        return (cpuSeconds(engine().pid) - before) * 1e6 / kRequests;
    };
    for (auto _ : state) {
        const auto started = Clock::now();
        const std::string plainHead = headOf(false);
        const std::string listingHead = headOf(true);
        const double plain = cpuPerRequest(plainHead);
        const double listing = cpuPerRequest(listingHead);
        state.counters["plain_head_bytes"] = static_cast<double>(plainHead.size());
        state.counters["listing_head_bytes"] = static_cast<double>(listingHead.size());
        state.counters["plain_cpu_us_per_req"] = plain;
        state.counters["listing_cpu_us_per_req"] = listing;
        state.counters["cpu_listing_vs_plain"] = ratio(listing, plain);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}
BENCHMARK(BM_ConnectionListingHeadVsPlainHead)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
