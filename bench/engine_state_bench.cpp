// Stand-in engine state benchmarks: saving a large project file, recording one exchange into a full
// history, and refusing an OpenAPI document whose shared example multiplies past the bound.
#include "openapi_import.h"
#include "state_store.h"
#include "traffic_history.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

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

// One exchange with 16 KB bodies into a history that is already full, then the once-a-second save.
void BM_RecordExchangeIntoFullHistory(benchmark::State &state)
{
    QTemporaryDir dir;
    standin::TrafficHistory history(pathIn(dir, "history.json"));
    TrafficRecord record;
    record.time = "2026-01-01T00:00:00.000Z";
    record.method = "POST";
    record.host = "api.test";
    record.path = "/upload";
    record.status = 200;
    record.reqBody = std::string(standin::TrafficHistory::kMaxStoredBody, 'q');
    record.respBody = std::string(standin::TrafficHistory::kMaxStoredBody, 'r');
    for (size_t i = 0; i < standin::TrafficHistory::kMaxRecords; ++i)
        history.add(record);
    history.saveIfDirty();
    for (auto _ : state) {
        history.add(record);
        history.saveIfDirty();
    }
}
BENCHMARK(BM_RecordExchangeIntoFullHistory)->Unit(benchmark::kMillisecond);

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
