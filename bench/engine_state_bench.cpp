// Stand-in engine state benchmarks: saving a large project file, recording one exchange into a full
// history (and what its saves write), and refusing an OpenAPI document whose shared example multiplies past the bound.
#include "imports/openapi_import.h"
#include "store/state_store.h"
#include "store/traffic_history.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <fstream>

namespace {

std::filesystem::path pathIn(const QTemporaryDir &dir, const char *name)
{
    return std::filesystem::path(dir.path().toStdString()) / name;
}

// One route edit against a project of 1,000 routes of 3 KB: the whole file is written and synced.
void BM_SaveLargeProjectOnEdit(benchmark::State &state)
{
    QTemporaryDir dir;
    standin::StateStore store(pathIn(dir, "state.json"));
    std::vector<WireRoute> routes;
    for (int i = 0; i < 1000; ++i) {
        WireRoute route;
        route.id = "r-" + std::to_string(i);
        route.method = "GET";
        route.host = "api.test";
        route.path = "/items/" + std::to_string(i);
        route.body = std::string(3000, 'x');
        routes.push_back(route);
    }
    int edit = 0;
    for (auto _ : state) {
        routes[0].status = 200 + (++edit % 100);
        store.setRoutes(routes);
    }
    state.SetBytesProcessed(state.iterations() * std::filesystem::file_size(pathIn(dir, "state.json")));
}
BENCHMARK(BM_SaveLargeProjectOnEdit)->Unit(benchmark::kMillisecond);

TrafficRecord fullRecord()
{
    TrafficRecord record;
    record.time = "2026-01-01T00:00:00.000Z";
    record.method = "POST";
    record.host = "api.test";
    record.path = "/upload";
    record.status = 200;
    record.reqHeaders = std::map<std::string, std::string> {{"Content-Type", "application/json"}};
    // A JSON body, quotes and all, as most recorded bodies are.
    std::string json = "{\"items\":[";
    while (json.size() < standin::TrafficHistory::kMaxStoredBody - 64)
        json += "{\"id\":\"usr_0123\",\"name\":\"Zo\u00eb\",\"tags\":[\"a\",\"b\"]},";
    json.back() = ']';
    json += "}";
    record.reqBody = std::string(standin::TrafficHistory::kMaxStoredBody, 'q');
    record.respBody = json;
    return record;
}

// Bytes this process has handed to write() so far.
std::uint64_t bytesWritten()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "wchar:")
            return value;
    }
    return 0;
}

// One exchange with 16 KB bodies recorded into a history that is already full (the part a request
// waits for). Every 100 records the once-a-second save runs, untimed; "written/record" is what the
// saves wrote per exchange, in records' sizes.
void BM_RecordExchangeIntoFullHistory(benchmark::State &state)
{
    QTemporaryDir dir;
    standin::TrafficHistory history(pathIn(dir, "history.json"));
    const TrafficRecord record = fullRecord();
    TrafficRecord sized = record;
    const double recordBytes = static_cast<double>(standin::TrafficHistory::encodeLine(sized).size());
    for (size_t i = 0; i < standin::TrafficHistory::kMaxRecords; ++i)
        history.add(record);
    history.saveIfDirty();
    const std::uint64_t before = bytesWritten();
    std::int64_t recorded = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(history.add(record));
        if (++recorded % 100 == 0) {
            state.PauseTiming();
            history.saveIfDirty();
            state.ResumeTiming();
        }
    }
    history.saveIfDirty();
    state.counters["written/record"] = static_cast<double>(bytesWritten() - before) / (recorded * recordBytes);
}
BENCHMARK(BM_RecordExchangeIntoFullHistory)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// A 110 KB document whose 50 KB example is shared by 400 operations.
void BM_RefuseSharedExampleFanOut(benchmark::State &state)
{
    nlohmann::json document = {{"openapi", "3.0.0"}, {"info", {{"title", "Fan"}}}};
    document["components"]["examples"]["Big"]["value"] = {{"blob", std::string(50000, 'e')}};
    for (int i = 0; i < 400; ++i) {
        document["paths"]["/p" + std::to_string(i)]["get"]["responses"]["200"]["content"]["application/json"]
                ["examples"]["big"]["$ref"] = "#/components/examples/Big";
    }
    const std::string text = document.dump();
    for (auto _ : state) {
        std::string error;
        benchmark::DoNotOptimize(standin::importOpenAPI(text, error));
    }
}
BENCHMARK(BM_RefuseSharedExampleFanOut)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
