// Deciding and recording one proxied exchange: route, planned answer, history record, event, learning.
#include "exchange_handler.h"

#include "bounded_input.h"
#include "engine_support.h"
#include "forwarder.h"
#include "replay_store.h"
#include "schema_learner.h"
#include "state_store.h"
#include "traffic_history.h"
#include "upstream.h"

#include "engine/records/error_reply.h"

#include <cstdio>
#include <sstream>
#include <unordered_map>

namespace standin {

bool isLoopbackName(const std::string &hostname)
{
    return hostname == "127.0.0.1" || hostname == "localhost" || hostname == "[::1]" || hostname == "0.0.0.0"
           || hostname.rfind("127.", 0) == 0;
}

std::string proxyErrorBody(const std::string &message)
{
    return encodeRecord(ErrorReply {message});
}

bool viaNames(const std::vector<std::pair<std::string, std::string>> &headers, const std::string &token)
{
    for (const auto &[name, value] : headers) {
        if (name.size() != 3 || lowerAscii(name) != "via")
            continue;
        // Each entry is "protocol received-by [comment]", entries separated by commas.
        for (std::size_t at = 0;;) {
            const std::size_t end = value.find(',', at);
            std::istringstream words(value.substr(at, end == std::string::npos ? std::string::npos : end - at));
            std::string protocol;
            std::string receivedBy;
            words >> protocol >> receivedBy;
            if (receivedBy == token)
                return true;
            if (end == std::string::npos)
                break;
            at = end + 1;
        }
    }
    return false;
}

std::string ProxiedRequest::header(const std::string &name) const
{
    const std::string wanted = lowerAscii(name);
    for (const auto &[key, value] : headers) {
        if (lowerAscii(key) == wanted)
            return value;
    }
    return {};
}

namespace {

// A large body the route holds as it stands is answered from the route table itself, not a copy.
// Returns the body shared, if one is.
const std::string *shareRouteBody(ProxiedResponse &response, const WireRoute &route, const RouteSnapshot &routes)
{
    constexpr std::size_t kShareFrom = 4096;
    if (response.body.size() < kShareFrom)
        return nullptr;
    const std::string *source = nullptr;
    if (route.body == response.body) {
        source = &route.body;
    } else if (route.sequence) {
        for (const auto &step : *route.sequence) {
            if (step.body == response.body) {
                source = &step.body;
                break;
            }
        }
    }
    if (!source)
        return nullptr;
    auto holder = std::make_shared<const RouteSnapshot>(routes);
    response.sharedBody = std::shared_ptr<const std::string>(holder, source);
    std::string().swap(response.body); // assigning an empty string would keep the capacity
    return source;
}

// An absolute-form target without the "user:password@" a client may have written into it.
std::string withoutUserinfo(const std::string &target)
{
    const size_t schemeEnd = target.find("://");
    if (schemeEnd == std::string::npos)
        return target;
    const size_t authorityStart = schemeEnd + 3;
    const size_t authorityEnd = std::min(target.find_first_of("/?#", authorityStart), target.size());
    const size_t at = target.rfind('@', authorityEnd - 1);
    if (at == std::string::npos || at < authorityStart)
        return target;
    return target.substr(0, authorityStart) + target.substr(at + 1);
}

} // namespace

// Content types of the large bodies of one route table, so a large JSON mock isn't validated again on
// every answer. Holding the table keeps each body's address its own.
struct ExchangeHandler::ContentTypes {
    std::mutex mutex;
    RouteSnapshot table;
    std::unordered_map<const std::string *, std::string> types;

    std::string of(const RouteSnapshot &routes, const std::string &body)
    {
        {
            std::lock_guard lock(mutex);
            if (routes.empty() || table.empty() || &*routes.begin() != &*table.begin()) {
                table = routes;
                types.clear();
            }
            if (const auto known = types.find(&body); known != types.end())
                return known->second;
        }
        std::string type = contentTypeFor(body);
        std::lock_guard lock(mutex);
        if (!table.empty() && !routes.empty() && &*routes.begin() == &*table.begin())
            types.emplace(&body, type);
        return type;
    }
};

ExchangeHandler::ExchangeHandler(StateStore &state, TrafficHistory &history, SchemaLearner &schema,
                                 Publish publish)
    : m_state(state)
    , m_history(history)
    , m_schema(schema)
    , m_publish(std::move(publish))
    , m_upstream(std::make_unique<Upstream>())
    , m_contentTypes(std::make_unique<ContentTypes>())
    , m_random(std::random_device {}())
{
    char token[32];
    std::snprintf(token, sizeof token, "kestrion-%016llx", static_cast<unsigned long long>(m_random()));
    m_viaToken = token;
}

ExchangeHandler::~ExchangeHandler()
{
    // Learning still queued announces its findings through what this handler was given.
    m_schema.settle();
}

void ExchangeHandler::setOwnPorts(std::set<int> ports)
{
    m_upstream->setOwnPorts(ports);
    std::lock_guard lock(m_mutex);
    m_ownPorts = std::move(ports);
}

bool ExchangeHandler::isOwnPort(const ProxyTarget &target) const
{
    std::lock_guard lock(m_mutex);
    return isLoopbackName(target.hostname) && m_ownPorts.count(target.port) > 0;
}

ExchangePlan ExchangeHandler::plan(const ProxiedRequest &request)
{
    ExchangePlan plan;
    plan.startedAt = std::chrono::system_clock::now();
    plan.started = std::chrono::steady_clock::now();
    plan.projectId = m_state.activeProjectId();
    plan.record.time = isoTime(plan.startedAt);
    plan.record.method = request.method;
    ProxiedResponse &response = plan.response;

    const std::string targetText = withoutUserinfo(request.target);
    plan.target = parseProxyTarget(targetText, request.header("Host"));
    if (request.method == "CONNECT") {
        plan.target.reset();
        plan.record.host = lowerAscii(request.target);
        response.status = 501;
        response.body = proxyErrorBody("CONNECT is answered by the proxy port itself");
        return plan;
    }
    if (!plan.target) {
        plan.record.host = lowerAscii(request.header("Host"));
        plan.record.path = targetText;
        response.status = 400;
        response.body = proxyErrorBody("not a proxy request: expected an absolute http:// URL or a Host header");
        return plan;
    }
    const ProxyTarget &target = *plan.target;
    plan.record.host = target.host;
    plan.record.path = target.path;
    plan.record.scheme = target.scheme;
    if (!target.query.empty())
        plan.record.query = target.query;
    if (isOwnPort(target)) {
        response.status = 403;
        response.body = proxyErrorBody("refusing to proxy to the engine's own port " + std::to_string(target.port));
        return plan;
    }

    if (viaNames(request.headers, m_viaToken)) {
        response.status = 508;
        response.body = proxyErrorBody("refused: this request already passed through this proxy once, so its "
                                       "host leads back to the proxy (a forwarding loop)");
        return plan;
    }

    const ActiveProjectView view = m_state.activeView();
    const auto index = findRoute(view.routes, request.method, target);
    // What no route mocks goes to the real host, as a pass-through route would send it.
    const WireRoute *route = index ? &view.routes[*index] : nullptr;
    const bool passThrough = !route || route->passThrough;
    if (route)
        plan.matchedPath = route->path;

    PlannedAnswer answer;
    if (passThrough) {
        answer.status = 0; // the real host answers unless chaos decides otherwise
    } else {
        answer = planAnswer(*route, m_state.nextHit(route->id));
        answer.body = substituteVariables(answer.body, view.variables);
        plan.injected = true;
    }
    const bool stepDrops = answer.drop;
    if (view.chaos) {
        std::lock_guard lock(m_mutex);
        applyChaos(*view.chaos, answer, m_random);
    }
    plan.delayMs = answer.latencyMs + (answer.holdThenTimeout ? kTimeoutHoldMs : 0);
    if (answer.drop) {
        response.status = 502;
        response.body = proxyErrorBody(stepDrops ? "connection dropped by the route's sequence step"
                                                 : "connection dropped by the active chaos preset");
        response.drop = true;
        return plan;
    }
    if (passThrough && answer.status == 0) {
        plan.forward = true;
        return plan;
    }
    response.status = answer.status;
    if (answer.status != 204 && answer.status != 304) {
        response.body = std::move(answer.body);
        if (const std::string *shared = shareRouteBody(response, *route, view.routes))
            response.contentType = m_contentTypes->of(view.routes, *shared);
    }
    return plan;
}

TrafficRecord ExchangeHandler::finish(ExchangePlan &plan, const ProxiedRequest &request, int status,
                                      const std::string &responseBody, bool whole)
{
    TrafficRecord kept = record(plan, request, status, responseBody);
    if (whole)
        learnFrom(plan, kept, responseBody);
    return kept;
}

TrafficRecord ExchangeHandler::record(ExchangePlan &plan, const ProxiedRequest &request, int status,
                                      std::string_view responseBody)
{
    TrafficRecord record = plan.record;
    record.status = status;
    record.latencyMs = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - plan.started).count());
    record.injected = plan.injected;
    std::map<std::string, std::string> headers;
    for (const auto &[name, value] : request.headers) {
        if (lowerAscii(name) != "proxy-authorization")
            headers[sanitizeUtf8(name)] = sanitizeUtf8(value);
    }
    record.reqHeaders = std::move(headers);
    if (!request.body.empty())
        record.reqBody = sanitizeUtf8(std::string_view(request.body).substr(0, TrafficHistory::kMaxStoredBody + 1));
    if (!responseBody.empty())
        record.respBody = sanitizeUtf8(responseBody.substr(0, TrafficHistory::kMaxStoredBody + 1));
    record.host = sanitizeUtf8(record.host);
    record.path = sanitizeUtf8(record.path);
    if (record.query)
        record.query = sanitizeUtf8(*record.query);

    const TrafficRecord kept = m_history.add(record);
    keepRequest(kept, request);
    EngineEvent event;
    event.type = "request";
    event.time = localClockTime(plan.startedAt);
    event.request = WireTrafficEvent {kept.id, event.time, kept.method, kept.host, kept.path,
                                      kept.status, kept.latencyMs, kept.injected};
    m_publish(event);
    return kept;
}

void ExchangeHandler::keepRequest(const TrafficRecord &record, const ProxiedRequest &request)
{
    if (m_replays)
        m_replays->keep(record.id, record.time, request);
}

void ExchangeHandler::learnFrom(const ExchangePlan &plan, const TrafficRecord &recorded, std::string responseBody)
{
    // Learning reads the whole body; the record only keeps a clipped copy.
    if (plan.target && recorded.status >= 200 && recorded.status < 300)
        learn(recorded, std::move(responseBody), plan.matchedPath.empty() ? recorded.path : plan.matchedPath,
              plan.projectId);
}

ProxiedResponse ExchangeHandler::handle(const ProxiedRequest &request, const Wait &wait, TrafficRecord *stored)
{
    ExchangePlan planned = plan(request);
    ProxiedResponse response = planned.response;
    if (response.sharedBody) {
        response.body = *response.sharedBody;
        response.sharedBody.reset();
    }
    if (planned.delayMs > 0 && !wait(planned.delayMs)) {
        response = ProxiedResponse {};
        response.status = 503;
        response.body = proxyErrorBody("the proxy is stopping");
    } else if (planned.forward) {
        planned.delayMs = 0; // waited above
        const TrafficRecord kept = forwardDetached(*this, request, planned);
        m_schema.settle();
        if (stored)
            *stored = kept;
        ProxiedResponse forwarded;
        forwarded.status = static_cast<int>(kept.status);
        forwarded.body = kept.respBody.value_or("");
        return forwarded;
    }
    if (response.contentType.empty())
        response.contentType = contentTypeFor(response.body);
    const TrafficRecord kept = finish(planned, request, response.status, response.body, true);
    m_schema.settle(); // the caller sees what this exchange taught
    if (stored)
        *stored = kept;
    return response;
}

void ExchangeHandler::learn(const TrafficRecord &record, std::string responseBody, const std::string &routePath,
                            const std::string &projectId)
{
    // Only an object or an array is learned from; anything else isn't worth a place in the queue.
    const size_t start = responseBody.find_first_not_of(" \t\r\n");
    if (start == std::string::npos || (responseBody[start] != '{' && responseBody[start] != '['))
        return;
    SchemaLearner::Observation observation {projectId, routeKey(record.method, record.host, routePath),
                                            record.method, record.host, routePath, record.id, record.time};
    m_schema.observeLater(std::move(observation), std::move(responseBody),
                          [this, time = record.time](const WireDriftEvent &drift) {
                              EngineEvent event;
                              event.type = "schema_drift";
                              const auto seen = parseIsoTime(time);
                              event.time = seen ? localClockTime(*seen) : time;
                              event.drift = drift;
                              m_publish(event);
                          });
}

std::string contentTypeFor(const std::string &body)
{
    if (body.empty())
        return {};
    return nlohmann::json::accept(body) ? "application/json" : "text/plain; charset=utf-8";
}

} // namespace standin
