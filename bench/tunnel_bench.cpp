// What intercepted tunnels cost the real stand-in engine, beside the goals: the memory each one holds
// while its client says nothing after the TLS handshake (goal 40 KB), and how soon what a tunnel to a
// host that never answers opened goes once its client has left (goal 2 s).
#include "engine_under_bench.h"
#include "standin-engine/silent_peer.h"

#include <atomic>

namespace {

using namespace proxybench;

constexpr double kGoalKbPerIdleTls = 40;
constexpr double kGoalReleasedWithinS = 2;

// Clients on their own threads that open intercepted tunnels up to the end of the TLS handshake.
class TunnelClients {
public:
    TunnelClients()
    {
        for (int i = 0; i < 2; ++i)
            m_threads.emplace_back([this] { m_context.run(); });
    }
    ~TunnelClients()
    {
        m_work.reset();
        m_context.stop();
        for (auto &thread : m_threads)
            thread.join();
    }

    // Opens `count` tunnels to `authority` through the proxy at once; how many got through the handshake. Kept open, or
    // closed at once when `leave`.
    int open(int proxyPort, const std::string &authority, std::shared_ptr<ssl::context> tls, int count, bool leave)
    {
        std::atomic<int> done {0};
        std::atomic<int> opened {0};
        for (int i = 0; i < count; ++i) {
            asio::co_spawn(m_context, openOne(proxyPort, authority, tls, leave, opened), [&](std::exception_ptr) { ++done; });
        }
        while (done.load() < count)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return opened.load();
    }

    // Closes every held tunnel at once, as clients that leave do.
    void leaveAll()
    {
        std::lock_guard lock(m_mutex);
        for (auto &stream : m_held) {
            beast::error_code ec;
            beast::get_lowest_layer(*stream).socket().close(ec);
        }
        m_held.clear();
    }

    // One request on a held tunnel: whether it was answered.
    bool probe(const std::string &requestTarget, const std::string &host)
    {
        std::lock_guard lock(m_mutex);
        if (m_held.empty())
            return false;
        auto &stream = *m_held[m_held.size() / 2];
        stream.next_layer().expires_never();
        http::request<http::empty_body> request {http::verb::get, requestTarget, 11};
        request.set(http::field::host, host);
        beast::error_code ec;
        http::write(stream, request, ec);
        beast::flat_buffer buffer;
        http::response<http::string_body> response;
        if (!ec)
            http::read(stream, buffer, response, ec);
        return !ec && response.result_int() == 200;
    }

private:
    asio::awaitable<void> openOne(int proxyPort, std::string authority, std::shared_ptr<ssl::context> tls, bool leave,
                                  std::atomic<int> &opened)
    {
        auto stream = std::make_unique<SecureStream>(co_await asio::this_coro::executor, *tls);
        auto &socket = beast::get_lowest_layer(*stream);
        socket.expires_after(std::chrono::seconds(30));
        beast::error_code ec;
        co_await socket.async_connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(proxyPort)},
                                      asio::redirect_error(asio::use_awaitable, ec));
        http::request<http::empty_body> connect {http::verb::connect, authority, 11};
        connect.set(http::field::host, authority);
        if (!ec)
            co_await http::async_write(socket, connect, asio::redirect_error(asio::use_awaitable, ec));
        beast::flat_buffer buffer;
        http::response_parser<http::empty_body> established;
        established.skip(true);
        if (!ec)
            co_await http::async_read_header(socket, buffer, established, asio::redirect_error(asio::use_awaitable, ec));
        if (ec || established.get().result_int() != 200)
            co_return;
        const std::string host = authority.substr(0, authority.rfind(':'));
        SSL_set_tlsext_host_name(stream->native_handle(), host.c_str());
        co_await stream->async_handshake(ssl::stream_base::client, asio::redirect_error(asio::use_awaitable, ec));
        if (ec)
            co_return;
        ++opened;
        socket.expires_never();
        if (leave) {
            socket.socket().close(ec);
            co_return;
        }
        std::lock_guard lock(m_mutex);
        m_held.push_back(std::move(stream));
    }

    asio::io_context m_context;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> m_work {m_context.get_executor()};
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<SecureStream>> m_held;
};

// Intercepted tunnels to a mocked host whose clients finished their handshake and say nothing.
void BM_IdleInterceptedTls(benchmark::State &state)
{
    Engine engine(Setup::Intercepting, "kestrion-tunnel-bench-idle");
    const int count = static_cast<int>(state.range(0));
    auto tls = std::make_shared<ssl::context>(ssl::context::tls_client);
    tls->add_certificate_authority(asio::buffer(engine.caPem));
    tls->set_verify_mode(ssl::verify_peer);
    for (auto _ : state) {
        const auto started = Clock::now();
        TunnelClients clients;
        const auto openMany = [&](int n) { return clients.open(engine.proxyPort, "bench.test:443", tls, n, false); };
        openMany(200); // threads, caches and the leaf warmed up
        const double before = settledResident(engine.pid);
        const int opened = openMany(count);
        const double after = settledResident(engine.pid);
        state.counters["tunnels_held"] = opened;
        state.counters["kb_per_idle_tls"] = (after - before) / std::max(1, opened) / 1024.0;
        state.counters["goal_kb_per_idle_tls"] = kGoalKbPerIdleTls;
        state.counters["engine_rss_mb"] = after / kMB;
        state.counters["probe_answered"] = clients.probe("/mock", "bench.test") ? 1 : 0;
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}

// Clients that finish their handshake through a tunnel to a host that takes connections and never
// answers, then all leave at once: the memory each held tunnel takes, and how long the engine keeps
// what it opened for them once they have gone (its connections to the host among it).
void BM_TunnelsToSilentHost(benchmark::State &state)
{
    Engine engine(Setup::Intercepting, "kestrion-tunnel-bench-silent");
    const int count = static_cast<int>(state.range(0));
    standintest::SilentPeer host(SOCK_STREAM);
    auto tls = std::make_shared<ssl::context>(ssl::context::tls_client);
    tls->add_certificate_authority(asio::buffer(engine.caPem));
    tls->set_verify_mode(ssl::verify_peer);
    const std::string authority = "127.0.0.1:" + std::to_string(host.port());
    for (auto _ : state) {
        const auto started = Clock::now();
        const double before = settledResident(engine.pid);
        TunnelClients clients;
        // In waves, as clients arrive; all finished their handshake before any leaves.
        int left = 0;
        for (int wave = 0; wave < count; wave += 500)
            left += clients.open(engine.proxyPort, authority, tls, std::min(500, count - wave), false);
        const double held = statusBytes(engine.pid, "VmRSS");
        clients.leaveAll();
        const auto gone = Clock::now();
        double releasedAfter = -1;
        double openAt2s = -1;
        double rssAt2s = 0;
        while (Clock::now() - gone < std::chrono::seconds(15)) {
            const double since = std::chrono::duration<double>(Clock::now() - gone).count();
            const std::size_t open = host.open();
            if (openAt2s < 0 && since >= kGoalReleasedWithinS) {
                openAt2s = static_cast<double>(open);
                rssAt2s = statusBytes(engine.pid, "VmRSS");
            }
            if (open == 0 && releasedAfter < 0)
                releasedAfter = since;
            if (releasedAfter >= 0 && openAt2s >= 0)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const double peak = statusBytes(engine.pid, "VmHWM");
        state.counters["clients_left"] = left;
        state.counters["host_connections_made"] = static_cast<double>(host.accepted());
        state.counters["host_connections_open_at_2s"] = openAt2s;
        state.counters["released_within_s"] = releasedAfter;
        state.counters["goal_released_within_s"] = kGoalReleasedWithinS;
        state.counters["peak_rss_mb"] = peak / kMB;
        state.counters["kb_per_tunnel_held"] = (held - before) / std::max(1, left) / 1024.0;
        state.counters["rss_at_2s_mb"] = rssAt2s / kMB;
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - started).count());
    }
}

} // namespace

BENCHMARK(BM_TunnelsToSilentHost)->Arg(3000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleInterceptedTls)->Arg(4000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
