// Event ingest benchmark: "request" event lines through the link's line reader, decoder and flush.
// The stream body is cut into network-sized chunks and fed to EngineClient as the reply delivers it.
#include "bench_support.h"
#include "engine/engine_client.h"
#include "platform/preferences.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

// The stream body for `count` request events, as the engine writes it.
QByteArray streamBody(int count, int firstId)
{
    QByteArray body;
    for (int i = 0; i < count; ++i) {
        const std::string id = "tr-" + std::to_string(firstId + i);
        body += "data: {\"type\":\"request\",\"time\":\"2026-12-07T10:00:00.123Z\",\"request\":{\"id\":\"";
        body += id.c_str();
        body += "\",\"time\":\"2026-12-07T10:00:00.123Z\",\"method\":\"";
        body += (i % 4 == 0) ? "post" : "GET";
        body += "\",\"host\":\"api.acme-demo.dev\",\"path\":\"/v2/users/";
        body += QByteArray::number(i);
        body += "/profile\",\"status\":200,\"latencyMs\":";
        body += QByteArray::number(i % 300);
        body += ",\"injected\":";
        body += (i % 2 == 0) ? "true" : "false";
        body += "}}\n\n";
    }
    return body;
}

// The body cut into network-sized reads, so lines straddle chunk boundaries as they do live.
std::vector<QByteArray> chunked(const QByteArray &body, int chunkSize)
{
    std::vector<QByteArray> chunks;
    for (qsizetype i = 0; i < body.size(); i += chunkSize)
        chunks.push_back(body.mid(i, chunkSize));
    return chunks;
}

void BM_EventIngest(benchmark::State &state)
{
    QTemporaryDir dir;
    Preferences::instance().useFile(dir.filePath(QStringLiteral("prefs.ini")));
    const int eventsPerBatch = int(state.range(0));
    const std::vector<QByteArray> chunks = chunked(streamBody(eventsPerBatch, 0), int(state.range(1)));

    EngineClient client;
    std::int64_t iterations = 0;
    for (auto _ : state) {
        for (const QByteArray &chunk : chunks)
            client.ingestEventStream(chunk);
        client.flushTraffic();
        // Let due timers (the fresh-mark clearing) run as the application's event loop would.
        if (++iterations % 16 == 0)
            QCoreApplication::processEvents();
        benchmark::DoNotOptimize(client.traffic().size());
    }
    state.SetItemsProcessed(iterations * eventsPerBatch);
    state.counters["traffic"] = double(client.traffic().size());
}

} // namespace

BENCHMARK(BM_EventIngest)->Args({1, 1400})->Args({100, 1400})->Args({1000, 16384});

int main(int argc, char **argv)
{
    return benchsupport::runCoreBenchmarks(argc, argv);
}
