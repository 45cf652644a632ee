// Capture and OpenAPI imports on the real stand-in engine: the time of an import and the engine's peak
// memory while it parses a large browser capture, a generated API document and the hostile bodies of
// the import bounds. Goals: a 40 MB HAR peaks under twice the file plus 64 MB; each hostile body, alone or
// four at once, stays under 128 MB and 300 MB.
#include <utility> // before asio: its awaitable.hpp uses std::exchange without including it

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <benchmark/benchmark.h>

#include "standin-engine/imports/import_corpus.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// A fresh engine on its own data folder; its memory is read from /proc.
class ImportEngine {
public:
    ImportEngine()
    {
        m_dir = std::filesystem::temp_directory_path() / ("import-bench-" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
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
        const char *binary = std::getenv("KESTRION_BENCH_ENGINE") ? std::getenv("KESTRION_BENCH_ENGINE") : KESTRION_BENCH_ENGINE;
        std::vector<std::string> arguments = {binary, "--data-dir", (m_dir / "data").string(), "--control-port", "0",
                                              "--proxy-port", "0"};
        std::vector<char *> argv;
        for (auto &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, binary, &actions, nullptr, argv.data(), environ) != 0)
            std::abort();
        ::close(in[0]);
        ::close(out[1]);
        m_stdin = in[1];
        std::string text;
        char chunk[256];
        while (text.find("KESTRION_CONTROL_PORT=") == std::string::npos || text.find('\n', text.find("PORT=")) == std::string::npos) {
            const ssize_t n = ::read(out[0], chunk, sizeof chunk);
            if (n <= 0)
                std::abort();
            text.append(chunk, static_cast<size_t>(n));
        }
        m_port = std::atoi(text.c_str() + text.find("KESTRION_CONTROL_PORT=") + 22);
        // An engine that prints a control token wants it back on every request.
        pollfd more {out[0], POLLIN, 0};
        while (text.find("KESTRION_CONTROL_TOKEN=") == std::string::npos && ::poll(&more, 1, 200) > 0) {
            const ssize_t n = ::read(out[0], chunk, sizeof chunk);
            if (n <= 0)
                break;
            text.append(chunk, static_cast<size_t>(n));
        }
        if (const size_t at = text.find("KESTRION_CONTROL_TOKEN="); at != std::string::npos)
            m_token = text.substr(at + 23, text.find('\n', at) - at - 23);
        std::thread([fd = out[0]] {
            char sink[4096];
            while (::read(fd, sink, sizeof sink) > 0) {
            }
            ::close(fd);
        }).detach();
    }
    ~ImportEngine()
    {
        ::close(m_stdin);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        std::filesystem::remove_all(m_dir);
    }

    // Status of one POST.
    int post(const std::string &target, const std::string &body) const
    {
        asio::io_context context;
        beast::tcp_stream stream(context);
        stream.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(m_port)));
        http::request<http::string_body> request {http::verb::post, target, 11};
        request.set(http::field::host, "127.0.0.1:" + std::to_string(m_port));
        request.set(http::field::content_type, "application/json");
        if (!m_token.empty())
            request.set("X-Kestrion-Token", m_token);
        request.body() = body;
        request.prepare_payload();
        http::write(stream, request);
        beast::flat_buffer buffer;
        http::response_parser<http::string_body> response;
        response.body_limit(256 * 1024 * 1024);
        beast::error_code ec;
        http::read(stream, buffer, response, ec);
        return ec ? -1 : static_cast<int>(response.get().result_int());
    }

    // "VmHWM" (peak) or "VmRSS" (now), in megabytes.
    double megabytes(const char *field) const
    {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind(field, 0) == 0)
                return std::stod(line.substr(line.find(':') + 1)) / 1024.0;
        }
        return 0;
    }

private:
    std::filesystem::path m_dir;
    pid_t m_pid = 0;
    int m_stdin = -1;
    int m_port = 0;
    std::string m_token;
};

// Posts `body` to `target` from `copies` clients at once on a fresh engine; reports time and memory.
void measureImport(benchmark::State &state, const std::string &target, const std::string &body, int copies = 1)
{
    for (auto _ : state) {
        ImportEngine engine;
        const double before = engine.megabytes("VmRSS");
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> clients;
        std::vector<int> statuses(static_cast<size_t>(copies));
        for (int i = 0; i < copies; ++i)
            clients.emplace_back([&, i] { statuses[static_cast<size_t>(i)] = engine.post(target, body); });
        for (auto &client : clients)
            client.join();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        state.counters["status"] = statuses.front();
        state.counters["file_mb"] = static_cast<double>(body.size()) / (1024.0 * 1024.0);
        state.counters["rss_before_mb"] = before;
        state.counters["peak_rss_mb"] = engine.megabytes("VmHWM");
    }
}

void BM_ImportBrowserHar40MB(benchmark::State &state)
{
    static const std::string har = standintest::browserHar(40 * 1024 * 1024).bytes;
    measureImport(state, "/import?format=auto", har);
    state.counters["goal_mb"] = 2 * static_cast<double>(har.size()) / (1024.0 * 1024.0) + 64;
}
BENCHMARK(BM_ImportBrowserHar40MB)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ImportOpenAPI3000Operations(benchmark::State &state)
{
    static const std::string yaml = standintest::openAPIYaml(3000).bytes;
    measureImport(state, "/import/openapi", yaml);
}
BENCHMARK(BM_ImportOpenAPI3000Operations)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// The hostile bodies: a YAML flow list of 2M scalars, 976 KB of "[", and a HAR of 1.3M empty entries.
const std::string &scalarList()
{
    static const std::string yaml = [] {
        // The document marker makes it YAML: a body that opens with "[" is read as JSON.
        std::string text = "--- [";
        for (int i = 0; i < 2000000; ++i)
            text += i ? ",a" : "a";
        return text + "]";
    }();
    return yaml;
}
const std::string &openBrackets()
{
    static const std::string text(976 * 1024, '[');
    return text;
}
const std::string &openYamlBrackets()
{
    static const std::string text = "--- " + openBrackets();
    return text;
}
const std::string &emptyEntries()
{
    static const std::string har = [] {
        std::string entries;
        for (int i = 0; i < 1300000; ++i)
            entries += i ? ",{}" : "{}";
        return R"({"log":{"entries":[)" + entries + "]}}";
    }();
    return har;
}

void BM_BombYamlScalars(benchmark::State &state) { measureImport(state, "/import/openapi", scalarList()); }
void BM_BombYamlScalarsFourAtOnce(benchmark::State &state) { measureImport(state, "/import/openapi", scalarList(), 4); }
void BM_BombNestedBracketsOpenAPI(benchmark::State &state) { measureImport(state, "/import/openapi", openYamlBrackets()); }
void BM_BombNestedBracketsCapture(benchmark::State &state) { measureImport(state, "/import?format=auto", openBrackets()); }
void BM_BombEmptyHarEntries(benchmark::State &state) { measureImport(state, "/import?format=auto", emptyEntries()); }
void BM_BombEmptyHarEntriesFourAtOnce(benchmark::State &state)
{
    measureImport(state, "/import?format=auto", emptyEntries(), 4);
}
BENCHMARK(BM_BombYamlScalars)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BombYamlScalarsFourAtOnce)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BombNestedBracketsOpenAPI)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BombNestedBracketsCapture)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BombEmptyHarEntries)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BombEmptyHarEntriesFourAtOnce)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
