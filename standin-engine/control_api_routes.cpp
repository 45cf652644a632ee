// Control requests of the route list, the traffic history and replays.
#include "control_api_support.h"

#include "core/id_checks.h"
#include "standin_engine.h"

#include <charconv>

namespace standin::controlapi {

namespace {

std::optional<int> intParam(const Request &req, const char *name, int fallback, Response &res)
{
    if (!req.hasParam(name))
        return fallback;
    const std::string text = req.paramValue(name);
    int value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size()) {
        fail(res, 400, std::string("\"") + name + "\" must be an integer");
        return std::nullopt;
    }
    return value;
}

// Stored records keep ISO times (the history file and the schema's ordering rely on them); answers
// carry the short text the app's time columns have room for.
TrafficRecord shown(TrafficRecord record)
{
    record.time = shownTime(record.time, std::chrono::system_clock::now());
    return record;
}

std::vector<TrafficRecord> shown(std::vector<TrafficRecord> records)
{
    const auto now = std::chrono::system_clock::now();
    for (auto &record : records)
        record.time = shownTime(record.time, now);
    return records;
}

} // namespace

void registerRoutesAndTraffic(ControlRouter &server, StandinEngine &engine)
{
    server.onGet("/routes", [&engine](const Request &, Response &res) {
        replyRoutes(res, engine.state().routeSnapshot());
    });
    server.onPost("/routes", [&engine](const Request &req, Response &res) {
        auto routes = readRecord<std::vector<WireRoute>>(req, res, "route list", kMaxListBodyBytes);
        if (!routes)
            return;
        if (routes->size() > StateStore::kMaxRoutes)
            return fail(res, 413, "too many routes (at most " + std::to_string(StateStore::kMaxRoutes) + ")");
        if (const auto refusal = refusedIds(*routes))
            return fail(res, 400, *refusal);
        if (const auto refusal = engine.state().setRoutes(std::move(*routes)))
            return refuseOverBound(res, *refusal);
        if (committed(engine, res))
            replyRoutes(res, engine.state().routeSnapshot());
    });

    server.onGet("/traffic", [&engine](const Request &req, Response &res) {
        const auto limit = intParam(req, "limit", TrafficHistory::kDefaultLimit, res);
        if (!limit)
            return;
        reply(res, shown(engine.history().page(*limit, req.paramValue("before"), req.paramValue("filter"))));
    });
    server.onDelete("/traffic", [&engine](const Request &, Response &res) {
        engine.history().clear();
        engine.replays().clear();
        if (!engine.history().saveIfDirty())
            return fail(res, 500, "could not save the cleared history; it is cleared in memory and saving is retried");
        res.status = 204;
    });
    server.onGet("/traffic/:id", [&engine](const Request &req, Response &res) {
        const auto record = engine.history().find(req.matches[1]);
        if (!record)
            return fail(res, 404, "no recorded exchange " + std::string(req.matches[1]));
        reply(res, shown(*record));
    });
    server.onPost("/replay/:id", [&engine](const Request &req, Response &res) {
        const std::string id = req.matches[1];
        const auto record = engine.history().find(id);
        if (!record)
            return fail(res, 404, "no recorded exchange " + id);
        // Exactly what the client sent, or nothing: never a request rebuilt from the history's copy.
        auto kept = engine.replays().find(id, record->time);
        if (!kept.request)
            return fail(res, 409, "can't replay " + id + ": " + kept.refusal);
        if (!engine.replayRunner().reserve())
            return fail(res, 503, "too many replays at once (at most " + std::to_string(ReplayRunner::kMaxRunning)
                                      + " run together); try again when one has finished");
        res.later = [&engine, request = std::move(*kept.request)](std::function<void(ControlResponse)> done) {
            engine.replayRunner().run(
                [&engine, request] {
                    // The replay has no client waiting on a socket, so it skips route latency.
                    TrafficRecord replayed;
                    engine.exchanges().handle(request, [](int) { return true; }, &replayed);
                    Response answer;
                    reply(answer, shown(replayed));
                    return answer;
                },
                std::move(done));
        };
    });
}

} // namespace standin::controlapi
