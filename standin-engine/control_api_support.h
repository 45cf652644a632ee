// What the control API's handlers share: the answers they give, reading a request's record, and the
// register functions of each area of control requests.
#pragma once

#include "control/control_router.h"
#include "core/bounded_input.h"
#include "core/engine_support.h"
#include "store/state_store.h"

#include "engine/records/error_reply.h"
#include "engine/records/json_rules.h"

#include <functional>
#include <optional>
#include <string>

namespace standin {

class StandinEngine;

namespace controlapi {

using Request = ControlRequest;
using Response = ControlResponse;

template <class T>
void reply(Response &res, const T &record, int status = 200)
{
    res.status = status;
    res.setContent(encodeRecord(record), "application/json");
}

void fail(Response &res, int status, const std::string &message);

// A change is acknowledged only once it is on disk. One that could not be written stays in effect and
// is saved again later, but the request is answered 5xx with the reason, so nobody counts on it.
bool committed(StandinEngine &engine, Response &res);
// The same for the learned schemas, which live in their own file.
bool schemaCommitted(StandinEngine &engine, Response &res);
// A write refused because the saved state would pass its bound: 507, as for a full disk, with the reason.
void refuseOverBound(Response &res, const std::string &reason);

// A route list, an environment set or a profile may be as large as the saved state: a body within
// the bound for saved data must never be refused for its size alone.
constexpr size_t kMaxListBodyBytes = StateStore::kMaxSavedBytes;

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

// A route list as its answer: written straight from the routes, which may hold bodies of tens of megabytes.
void replyRoutes(Response &res, const std::vector<WireRoute> &routes);

// Imports take their turn one at a time, on one thread of their own whatever their kind (a capture, an
// OpenAPI document, a profile): reading the file, changing the project, saving it and writing the
// answer. Several large files at once never hold their documents, merged projects and answers
// together, and each import reuses the heap the last one freed. What an import freed goes back to the
// system when it ends. Runs `work` there and waits for it; what it throws is thrown here.
void runImportInTurn(const std::function<void()> &work);

// The control requests by area.
void registerRoutesAndTraffic(ControlRouter &server, StandinEngine &engine);
void registerImports(ControlRouter &server, StandinEngine &engine);
void registerProjects(ControlRouter &server, StandinEngine &engine);
void registerSetupAndTools(ControlRouter &server, StandinEngine &engine);

} // namespace controlapi

} // namespace standin
