// Control requests that bring routes in from a file (a capture, an OpenAPI document, a profile) and
// the profile export.
#include "control_api.h"
#include "control_api_support.h"

#include "core/data_file.h"
#include "core/id_checks.h"
#include "imports/capture_import.h"
#include "imports/openapi_import.h"
#include "imports/profile_document.h"
#include "standin_engine.h"

#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

#include <functional>
#include <future>
#include <memory>
#include <thread>

namespace standin::controlapi {

void runImportInTurn(const std::function<void()> &work)
{
    // One thread, whatever the kind of import: a type-erased call, never a pool per call site.
    static boost::asio::thread_pool importThread(1);
    // Shared with the task, which may still be letting its waiter go when the waiter has returned.
    auto finished = std::make_shared<std::promise<void>>();
    auto done = finished->get_future();
    boost::asio::post(importThread, [&work, finished] {
        try {
            work();
            finished->set_value();
        } catch (...) {
            finished->set_exception(std::current_exception());
        }
        releaseFreedMemory();
    });
    done.get();
}

namespace {

ImportCounts importCounts(size_t imported, size_t leftOut)
{
    return {static_cast<std::int64_t>(imported), static_cast<std::int64_t>(leftOut),
            static_cast<std::int64_t>(StateStore::kMaxRoutes)};
}

// What was read from the body holds all it needs: the body goes before the project changes.
void dropBody(Request &req)
{
    std::string().swap(req.body);
}

void importCaptureFile(StandinEngine &engine, Request &req, Response &res)
{
    std::string error;
    auto imported = importCapture(req.body, error);
    dropBody(req);
    if (!imported)
        return fail(res, 422, error);
    // Only what a push of the route list would take back: the app pushes what it gets here.
    if (const auto refusal = refusedIds(imported->routes))
        return fail(res, 422, "the capture can't be imported: " + *refusal);
    const auto merged = engine.state().mergeRoutes(std::move(imported->routes), error);
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
        replyRoutes(res, *merged->routes);
        res.setHeader(kImportPassThroughHeader, std::to_string(imported->passedThrough));
        res.setHeader(kImportCountsHeader, encodeRecord(importCounts(merged->imported, leftOut)));
    }
}

void importOpenAPIDocument(StandinEngine &engine, Request &req, Response &res)
{
    std::string error;
    auto imported = importOpenAPI(req.body, error);
    dropBody(req);
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
}

void importProfile(StandinEngine &engine, Request &req, Response &res)
{
    std::string error;
    auto profile = readProfile(req.body, error);
    dropBody(req);
    if (!profile)
        return fail(res, 400, error);
    const size_t imported = profile->routes.size();
    if (const auto refusal = engine.state().replaceFromProfile(std::move(profile->routes), std::move(profile->chaos)))
        return refuseOverBound(res, *refusal);
    if (profile->leftOut)
        logLine("profile import: left out " + std::to_string(profile->leftOut) + " routes past the limit of "
                + std::to_string(StateStore::kMaxRoutes) + " routes of a project");
    if (committed(engine, res)) {
        replyRoutes(res, engine.state().routeSnapshot());
        res.setHeader(kImportCountsHeader, encodeRecord(importCounts(imported, profile->leftOut)));
    }
}

} // namespace

void registerImports(ControlRouter &server, StandinEngine &engine)
{
    server.onPost("/import", [&engine](Request &req, Response &res) {
        runImportInTurn([&] { importCaptureFile(engine, req, res); });
    });
    server.onPost("/import/openapi", [&engine](Request &req, Response &res) {
        // On the worker pool, before its turn: a held import keeps no other request waiting.
        if (const auto hold = engine.options().timings.openAPIImportHold; hold.count() > 0)
            std::this_thread::sleep_for(hold);
        runImportInTurn([&] { importOpenAPIDocument(engine, req, res); });
    });

    server.onGet("/profile", [&engine](const Request &req, Response &res) {
        res.setContent(exportProfile(engine.state().activeProject(), req.paramValue("name")),
                        "application/json");
    });
    server.onPost("/profile", [&engine](Request &req, Response &res) {
        runImportInTurn([&] { importProfile(engine, req, res); });
    });
}

} // namespace standin::controlapi
