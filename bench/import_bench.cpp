// Capture and OpenAPI imports on the real stand-in engine: the time of an import and the engine's peak
// memory while it parses a large browser capture, a generated API document and hostile files of every
// shape. Goals: any file peaks under twice its size plus 64 MB (goal_mb beside each), four at once under
// 300 MB.
#include "engine_under_bench.h"

#include "standin-engine/imports/import_corpus.h"

#include <chrono>
#include <functional>
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

// Hostile shapes: YAML whose flow collections sit where a scanner may queue them whole, long scalars,
// text that tricks a rough pre-scan, and captures whose bodies grow once written out.
const std::string kOpenAPIHead = "openapi: 3.0.0\ninfo:\n  title: Shapes\n  version: '1'\npaths:\n  /a:\n    get:\n"
                                 "      responses:\n        '200':\n          description: ok\n";

std::string repeated(std::string_view unit, size_t bytes)
{
    std::string text;
    text.reserve(bytes + unit.size());
    while (text.size() < bytes)
        text += unit;
    return text;
}
std::string flowList(size_t bytes) { return "[" + repeated("1,", bytes) + "1]"; }
std::string flowMap(size_t bytes)
{
    std::string text = "{";
    text.reserve(bytes + 32);
    for (int i = 0; text.size() < bytes; ++i)
        text += "k" + std::to_string(i) + ": v, ";
    return text + "z: {a: [1, {b: c}]}}";
}
std::string literalScalar(size_t bytes)
{
    return kOpenAPIHead + "x-notes: |\n" + repeated("  " + std::string(98, 'x') + "\n", bytes);
}
// A list nested `depth` deep around `zeros` zeros.
std::string nestedZeros(int depth, size_t zeros)
{
    return std::string(static_cast<size_t>(depth), '[') + repeated("0,", 2 * zeros - 2) + "0"
           + std::string(static_cast<size_t>(depth), ']');
}
std::string harEntry(const std::string &path, const std::string &text, bool base64)
{
    return R"({"request":{"method":"GET","url":"http://shapes.test)" + path + R"("},"response":{"status":200,)"
           R"("content":{"mimeType":"text/plain",)" + (base64 ? R"("encoding":"base64",)" : "") + R"("text":")" + text
           + R"("}}})";
}
std::string har(const std::vector<std::string> &entries)
{
    std::string text = R"({"log":{"version":"1.2","entries":[)";
    for (size_t i = 0; i < entries.size(); ++i)
        text += (i ? "," : "") + entries[i];
    return text + "]}}";
}

struct Shape {
    const char *name;
    const char *target;
    std::function<std::string()> file;
    int copies = 1;
};

constexpr size_t kMiB = 1024 * 1024;

const std::vector<Shape> &shapes()
{
    static const std::vector<Shape> all = {
        {"YamlFlowListAsBlockItem4MB", "/import/openapi",
         [] { return kOpenAPIHead + "x-examples:\n  - " + flowList(4 * kMiB) + "\n"; }},
        {"YamlFlowListAfterComment8MB", "/import/openapi", [] { return "# exported\n" + flowList(8 * kMiB) + "\n"; }},
        {"YamlFlowListInBlockMap4MB", "/import/openapi",
         [] { return kOpenAPIHead + "x-a:\n  b:\n    c: " + flowList(4 * kMiB) + "\n"; }},
        {"YamlFlowListInBlockSequence4MB", "/import/openapi",
         [] { return kOpenAPIHead + "x-a:\n  - - " + flowList(4 * kMiB) + "\n"; }},
        {"YamlNestedFlowMaps8MB", "/import/openapi", [] { return kOpenAPIHead + "x-a: " + flowMap(8 * kMiB) + "\n"; }},
        {"YamlLongPlainScalar30MB", "/import/openapi",
         [] { return kOpenAPIHead + "x-a: " + std::string(30 * kMiB, 'a') + "\n"; }},
        {"YamlLongQuotedScalar30MB", "/import/openapi",
         [] { return kOpenAPIHead + "x-a: \"" + std::string(30 * kMiB, 'a') + "\"\n"; }},
        {"YamlLiteralScalar30MB", "/import/openapi", [] { return literalScalar(30 * kMiB); }},
        {"YamlLiteralScalar60MB", "/import/openapi", [] { return literalScalar(60 * kMiB); }},
        {"YamlAnchorsAndAliases", "/import/openapi",
         [] { return kOpenAPIHead + "x-a: &a " + flowList(kMiB) + "\nx-b: [" + repeated("*a, ", 4000) + "*a]\n"; }},
        {"YamlQuoteInPlainScalarThenBrackets4MB", "/import/openapi",
         [] { return "- a-'b\n- " + std::string(4 * kMiB, '['); }},
        {"YamlBracketsGluedToTags4MB", "/import/openapi", [] { return "- " + repeated("!a[", 4 * kMiB); }},
        {"YamlBracketsAfterBareCRs4MB", "/import/openapi", [] { return "- [" + repeated("\r[", 4 * kMiB); }},
        {"CaptureBodyNested60Deep2MZeros", "/import?format=auto",
         [] {
             return R"({"requests":[{"method":"GET","url":"http://shapes.test/deep","body":)" + nestedZeros(60, 2000000)
                    + "}]}";
         }},
        {"OpenAPIExampleNested54Deep2MZeros", "/import/openapi",
         [] {
             return R"({"openapi":"3.0.0","info":{"title":"Deep","version":"1"},"paths":{"/a":{"get":{"responses":)"
                    R"({"200":{"description":"ok","content":{"application/json":{"example":)"
                    + nestedZeros(54, 2000000) + "}}}}}}}}";
         }},
        {"HarBase64Text45MB", "/import?format=auto",
         [] {
             // Text in base64 (4 bytes for 3), beside a plain body.
             std::string base64 = repeated("aGVsbG8g", 45 * kMiB);
             return har({harEntry("/encoded", base64, true), harEntry("/plain", std::string(12 * kMiB, 'p'), false)});
         }},
        {"HarOneEntry59MB", "/import?format=auto",
         [] { return har({harEntry("/large", std::string(59 * kMiB, 'b'), false)}); }},
        {"ProfileOneRoute59MB", "/profile",
         [] {
             return R"({"kestrionProfile":1,"routes":[{"id":"r-1","method":"GET","host":"shapes.test","path":"/large",)"
                    R"("status":200,"latencyMs":0,"active":true,"body":")"
                    + std::string(59 * kMiB, 'b') + R"(","passThrough":false}]})";
         }},
        {"YamlFlowListAsBlockItemFourAtOnce4x4MB", "/import/openapi",
         [] { return kOpenAPIHead + "x-examples:\n  - " + flowList(4 * kMiB) + "\n"; }, 4},
        {"YamlLiteralScalarFourAtOnce4x30MB", "/import/openapi", [] { return literalScalar(30 * kMiB); }, 4},
        {"HarFourAtOnce4x39MB", "/import?format=auto",
         [] { return har({harEntry("/large", std::string(39 * kMiB, 'b'), false)}); }, 4},
    };
    return all;
}

void measureShape(benchmark::State &state, const Shape &shape)
{
    const std::string file = shape.file();
    measureImport(state, shape.target, file, shape.copies);
    state.counters["goal_mb"] = shape.copies > 1 ? 300 : 2 * static_cast<double>(file.size()) / kMB + 64;
}

const bool kShapesRegistered = [] {
    for (const Shape &shape : shapes()) {
        benchmark::RegisterBenchmark((std::string("BM_Shape") + shape.name).c_str(),
                                     [&shape](benchmark::State &state) { measureShape(state, shape); })
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
