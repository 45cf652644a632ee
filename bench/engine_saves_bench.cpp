// A bystander's mock answers through the real engine's proxy while the control port takes large
// writes: a 45 MB route list pushed again and again, and captures and OpenAPI documents imported. Its
// p99 is reported beside the goal (20 ms): no save and no import may hold a mock answer up.
#include "engine_under_bench.h"

#include <atomic>

namespace {

using namespace proxybench;

constexpr double kGoalMs = 20.0;
constexpr auto kRun = std::chrono::seconds(4);

// The bench's base routes and enough large ones to make the list `megabytes` long.
std::string largeRouteList(int megabytes, int round)
{
    std::vector<WireRoute> routes = engine().baseRoutes;
    for (int i = 0; i < megabytes; ++i) {
        WireRoute route = Engine::benchRoute("r-big-" + std::to_string(i), "big.test", "/big/" + std::to_string(i), 0,
                                             false);
        route.body = std::string(1024 * 1024 - 64, static_cast<char>('a' + (round + i) % 26));
        routes.push_back(route);
    }
    return encodeRecord(routes);
}

// A HAR of `entries` exchanges with 8 KB JSON answers (about 10 KB an entry), each on its own path.
std::string captureOf(int entries, int round)
{
    std::string body = "{\\\"items\\\":[";
    while (body.size() < 8000)
        body += "{\\\"id\\\":\\\"usr_0123\\\",\\\"name\\\":\\\"Bench\\\"},";
    body += "{}]}";
    std::string har = R"({"log":{"version":"1.2","entries":[)";
    for (int i = 0; i < entries; ++i) {
        har += (i ? "," : "") + std::string(R"({"request":{"method":"GET","url":"https://import.test/)")
               + std::to_string(round) + "/" + std::to_string(i)
               + R"(","headers":[]},"response":{"status":200,"headers":[],"content":{"mimeType":"application/json","text":")"
               + body + R"("}}})";
    }
    return har + "]}}";
}

// An OpenAPI document of `operations` paths, each with an example answer, one of them the bystander's
// mock: the project an import makes active answers it too.
std::string documentOf(int operations)
{
    std::string document = R"({"openapi":"3.0.0","info":{"title":"Bench","version":"1"},)"
                           R"("servers":[{"url":"http://bench.test"}],"paths":{)"
                           R"("/mock":{"get":{"responses":{"200":{"description":"ok","content":{"application/json":{"example":{"id":1}}}}}}})";
    for (int i = 0; i < operations; ++i) {
        document += std::string(R"(,"/items/)") + std::to_string(i)
                    + R"(":{"get":{"responses":{"200":{"description":"ok","content":{"application/json":{"example":{"id":)"
                    + std::to_string(i) + R"(,"text":")" + std::string(2000, 'x') + R"("}}}}}}})";
    }
    return document + "}}";
}

// A mock asked for every 2 ms on one kept connection for `length`; each wait in microseconds, counted
// from when the request was due, so a stall counts for every request it held back.
void pacedMocks(Clock::duration length, Samples &samples)
{
    asio::io_context context;
    beast::tcp_stream stream(context);
    stream.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(engine().proxyPort)));
    http::request<http::empty_body> request {http::verb::get, "http://bench.test/mock", 11};
    request.set(http::field::host, "bench.test");
    beast::flat_buffer buffer;
    const auto started = Clock::now();
    auto due = started;
    while (due < started + length) {
        std::this_thread::sleep_until(due);
        beast::error_code ec;
        http::write(stream, request, ec);
        http::response<http::string_body> response;
        if (!ec)
            http::read(stream, buffer, response, ec);
        if (ec || response.result_int() != 200) {
            ++samples.errors;
            return;
        }
        samples.micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - due).count());
        due += std::chrono::milliseconds(2);
    }
}

// The bystander's mock answers while `load` runs on this thread until the bystander is done; p99 and
// the longest wait, in milliseconds, beside the goal.
template <class Load>
void measureWhile(benchmark::State &state, Load load)
{
    engine().setRoutes(engine().baseRoutes);
    for (auto _ : state) {
        Samples samples;
        std::atomic<bool> done {false};
        std::thread bystander([&] {
            pacedMocks(kRun, samples);
            done = true;
        });
        int writes = 0;
        int failures = 0;
        while (!done) {
            failures += load(writes) / 100 == 2 ? 0 : 1;
            ++writes;
        }
        bystander.join();
        auto &micros = samples.micros;
        std::sort(micros.begin(), micros.end());
        state.counters["mock_p99_ms"] = quantile(micros, 0.99) / 1000.0;
        state.counters["mock_max_ms"] = micros.empty() ? 0.0 : micros.back() / 1000.0;
        state.counters["goal_p99_ms"] = kGoalMs;
        state.counters["mocks"] = static_cast<double>(micros.size());
        state.counters["mock_errors"] = static_cast<double>(samples.errors);
        state.counters["writes"] = writes;
        state.counters["write_failures"] = failures;
    }
    engine().setRoutes(engine().baseRoutes);
}

// Each push replaces the whole 45 MB list, so each is saved whole.
void BM_MockWhileRoutePushes(benchmark::State &state)
{
    std::vector<std::string> lists = {largeRouteList(45, 0), largeRouteList(45, 1)};
    measureWhile(state, [&](int round) {
        return engine().post("/routes", lists[static_cast<size_t>(round % 2)]);
    });
}
BENCHMARK(BM_MockWhileRoutePushes)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// Captures of 15 MB (each of three adds or replaces 1,500 routes) and OpenAPI documents of 2 MB in
// turn; each imported project is deleted again, so the state stays near 50 MB.
void BM_MockWhileImports(benchmark::State &state)
{
    std::vector<std::string> captures;
    for (int round = 0; round < 3; ++round)
        captures.push_back(captureOf(1500, round));
    const std::string document = documentOf(1000);
    measureWhile(state, [&](int round) {
        if (round % 2) {
            beast::error_code ec;
            const auto answer = exchange(engine().controlPort, http::verb::post, "/import/openapi", document, ec);
            const auto imported = decodeRecord<OpenAPIImportResult>(answer.body());
            if (ec || !imported)
                return -1;
            exchange(engine().controlPort, http::verb::delete_, "/projects/" + imported->projectId, {}, ec);
            return ec ? -1 : static_cast<int>(answer.result_int());
        }
        return engine().post("/import?format=auto", captures[static_cast<size_t>(round / 2 % 3)]);
    });
}
BENCHMARK(BM_MockWhileImports)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
