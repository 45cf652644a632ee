// Control request handlers of the stand-in engine.
#include "control_api.h"
#include "control_api_support.h"

#include "core/data_file.h"
#include "control/control_http.h"
#include "standin_engine.h"
#include "store/route_text.h"

#include <thread>

namespace standin {

namespace controlapi {

void fail(Response &res, int status, const std::string &message)
{
    reply(res, ErrorReply {message}, status);
}

bool committed(StandinEngine &engine, Response &res)
{
    const auto failure = engine.state().save();
    if (!failure)
        return true;
    fail(res, isOutOfSpace(failure->code) ? 507 : 500,
         failure->message + "; the change is in effect but not saved, and saving is retried");
    return false;
}

void replyRoutes(Response &res, const std::vector<WireRoute> &routes)
{
    res.status = 200;
    res.setContent(routeListText(routes), "application/json");
}

void refuseOverBound(Response &res, const std::string &reason)
{
    fail(res, 507, reason);
}

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

} // namespace controlapi

namespace {

using controlapi::fail;
using controlapi::kMaxListBodyBytes;
using controlapi::reply;
using controlapi::Request;
using controlapi::Response;

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
    const size_t colon = host.rfind(':');
    if (colon == std::string::npos || host.substr(colon + 1) != std::to_string(controlPort))
        return false;
    const std::string name = host.substr(0, colon);
    return name == "127.0.0.1" || name == "localhost";
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
        if (!controlHostAllowed(req.authority, engine.controlPort())) {
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

    controlapi::registerRoutesAndTraffic(server, engine);
    controlapi::registerImports(server, engine);
    controlapi::registerProjects(server, engine);
    controlapi::registerSetupAndTools(server, engine);
}

} // namespace standin
