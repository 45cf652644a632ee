// curl's repeat of an upload its host refused with 417 before the body, straight to the host and through
// an intercepted tunnel: the proxy should cost the repeat no more than the new connection it goes on.
#include "engine_under_bench.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

using namespace proxybench;

// A TLS host that refuses every expectation with 417 and keeps its connection, as aiohttp does; a
// request without one has its body read and gets 200.
class RefusingHost {
public:
    explicit RefusingHost(std::shared_ptr<ssl::context> tls)
        : m_tls(std::move(tls))
        , m_acceptor(m_context, {asio::ip::make_address("127.0.0.1"), 0})
    {
        asio::co_spawn(m_context, accept(), asio::detached);
        m_thread = std::thread([this] { m_context.run(); });
    }
    ~RefusingHost()
    {
        m_context.stop();
        m_thread.join();
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
            asio::co_spawn(m_context, serve(std::move(socket)), asio::detached);
        }
    }
    asio::awaitable<void> serve(tcp::socket socket)
    {
        beast::ssl_stream<beast::tcp_stream> stream(std::move(socket), *m_tls);
        beast::error_code ec;
        co_await stream.async_handshake(ssl::stream_base::server, asio::redirect_error(asio::use_awaitable, ec));
        beast::flat_buffer buffer;
        while (!ec) {
            http::request_parser<http::empty_body> header;
            header.body_limit(64 * 1024 * 1024);
            co_await http::async_read_header(stream, buffer, header, asio::redirect_error(asio::use_awaitable, ec));
            if (ec)
                co_return;
            http::response<http::string_body> response {http::status::ok, 11};
            if (beast::iequals(header.get()[http::field::expect], "100-continue")) {
                response.result(http::status::expectation_failed); // the body is not read
            } else {
                http::request_parser<http::string_body> body {std::move(header)};
                co_await http::async_read(stream, buffer, body, asio::redirect_error(asio::use_awaitable, ec));
                response.body() = "ok";
            }
            response.prepare_payload();
            if (!ec)
                co_await http::async_write(stream, response, asio::redirect_error(asio::use_awaitable, ec));
        }
    }

    std::shared_ptr<ssl::context> m_tls;
    asio::io_context m_context;
    tcp::acceptor m_acceptor;
    std::thread m_thread;
};

// curl's status and total time in seconds for `arguments`, which upload enough for it to ask to continue.
std::pair<int, double> curlUpload(const std::string &arguments)
{
    const std::string command = "curl -sS -o /dev/null -w '%{http_code} %{time_total}' " + arguments + " 2>/dev/null";
    FILE *output = ::popen(command.c_str(), "r");
    int status = 0;
    double seconds = 0;
    if (output) {
        if (std::fscanf(output, "%d %lf", &status, &seconds) != 2)
            status = 0;
        ::pclose(output);
    }
    return {status, seconds};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Milliseconds, the median of alternating rounds: direct_ms and proxy_ms, and what the proxy adds.
void BM_CurlRepeatAfter417OverTls(benchmark::State &state)
{
    if (programOnPath("curl").empty()) {
        state.SkipWithError("curl is not installed");
        return;
    }
    Engine &running = engine();
    RefusingHost host(running.upstreamTls);
    const std::string engineCa = (running.dir / "engine-ca.pem").string();
    std::ofstream(engineCa) << running.caPem;
    const std::string upload = (running.dir / "upload.bin").string();
    std::ofstream(upload, std::ios::binary) << std::string(2 * 1024 * 1024, 'u');
    const std::string url = "https://localhost:" + std::to_string(host.port()) + "/upload";
    const std::string common = "--max-time 30 --data-binary @" + upload + " " + url;
    std::vector<double> direct;
    std::vector<double> proxied;
    int failures = 0;
    for (auto _ : state) {
        for (int round = 0; round < 10; ++round) {
            const auto [directStatus, directSeconds]
                = curlUpload("--noproxy '*' --cacert " + (running.dir / "upstream-ca.pem").string() + " " + common);
            const auto [proxiedStatus, proxiedSeconds] = curlUpload(
                "-x http://127.0.0.1:" + std::to_string(running.proxyPort) + " --cacert " + engineCa + " " + common);
            failures += (directStatus != 200) + (proxiedStatus != 200);
            direct.push_back(directSeconds * 1000);
            proxied.push_back(proxiedSeconds * 1000);
        }
        state.SetIterationTime(median(proxied) / 1000);
    }
    state.counters["direct_ms"] = median(direct);
    state.counters["proxy_ms"] = median(proxied);
    state.counters["added_ms"] = median(proxied) - median(direct);
    state.counters["failures"] = failures;
}

} // namespace

BENCHMARK(BM_CurlRepeatAfter417OverTls)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
