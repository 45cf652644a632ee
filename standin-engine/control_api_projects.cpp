// Control requests of projects, and of the active project's environments and chaos presets.
#include "control_api_support.h"

#include "core/id_checks.h"
#include "standin_engine.h"

namespace standin::controlapi {

namespace {

void notFound(Response &res, const std::string &id)
{
    fail(res, 404, "no project with id " + id);
}

void createProject(StandinEngine &engine, const Request &req, Response &res)
{
    const auto request = readRecord<ProjectNameRequest>(req, res, "project");
    if (!request)
        return;
    std::string error;
    const auto project = engine.state().createProject(request->name, error);
    if (!project)
        return StateStore::isOverBound(error) ? refuseOverBound(res, error) : fail(res, 400, error);
    if (committed(engine, res))
        reply(res, *project, 201);
}

void activateProject(StandinEngine &engine, const Request &req, Response &res)
{
    if (!engine.state().activateProject(req.matches[1]))
        return notFound(res, req.matches[1]);
    logLine("active project: " + loggedName(req.matches[1]));
    if (committed(engine, res))
        reply(res, engine.state().projectList());
}

void duplicateProject(StandinEngine &engine, const Request &req, Response &res)
{
    std::string error;
    const auto copy = engine.state().duplicateProject(req.matches[1], &error);
    if (!copy && !error.empty())
        return refuseOverBound(res, error);
    if (!copy)
        return notFound(res, req.matches[1]);
    if (committed(engine, res))
        reply(res, *copy, 201);
}

void renameProject(StandinEngine &engine, const Request &req, Response &res)
{
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
}

void deleteProject(StandinEngine &engine, const Request &req, Response &res)
{
    const std::string id = req.matches[1];
    switch (engine.state().deleteProject(id)) {
    case StateStore::DeleteOutcome::NotFound:
        return notFound(res, id);
    case StateStore::DeleteOutcome::LastProject:
        return fail(res, 409, "the last project can't be deleted");
    case StateStore::DeleteOutcome::Deleted:
        engine.schema().forgetProject(id);
        if (committed(engine, res))
            reply(res, engine.state().projectList());
    }
}

void setEnvironments(StandinEngine &engine, const Request &req, Response &res)
{
    auto environments = readRecord<EnvironmentSet>(req, res, "environments", kMaxListBodyBytes);
    if (!environments)
        return;
    if (const auto refusal = refusedIds(*environments))
        return fail(res, 400, *refusal);
    if (const auto refusal = engine.state().setEnvironments(std::move(*environments)))
        return refuseOverBound(res, *refusal);
    if (committed(engine, res))
        reply(res, engine.state().environments());
}

void setActiveChaos(StandinEngine &engine, const Request &req, Response &res)
{
    const std::string id = req.paramValue("id");
    if (!engine.state().setActiveChaos(id))
        return fail(res, 404, "no chaos preset with id " + id);
    logLine(id.empty() ? "chaos off" : "chaos preset " + loggedName(id) + " active");
    if (committed(engine, res))
        reply(res, engine.state().chaos());
}

// The handler for a step that takes the engine, as the router calls it.
ControlRouter::Handler with(StandinEngine &engine, void (*step)(StandinEngine &, const Request &, Response &))
{
    return [&engine, step](const Request &req, Response &res) { step(engine, req, res); };
}

} // namespace

void registerProjects(ControlRouter &server, StandinEngine &engine)
{
    server.onGet("/projects", [&engine](const Request &, Response &res) { reply(res, engine.state().projectList()); });
    server.onPost("/projects", with(engine, createProject));
    server.onPost("/projects/:id/activate", with(engine, activateProject));
    server.onPost("/projects/:id/duplicate", with(engine, duplicateProject));
    server.onPatch("/projects/:id", with(engine, renameProject));
    server.onDelete("/projects/:id", with(engine, deleteProject));

    server.onGet("/environments", [&engine](const Request &, Response &res) {
        reply(res, engine.state().environments());
    });
    server.onPost("/environments", with(engine, setEnvironments));

    server.onGet("/chaos", [&engine](const Request &, Response &res) { reply(res, engine.state().chaos()); });
    server.onPost("/chaos/active", with(engine, setActiveChaos));
}

} // namespace standin::controlapi
