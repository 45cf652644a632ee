// Capture and OpenAPI imports on the real stand-in engine: the time of an import and the engine's peak
// memory while it parses a large browser capture, a generated API document and the hostile bodies of
// the import bounds. Goals: a 40 MB HAR peaks under twice the file plus 64 MB; each hostile body, alone or
// four at once, stays under 128 MB and 300 MB.
#include "engine_under_bench.h"

#include "standin-engine/imports/import_corpus.h"

#include <chrono>
#include <thread>

namespace {

using namespace proxybench;

// Posts `body` to `target` from `copies` clients at once on a fresh engine; reports time and memory.
void measureImport(benchmark::State &state, const std::string &target, const std::string &body, int copies = 1)
{
    for (auto _ : state) {
        const Engine engine(Setup::Bare, "import-bench");
        const double before = statusBytes(engine.pid, "VmRSS") / kMB;
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> clients;
        std::vector<int> statuses(static_cast<size_t>(copies));
        for (int i = 0; i < copies; ++i)
            clients.emplace_back([&, i] { statuses[static_cast<size_t>(i)] = engine.post(target, body); });
        for (auto &client : clients)
            client.join();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        state.counters["status"] = statuses.front();
        state.counters["file_mb"] = static_cast<double>(body.size()) / kMB;
        state.counters["rss_before_mb"] = before;
        state.counters["peak_rss_mb"] = statusBytes(engine.pid, "VmHWM") / kMB;
    }
}

void BM_ImportBrowserHar40MB(benchmark::State &state)
{
    static const std::string har = standintest::browserHar(40 * 1024 * 1024).bytes;
    measureImport(state, "/import?format=auto", har);
    state.counters["goal_mb"] = 2 * static_cast<double>(har.size()) / kMB + 64;
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
