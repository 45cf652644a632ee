// Control request handlers of the stand-in engine.
#include "control_api.h"

#include "control/control_http.h"
#include "core/bounded_input.h"
#include "core/data_file.h"
#include "core/engine_support.h"
#include "core/id_checks.h"
#include "imports/capture_import.h"
#include "imports/openapi_import.h"
#include "imports/profile_document.h"
#include "mocks/mock_generator.h"
#include "standin_engine.h"

#include <malloc.h>

#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

#include <charconv>
#include <future>
#include <thread>

namespace standin {

namespace {

using Request = ControlRequest;
using Response = ControlResponse;

template <class T>
void reply(Response &res, const T &record, int status = 200)
{
    res.status = status;
    res.setContent(encodeRecord(record), "application/json");
}

void fail(Response &res, int status, const std::string &message)
{
    reply(res, ErrorReply {message}, status);
}

// A change is acknowledged only once it is on disk. One that could not be written stays in effect and
// is saved again later, but the request is answered 5xx with the reason, so nobody counts on it.
bool committed(StandinEngine &engine, Response &res)
{
    const auto failure = engine.state().save();
    if (!failure)
        return true;
    fail(res, isOutOfSpace(failure->code) ? 507 : 500,
         failure->message + "; the change is in effect but not saved, and saving is retried");
    return false;
}

// A write refused because the saved state would pass its bound: 507, as for a full disk, with the reason.
void refuseOverBound(Response &res, const std::string &reason)
{
    fail(res, 507, reason);
}

// The same for the learned schemas, which live in their own file.
bool schemaCommitted(StandinEngine &engine, Response &res)
{
    const std::error_code failure = engine.schema().saveIfDirty();
    if (!failure)
        return true;
    fail(res, isOutOfSpace(failure) ? 507 : 500,
         "could not save the schema baselines: " + failure.message()
             + "; the change is in effect but not saved, and saving is retried");
    return false;
}

// A route list, an environment set or a profile may be as large as the saved state: a body within
// the bound for saved data must never be refused for its size alone.
constexpr size_t kMaxListBodyBytes = StateStore::kMaxSavedBytes;

// Imports are parsed one at a time, on one thread of their own, so several large files at once never
// hold their documents together, and each parse reuses the heap the last one freed (every pool thread
// would otherwise keep its own peak). What a parse freed goes back to the system when it ends.
template <class Parse> auto parsedInTurn(Parse parse)
{
    static boost::asio::thread_pool importThread(1);
    std::packaged_task<decltype(parse())()> task(std::move(parse));
    auto parsed = task.get_future();
    boost::asio::post(importThread, [&task] {
        task();
        malloc_trim(0);
    });
    return parsed.get();
}

ImportCounts importCounts(size_t imported, size_t leftOut)
{
    return {static_cast<std::int64_t>(imported), static_cast<std::int64_t>(leftOut),
            static_cast<std::int64_t>(StateStore::kMaxRoutes)};
}

// The request body as a record; on failure answers 4xx itself and returns nothing.
template <class T>
std::optional<T> readRecord(const Request &req, Response &res, const std::string &what,
                            size_t maxBytes = kMaxBodyBytes)
{
    std::string error;
    const auto document = parseBoundedJson(req.body, maxBytes, error);
    if (!document) {
        fail(res, req.body.size() > maxBytes ? 413 : 400, what + ": " + error);
        return std::nullopt;
    }
    try {
        return decodeJsonOrThrow<T>(*document);
    } catch (const std::exception &e) {
        fail(res, 400, what + ": " + e.what());
        return std::nullopt;
    }
}

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

CAInfo caInfoOf(StandinEngine &engine, const std::optional<CertificateFacts> &facts)
{
    if (!facts)
        return CAInfo {};
    return CAInfo {true, facts->fingerprint, facts->notAfter, facts->subject, facts->certPEM,
                   engine.rootCA().certificatePath().string()};
}

AIStatus noLocalModel()
{
    AIStatus status;
    status.detail = "No local model: this engine generates bodies from examples only";
    return status;
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

SchemaSnapshot shown(SchemaSnapshot snapshot)
{
    const auto now = std::chrono::system_clock::now();
    for (auto &drift : snapshot.drifts)
        drift.time = shownTime(drift.time, now);
    return snapshot;
}

// What a test asked the event stream to send before its first real event.
std::vector<std::string> garbageEventLines(const StandinEngine &engine)
{
    EngineEvent valid = engine.makeEvent("request", false);
    valid.request = WireTrafficEvent {"t-garbage", valid.time, "GET", "garbage.test", "/after-garbage", 200, 1, false};
    return {
        "data: {not json\n\n",
        "data: {\"type\":\"request\"}\n\n",
        "data:\n\n",
        "this line has no field name\n\n",
        "event: ping\n",
        ": a comment line\n\n",
        "data: {\"type\":\"request\",\"time\":\"now\",\"request\":{\"id\":1}}\n\n",
        "data: " + encodeRecord(valid) + "\n\n",
    };
}

void serveEvents(StandinEngine &engine, Response &res)
{
    auto subscription = engine.events().subscribe();
    if (!subscription)
        return fail(res, 503, "too many event-stream readers (at most " + std::to_string(EventHub::kMaxSubscribers)
                                  + "); close one and try again");
    auto stream = std::make_shared<ControlEventStream>();
    stream->subscription = subscription;
    stream->firstLines.push_back("data: " + encodeRecord(engine.makeEvent("hello", true)) + "\n\n");
    if (engine.fault() == Fault::GarbageEvents) {
        for (auto &line : garbageEventLines(engine))
            stream->firstLines.push_back(std::move(line));
    }
    stream->onEnd = [&engine, subscription] { engine.events().unsubscribe(subscription); };
    res.stream = std::move(stream);
}

void registerRoutesAndTraffic(ControlRouter &server, StandinEngine &engine)
{
    server.onGet("/routes", [&engine](const Request &, Response &res) { reply(res, engine.state().routes()); });
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
            reply(res, engine.state().routes());
    });
    server.onPost("/import", [&engine](const Request &req, Response &res) {
        std::string error;
        auto imported = parsedInTurn([&] { return importCapture(req.body, error); });
        if (!imported)
            return fail(res, 422, error);
        // Only what a push of the route list would take back: the app pushes what it gets here.
        if (const auto refusal = refusedIds(imported->routes))
            return fail(res, 422, "the capture can't be imported: " + *refusal);
        const auto merged = engine.state().mergeRoutes(imported->routes, error);
        if (!merged)
            return refuseOverBound(res, error);
        const size_t leftOut = imported->leftOut + merged->leftOut;
        logLine("imported " + std::to_string(merged->imported) + " routes from a capture"
                + (leftOut ? ", left out " + std::to_string(leftOut) + " past the limit of "
                                 + std::to_string(StateStore::kMaxRoutes) + " routes of a project"
                           : std::string())
                + (imported->passedThrough
                       ? " (" + std::to_string(imported->passedThrough)
                             + " of them pass through to the real host: their bodies are not text)"
                       : std::string()));
        if (committed(engine, res)) {
            reply(res, merged->routes);
            res.setHeader(kImportPassThroughHeader, std::to_string(imported->passedThrough));
            res.setHeader(kImportCountsHeader, encodeRecord(importCounts(merged->imported, leftOut)));
        }
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

void registerProjects(ControlRouter &server, StandinEngine &engine)
{
    server.onGet("/projects", [&engine](const Request &, Response &res) { reply(res, engine.state().projectList()); });
    server.onPost("/projects", [&engine](const Request &req, Response &res) {
        const auto request = readRecord<ProjectNameRequest>(req, res, "project");
        if (!request)
            return;
        std::string error;
        const auto project = engine.state().createProject(request->name, error);
        if (!project)
            return StateStore::isOverBound(error) ? refuseOverBound(res, error) : fail(res, 400, error);
        if (committed(engine, res))
            reply(res, *project, 201);
    });
    server.onPost("/projects/:id/activate", [&engine](const Request &req, Response &res) {
        if (!engine.state().activateProject(req.matches[1]))
            return fail(res, 404, "no project with id " + std::string(req.matches[1]));
        logLine("active project: " + loggedName(req.matches[1]));
        if (committed(engine, res))
            reply(res, engine.state().projectList());
    });
    server.onPost("/projects/:id/duplicate", [&engine](const Request &req, Response &res) {
        std::string error;
        const auto copy = engine.state().duplicateProject(req.matches[1], &error);
        if (!copy && !error.empty())
            return refuseOverBound(res, error);
        if (!copy)
            return fail(res, 404, "no project with id " + std::string(req.matches[1]));
        if (committed(engine, res))
            reply(res, *copy, 201);
    });
    server.onPatch("/projects/:id", [&engine](const Request &req, Response &res) {
        const auto request = readRecord<ProjectNameRequest>(req, res, "project");
        if (!request)
            return;
        std::string error;
        if (!engine.state().renameProject(req.matches[1], request->name, error)) {
            if (StateStore::isOverBound(error))
                return refuseOverBound(res, error);
            return fail(res, error.rfind("no project", 0) == 0 ? 404 : 400, error);
        }
        if (committed(engine, res))
            reply(res, engine.state().projectList());
    });
    server.onDelete("/projects/:id", [&engine](const Request &req, Response &res) {
        const std::string id = req.matches[1];
        switch (engine.state().deleteProject(id)) {
        case StateStore::DeleteOutcome::NotFound:
            return fail(res, 404, "no project with id " + id);
        case StateStore::DeleteOutcome::LastProject:
            return fail(res, 409, "the last project can't be deleted");
        case StateStore::DeleteOutcome::Deleted:
            engine.schema().forgetProject(id);
            if (committed(engine, res))
                reply(res, engine.state().projectList());
        }
    });

    server.onGet("/environments", [&engine](const Request &, Response &res) {
        reply(res, engine.state().environments());
    });
    server.onPost("/environments", [&engine](const Request &req, Response &res) {
        auto environments = readRecord<EnvironmentSet>(req, res, "environments", kMaxListBodyBytes);
        if (!environments)
            return;
        if (const auto refusal = refusedIds(*environments))
            return fail(res, 400, *refusal);
        if (const auto refusal = engine.state().setEnvironments(std::move(*environments)))
            return refuseOverBound(res, *refusal);
        if (committed(engine, res))
            reply(res, engine.state().environments());
    });

    server.onGet("/chaos", [&engine](const Request &, Response &res) { reply(res, engine.state().chaos()); });
    server.onPost("/chaos/active", [&engine](const Request &req, Response &res) {
        const std::string id = req.paramValue("id");
        if (!engine.state().setActiveChaos(id))
            return fail(res, 404, "no chaos preset with id " + id);
        logLine(id.empty() ? "chaos off" : "chaos preset " + loggedName(id) + " active");
        if (committed(engine, res))
            reply(res, engine.state().chaos());
    });

    server.onPost("/import/openapi", [&engine](const Request &req, Response &res) {
        // On the worker pool: a held import keeps no other request waiting.
        if (const auto hold = engine.options().timings.openAPIImportHold; hold.count() > 0)
            std::this_thread::sleep_for(hold);
        std::string error;
        auto imported = parsedInTurn([&] { return importOpenAPI(req.body, error); });
        if (!imported)
            return fail(res, 422, error);
        if (const auto refusal = refusedIds(imported->routes))
            return fail(res, 422, "the document can't be imported: " + *refusal);
        const int count = static_cast<int>(imported->routes.size());
        const auto project = engine.state().addImportedProject(imported->title, std::move(imported->routes), error);
        if (!project)
            return refuseOverBound(res, error);
        const auto leftOut = static_cast<std::int64_t>(imported->leftOut);
        logLine("OpenAPI import: " + std::to_string(count) + " routes into " + loggedName(project->name)
                + (leftOut ? ", left out " + std::to_string(leftOut) + " operations past the limit of "
                                 + std::to_string(StateStore::kMaxRoutes) + " routes of a project"
                           : std::string()));
        if (committed(engine, res))
            reply(res, OpenAPIImportResult {project->id, project->name, count, leftOut,
                                            static_cast<std::int64_t>(StateStore::kMaxRoutes)});
    });

    server.onGet("/profile", [&engine](const Request &req, Response &res) {
        res.setContent(exportProfile(engine.state().activeProject(), req.paramValue("name")),
                        "application/json");
    });
    server.onPost("/profile", [&engine](const Request &req, Response &res) {
        std::string error;
        auto profile = parsedInTurn([&] { return readProfile(req.body, error); });
        if (!profile)
            return fail(res, 400, error);
        const size_t imported = profile->routes.size();
        if (const auto refusal = engine.state().replaceFromProfile(std::move(profile->routes), std::move(profile->chaos)))
            return refuseOverBound(res, *refusal);
        if (profile->leftOut)
            logLine("profile import: left out " + std::to_string(profile->leftOut) + " routes past the limit of "
                    + std::to_string(StateStore::kMaxRoutes) + " routes of a project");
        if (committed(engine, res)) {
            reply(res, engine.state().routes());
            res.setHeader(kImportCountsHeader, encodeRecord(importCounts(imported, profile->leftOut)));
        }
    });
}

void registerSetupAndTools(ControlRouter &server, StandinEngine &engine)
{
    server.onGet("/ca", [&engine](const Request &, Response &res) {
        reply(res, caInfoOf(engine, engine.rootCA().current()));
    });
    server.onPost("/ca/generate", [&engine](const Request &, Response &res) {
        std::string error;
        std::error_code failure;
        const auto facts = engine.rootCA().generate(error, &failure);
        if (!facts)
            return fail(res, isOutOfSpace(failure) ? 507 : 500, "root CA generation failed: " + error);
        logLine("root CA generated: " + facts->fingerprint);
        reply(res, caInfoOf(engine, facts));
    });

    server.onGet("/schema", [&engine](const Request &, Response &res) {
        reply(res, shown(engine.schema().snapshot(engine.state().activeProjectId())));
    });
    server.onPost("/schema/relearn", [&engine](const Request &req, Response &res) {
        engine.schema().relearn(engine.state().activeProjectId(), req.paramValue("key"));
        if (schemaCommitted(engine, res))
            reply(res, shown(engine.schema().snapshot(engine.state().activeProjectId())));
    });
    server.onDelete("/schema", [&engine](const Request &, Response &res) {
        engine.schema().clear(engine.state().activeProjectId());
        if (schemaCommitted(engine, res))
            res.status = 204;
    });

    server.onPost("/mock/generate", [](const Request &req, Response &res) {
        const auto request = readRecord<MockGenerateRequest>(req, res, "mock request");
        if (!request)
            return;
        std::string error;
        const auto body = generateMockBody(request->example, request->seed, request->count, error);
        if (!body)
            return fail(res, 422, error);
        res.setContent(*body, "application/json");
    });
    // Without a local model a prompt can't shape the body; the example-based generator answers instead.
    server.onPost("/mock/ai", [](const Request &req, Response &res) {
        const auto request = readRecord<MockAIRequest>(req, res, "AI mock request");
        if (!request)
            return;
        if (request->example.empty())
            return fail(res, 422,
                        "a Tier-1 generation needs an example body: this engine has no local model, so it "
                        "builds the body from the example, not from the prompt alone");
        std::string error;
        const auto body = generateMockBody(request->example, request->seed, request->count, error);
        if (!body)
            return fail(res, 422, error);
        res.setContent(*body, "application/json");
        res.setHeader("X-Kestrion-Tier", "tier1");
    });
    server.onGet("/ai/status", [](const Request &, Response &res) { reply(res, noLocalModel()); });
    server.onPost("/ai/start", [](const Request &, Response &res) { reply(res, noLocalModel(), 409); });
    server.onPost("/ai/stop", [](const Request &, Response &res) { reply(res, noLocalModel()); });
    server.onPost("/ai/setup", [&engine](const Request &, Response &res) {
        engine.setAISetupRequested();
        res.status = 202;
        res.setContent("{}", "application/json");
    });
    server.onGet("/ai/setup", [&engine](const Request &, Response &res) {
        AISetupProgress progress = AISetupProgress::initial();
        if (engine.aiSetupRequested()) {
            progress.stage = "error";
            progress.message = "A local model can't be set up with this engine";
            progress.err = "this engine has no local model support";
        }
        reply(res, progress);
    });
}

} // namespace

bool controlTokenShown(const ControlRequest &request, std::string_view token)
{
    // Two may disagree, and neither is more the app's than the other.
    if (request.headerCount(kControlTokenHeader) != 1 || token.empty())
        return false;
    const std::string shown = request.headerValue(kControlTokenHeader);
    if (shown.size() != token.size())
        return false;
    // Every byte is compared whatever the first difference, so the time taken tells nothing of the token.
    unsigned char difference = 0;
    for (size_t i = 0; i < token.size(); ++i)
        difference |= static_cast<unsigned char>(shown[i] ^ token[i]);
    return difference == 0;
}

bool controlHostAllowed(std::string_view hostHeader, int controlPort)
{
    const std::string host = lowerAscii(hostHeader);
    const std::string port = ":" + std::to_string(controlPort);
    return host == "127.0.0.1" + port || host == "localhost" + port;
}

std::optional<std::string> browserRequestRefusal(bool hasOrigin, std::string_view contentType)
{
    if (hasOrigin)
        return "control requests from web pages are refused (the request carries an Origin header)";
    std::string mediaType = lowerAscii(contentType.substr(0, contentType.find(';')));
    while (!mediaType.empty() && (mediaType.back() == ' ' || mediaType.back() == '\t'))
        mediaType.pop_back();
    while (!mediaType.empty() && (mediaType.front() == ' ' || mediaType.front() == '\t'))
        mediaType.erase(0, 1);
    if (mediaType == "text/plain" || mediaType == "application/x-www-form-urlencoded"
        || mediaType == "multipart/form-data")
        return "control request bodies of type " + mediaType + " are refused; send application/json";
    return std::nullopt;
}

void registerControlApi(ControlRouter &server, StandinEngine &engine)
{
    server.setPayloadMaxLength(kMaxBodyBytes);
    server.allowLargeBody("POST", "/routes", kMaxListBodyBytes);
    server.allowLargeBody("POST", "/environments", kMaxListBodyBytes);
    server.allowLargeBody("POST", "/profile", kMaxListBodyBytes);
    server.allowLargeBody("POST", "/import", kMaxImportBytes);
    server.allowLargeBody("POST", "/import/openapi", kMaxImportBytes);

    server.setPreRoutingHandler([&engine](const Request &req, Response &res) {
        if (req.headerCount("Host") > 1) {
            fail(res, 400, "refused: the request has more than one Host field, so whom it is for is unclear");
            return PreRouting::Handled;
        }
        if (!controlTokenShown(req, engine.controlToken())) {
            fail(res, 401, std::string("control requests need the token this engine gave the app that started it, in "
                                       "the ") + kControlTokenHeader + " header");
            res.setHeader("WWW-Authenticate", kControlTokenScheme);
            return PreRouting::Handled;
        }
        if (!controlHostAllowed(req.headerValue("Host"), engine.controlPort())) {
            fail(res, 403, "control requests must be addressed to 127.0.0.1:" + std::to_string(engine.controlPort()));
            return PreRouting::Handled;
        }
        // Any Origin at all, even "null" or empty: the app never sends one.
        const auto refusal = browserRequestRefusal(req.hasHeader("Origin"), req.headerValue("Content-Type"));
        if (refusal) {
            fail(res, req.hasHeader("Origin") ? 403 : 415, *refusal);
            return PreRouting::Handled;
        }
        if (engine.fault() == Fault::HangHealth && req.path == "/health")
            return PreRouting::Hold;
        return PreRouting::Unhandled;
    });
    server.setErrorHandler([&server](const Request &req, Response &res) {
        if (!res.body.empty())
            return;
        if (res.status == 413)
            fail(res, 413, "request body too large (at most " + std::to_string(server.payloadMaxLength(req)) + " bytes)");
        else if (res.status == 404)
            fail(res, 404, "no control request " + req.method + " " + req.path);
        else
            fail(res, res.status, "bad request (HTTP " + std::to_string(res.status) + ")");
    });
    server.setExceptionHandler([](const Request &, Response &res, std::exception_ptr error) {
        std::string message = "internal error";
        try {
            if (error)
                std::rethrow_exception(error);
        } catch (const std::exception &e) {
            message += std::string(": ") + e.what();
        } catch (...) {
        }
        fail(res, 500, message);
    });

    server.onGet("/health", [&engine](const Request &, Response &res) { reply(res, engine.health()); }, Dispatch::Inline);
    server.onGet("/events", [&engine](const Request &, Response &res) { serveEvents(engine, res); },
                 Dispatch::Inline);

    server.onPost("/control/start", [&engine](const Request &, Response &res) {
        std::string error;
        if (!engine.startProxy(error))
            return fail(res, 409, error);
        reply(res, engine.health());
    });
    server.onPost("/control/stop", [&engine](const Request &, Response &res) {
        engine.stopProxy();
        reply(res, engine.health());
    });
    server.onPost("/control/shutdown", [&engine](const Request &, Response &res) {
        reply(res, engine.health());
        // Answer first; the exit follows once the reply is on its way.
        std::thread([&engine] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            engine.requestExit();
        }).detach();
    });

    registerRoutesAndTraffic(server, engine);
    registerProjects(server, engine);
    registerSetupAndTools(server, engine);
}

} // namespace standin
