// Deciding and recording one proxied exchange: route, planned answer, history record, event, learning.
#include "exchange/exchange_handler.h"

#include "control/event_hub.h"
#include "core/bounded_input.h"
#include "core/engine_support.h"
#include "core/text_runs.h"
#include "exchange/own_answers.h"
#include "exchange/route_table.h"
#include "hosts/upstream.h"
#include "mocks/mock_generator.h"
#include "mocks/schema_learner.h"
#include "replay/replay_store.h"
#include "store/state_store.h"
#include "store/traffic_history.h"

#include "engine/records/error_reply.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <sstream>

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

namespace {

// Text as kept in a record: most of it is plain ASCII and stays as it is.
void cleanInPlace(std::string &text)
{
    if (asciiRun(text.data(), text.size()) < text.size())
        text = sanitizeUtf8(text);
}

std::string cleanText(std::string_view text)
{
    std::string kept(text);
    cleanInPlace(kept);
    return kept;
}

// An exchange's record: the request's fields and the bodies become members only when it is read or
// saved. The request is the one the replay store keeps, unless its body is too large for the history
// to hold it whole.
class ExchangeRecord final : public ReplayableRecord {
public:
    // The head is the plan's record, with the exchange's outcome.
    ExchangeRecord(TrafficRecord &&planned, const ExchangePlan &plan, int status,
                   std::shared_ptr<const ProxiedRequest> request, std::string_view responseBody)
        : ReplayableRecord(std::move(planned))
        , m_request(heldPart(std::move(request)))
        , m_responseStart(responseBody.substr(0, TrafficHistory::kMaxStoredBody + 1))
    {
        TrafficRecord &head = headToFill();
        head.status = status;
        head.latencyMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now()
                                                                               - plan.started)
                             .count();
        head.injected = plan.injected;
        cleanInPlace(head.host);
        cleanInPlace(head.path);
        if (head.query)
            cleanInPlace(*head.query);
    }

    size_t restRoughSize() const override
    {
        size_t size = std::min(m_request->body.size(), TrafficHistory::kMaxStoredBody) + m_responseStart.size() + 40;
        for (const auto &[name, value] : m_request->headers)
            size += name.size() + value.size() + 6;
        return size;
    }

    void fetchParts(int step) const override
    {
        ReplayableRecord::fetchParts(step);
        if (step == 0)
            fetchAhead(m_responseStart);
    }

protected:
    void addRest(TrafficRecord &record) const override
    {
        std::map<std::string, std::string> headers;
        for (const auto &[name, value] : m_request->headers) {
            if (!sameIgnoringAsciiCase(name, "proxy-authorization"))
                headers[cleanText(name)] = cleanText(value);
        }
        record.reqHeaders = std::move(headers);
        const std::string_view body = m_request->body;
        if (!body.empty())
            record.reqBody = TrafficHistory::clipBody(cleanText(body.substr(0, TrafficHistory::kMaxStoredBody + 1)));
        if (!m_responseStart.empty())
            record.respBody = TrafficHistory::clipBody(cleanText(m_responseStart));
    }

private:
    // A request whose body the history would hold whole for no use gets a copy of its own, cut short.
    static std::shared_ptr<const ProxiedRequest> heldPart(std::shared_ptr<const ProxiedRequest> request)
    {
        if (request->body.size() <= TrafficHistory::kMaxStoredBody + 1)
            return request;
        ProxiedRequest part;
        part.headers = request->headers;
        part.body = request->body.substr(0, TrafficHistory::kMaxStoredBody + 1);
        return std::make_shared<const ProxiedRequest>(std::move(part));
    }

    std::shared_ptr<const ProxiedRequest> m_request;
    std::string m_responseStart;
};

// isoTime and localClockTime of a moment, their part up to the second made once a second on each thread.
class ClockTexts final {
public:
    explicit ClockTexts(std::chrono::system_clock::time_point when)
    {
        const auto millis = std::chrono::floor<std::chrono::milliseconds>(when.time_since_epoch()).count();
        const auto second = millis >= 0 ? millis / 1000 : (millis - 999) / 1000;
        m_millis = static_cast<int>(millis - second * 1000);
        thread_local std::int64_t shown = LLONG_MIN;
        if (second != shown) {
            const std::chrono::system_clock::time_point whole {std::chrono::seconds(second)};
            t_iso = isoTime(whole);
            t_iso.resize(t_iso.size() - 5); // ".000Z"
            t_local = localClockTime(whole);
            t_local.resize(t_local.size() - 4); // ".000"
            shown = second;
        }
    }
    std::string iso() const { return withMillis(t_iso) + 'Z'; }
    std::string local() const { return withMillis(t_local); }

private:
    std::string withMillis(const std::string &prefix) const
    {
        std::string text;
        text.reserve(prefix.size() + 5);
        text += prefix;
        text += '.';
        text += static_cast<char>('0' + m_millis / 100);
        text += static_cast<char>('0' + m_millis / 10 % 10);
        text += static_cast<char>('0' + m_millis % 10);
        return text;
    }

    static thread_local std::string t_iso;
    static thread_local std::string t_local;
    int m_millis = 0;
};

thread_local std::string ClockTexts::t_iso;
thread_local std::string ClockTexts::t_local;

// The live event of a stored exchange: the members its history line has too, written the same way.
// Kept out of the recording's own path, which runs whether or not anyone listens.
[[gnu::noinline]] std::string requestEventText(const TrafficRecord &kept, std::chrono::system_clock::time_point at)
{
    const std::string localTime = ClockTexts(at).local();
    std::string text;
    text.reserve(kept.host.size() + kept.path.size() + kept.id.size() + 2 * localTime.size() + 160);
    text += R"({"type":"request","time":")";
    text += localTime;
    text += R"(","request":{"id":")";
    text += kept.id;
    text += R"(","time":")";
    text += localTime;
    text += "\",";
    TrafficHistory::appendSummary(text, kept);
    text += "}}";
    return text;
}

// The route key's hash (method in capitals, host in small letters, then the path) within its project:
// what sampling counts by, worked out without building the key.
std::uint64_t sampleKey(std::string_view projectId, std::string_view method, std::string_view host,
                        std::string_view path)
{
    std::uint64_t hash = 1469598103934665603ull;
    const auto add = [&](unsigned char c) {
        hash ^= c;
        hash *= 1099511628211ull;
    };
    for (const char c : projectId)
        add(static_cast<unsigned char>(c));
    add(0);
    for (const char c : method)
        add(static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
    add(' ');
    for (const char c : host)
        add(static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    for (const char c : path)
        add(static_cast<unsigned char>(c));
    return hash;
}

const std::string kJsonType = "application/json";
const std::string kTextType = "text/plain; charset=utf-8";
const std::string kNoType;

const std::string *contentTypeVerdict(const std::string &body)
{
    if (body.empty())
        return &kNoType;
    return nlohmann::json::accept(body) ? &kJsonType : &kTextType;
}

// The content type of a mock's answer: kept with the route table while the body is the route's own (or
// a step's) as it stands, worked out afresh when "{{key}}" made it another.
std::string answerContentType(const RouteTable &table, size_t index, const WireRoute &route, const std::string &body)
{
    if (body.size() == route.body.size() && body == route.body)
        return *table.bodyVerdict(index, std::nullopt, contentTypeVerdict);
    if (route.sequence) {
        for (size_t step = 0; step < route.sequence->size(); ++step) {
            const std::string &stepBody = (*route.sequence)[step].body;
            if (body.size() == stepBody.size() && body == stepBody)
                return *table.bodyVerdict(index, step, contentTypeVerdict);
        }
    }
    return *contentTypeVerdict(body);
}

} // namespace

namespace {

// Bodies at least this large are answered from one shared copy rather than one of each answer's own.
constexpr std::size_t kShareFrom = 4096;

// An absolute-form target without the "user:password@" a client may have written into it: the target
// itself when it has none, else the text made in `cleaned`.
std::string_view withoutUserinfo(const std::string &target, std::string &cleaned)
{
    const size_t schemeEnd = target.find("://");
    if (schemeEnd == std::string::npos)
        return target;
    const size_t authorityStart = schemeEnd + 3;
    const auto authorityEnd = std::find_if(target.begin() + static_cast<std::ptrdiff_t>(authorityStart), target.end(),
                                           [](char c) { return c == '/' || c == '?' || c == '#'; });
    const std::string_view authority(target.data() + authorityStart,
                                     static_cast<size_t>(authorityEnd - target.begin()) - authorityStart);
    const size_t at = authority.rfind('@');
    if (at == std::string_view::npos)
        return target;
    cleaned = target.substr(0, authorityStart) + target.substr(authorityStart + at + 1);
    return cleaned;
}

} // namespace

ExchangeHandler::ExchangeHandler(StateStore &state, TrafficHistory &history, SchemaLearner &schema,
                                 EventHub &events)
    : m_state(state)
    , m_history(history)
    , m_schema(schema)
    , m_events(events)
    , m_upstream(std::make_unique<Upstream>())
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
    if (!isLoopbackName(target.hostname))
        return false;
    std::lock_guard lock(m_mutex);
    return m_ownPorts.count(target.port) > 0;
}

ExchangePlan ExchangeHandler::plan(const ProxiedRequest &request)
{
    ExchangePlan plan;
    plan.startedAt = std::chrono::system_clock::now();
    plan.started = std::chrono::steady_clock::now();
    plan.record.time = ClockTexts(plan.startedAt).iso();
    plan.record.method = request.method;
    if (refuseBeforeRoutes(request, plan))
        return plan;

    const ActiveProjectView view = m_state.activeView();
    plan.projectId = view.projectId;
    const auto table = RouteTable::of(view.routes);
    const auto index = table->find(request.method, *plan.target);
    // What no route mocks goes to the real host, as a pass-through route would send it.
    const WireRoute *route = index ? &view.routes[*index] : nullptr;
    const bool passThrough = !route || route->passThrough;
    if (route)
        plan.matchedPath = route->path;
    PlannedAnswer answer;
    std::optional<RouteTable::Filled> filled;
    if (passThrough) {
        answer.status = 0; // the real host answers unless chaos decides otherwise
    } else {
        answer = mockAnswer(*table, *index, view, filled);
        plan.injected = true;
    }
    const bool stepDrops = answer.drop;
    if (view.chaos) {
        std::lock_guard lock(m_mutex);
        applyChaos(*view.chaos, answer, m_random);
    }
    plan.delayMs = answer.latencyMs + (answer.holdThenTimeout ? kTimeoutHoldMs : 0);
    ProxiedResponse &response = plan.response;
    if (answer.drop) {
        response.status = 502;
        response.body = proxyErrorBody(stepDrops ? "connection dropped by the route's sequence step"
                                                 : "connection dropped by the active chaos preset");
        response.drop = true;
        return plan;
    }
    if (passThrough && answer.status == 0) {
        // An OPTIONS or TRACE that may pass no further proxy is answered here, as its last recipient.
        if (hopsLeft(request) == std::uint64_t {0})
            response = lastRecipientAnswer(request);
        else
            plan.forward = true;
        return plan;
    }
    // A 1xx head only announces the answer to come: sent as the answer, the client would wait for
    // another, and a pipelining client would take the next request's answer as this one's.
    if (answer.status < 200) {
        response.status = 500;
        response.body = proxyErrorBody("the mocked status " + std::to_string(answer.status)
                                       + " can't be a final answer: a 1xx status only announces one");
        return plan;
    }
    response.status = answer.status;
    if (answer.status == 204 || answer.status == 304)
        return plan;
    // A large body is answered from one copy every answer shares, so a client that reads slowly holds
    // none of its own: the route's body from the route list itself, a filled-in one from the table.
    if (filled && answer.routeBody) {
        response.sharedBody = std::move(filled->body);
        response.contentType = *filled->verdict;
    } else if (answer.uncopied && answer.routeBody) {
        response.sharedBody = std::shared_ptr<const std::string>(std::make_shared<const RouteSnapshot>(view.routes),
                                                                 answer.uncopied);
        response.contentType = *table->bodyVerdict(*index, answer.step, contentTypeVerdict);
    } else {
        response.body = std::move(answer.body);
        if (route && !passThrough)
            response.contentType = answerContentType(*table, *index, *route, response.body);
    }
    return plan;
}

bool ExchangeHandler::refuseBeforeRoutes(const ProxiedRequest &request, ExchangePlan &plan)
{
    ProxiedResponse &response = plan.response;
    std::string cleanedTarget;
    const std::string_view targetText = withoutUserinfo(request.target, cleanedTarget);
    plan.target = parseProxyTarget(targetText, request.header("Host"));
    if (!plan.target || request.method == "CONNECT")
        plan.projectId = m_state.activeProjectId();
    if (request.method == "CONNECT") {
        plan.target.reset();
        plan.record.host = lowerAscii(request.target);
        response.status = 501;
        response.body = proxyErrorBody("CONNECT is answered by the proxy port itself");
        return true;
    }
    if (!plan.target) {
        plan.record.host = lowerAscii(request.header("Host"));
        plan.record.path = targetText;
        response.status = 400;
        response.body = proxyErrorBody(whyNoHost(request, targetText));
        return true;
    }
    const ProxyTarget &target = *plan.target;
    plan.record.host = target.host;
    plan.record.path = target.path;
    plan.record.scheme = target.scheme;
    if (target.queryMarked)
        plan.record.query = target.query;
    if (hostFieldCount(request) > 1) {
        plan.projectId = m_state.activeProjectId();
        response.status = 400;
        response.body = proxyErrorBody("refused: the request has more than one Host field, so the host it is "
                                       "for is unclear");
        return true;
    }
    if (isOwnPort(target)) {
        plan.projectId = m_state.activeProjectId();
        response.status = 403;
        response.body = proxyErrorBody("refusing to proxy to the engine's own port " + std::to_string(target.port));
        return true;
    }
    if (viaNames(request.headers, m_viaToken)) {
        response.status = 508;
        response.body = proxyErrorBody("refused: this request already passed through this proxy once, so its "
                                       "host leads back to the proxy (a forwarding loop)");
        return true;
    }
    return false;
}

PlannedAnswer ExchangeHandler::mockAnswer(const RouteTable &table, size_t index, const ActiveProjectView &view,
                                          std::optional<RouteTable::Filled> &filled)
{
    const WireRoute &route = view.routes[index];
    // Only a sequence depends on how often its route answered.
    const bool counted = route.sequence && !route.sequence->empty();
    // A large body is not copied for each answer: every answer shares the route's own.
    PlannedAnswer answer = planAnswer(route, counted ? m_state.nextHit(route.id) : 0, kShareFrom - 1);
    // Text without "{{" stays as it is. Filled in, it is bounded as a generated body is; a large one is
    // filled once for every answer while the routes and the environment stand.
    if (!answer.routeBody || (answer.uncopied ? *answer.uncopied : answer.body).find("{{") == std::string::npos)
        return answer;
    if (answer.uncopied) {
        filled = table.filledBody(index, answer.step, view.variables, kMaxGeneratedBytes, contentTypeVerdict);
        if (filled)
            return answer;
    } else if (auto text = substituteVariables(answer.body, view.variables, kMaxGeneratedBytes)) {
        answer.body = std::move(*text);
        return answer;
    }
    answer.status = 500;
    answer.routeBody = false;
    answer.body = proxyErrorBody("the route's body with its {{variables}} filled in would pass "
                                 + std::to_string(kMaxGeneratedBytes / (1024 * 1024)) + " MB");
    return answer;
}

bool ExchangeHandler::mocksHost(const ProxyTarget &target) const
{
    const ActiveProjectView view = m_state.activeView();
    const std::vector<WireRoute> &routes = view.routes;
    return std::any_of(routes.begin(), routes.end(), [&](const WireRoute &route) {
        return route.active && !route.passThrough && hostMatches(route.host, target);
    });
}

std::shared_ptr<const KeptRecord> ExchangeHandler::finish(ExchangePlan &plan, const ProxiedRequest &request, int status,
                                                          const std::string &responseBody, bool whole)
{
    return conclude(plan, TrafficRecord(plan.record), std::make_shared<const ProxiedRequest>(request), status,
                    responseBody, whole);
}

void ExchangeHandler::finishAnswer(ExchangePlan &plan, ProxiedRequest request, int status,
                                   const std::string &responseBody, bool whole)
{
    conclude(plan, std::move(plan.record), std::make_shared<const ProxiedRequest>(std::move(request)), status,
             responseBody, whole);
}

std::shared_ptr<const KeptRecord> ExchangeHandler::conclude(ExchangePlan &plan, TrafficRecord &&head,
                                                            std::shared_ptr<const ProxiedRequest> request, int status,
                                                            const std::string &responseBody, bool whole)
{
    auto kept = keep(plan, std::move(head), std::move(request), status, responseBody);
    // The body is copied for learning only when the route's sample takes it.
    if (whole) {
        if (auto observation = sampleOf(plan, kept->head(), responseBody))
            learn(std::move(*observation), responseBody);
    }
    return kept;
}

std::shared_ptr<const KeptRecord> ExchangeHandler::record(ExchangePlan &plan, ProxiedRequest request, int status,
                                                          std::string_view responseBody)
{
    return keep(plan, std::move(plan.record), std::make_shared<const ProxiedRequest>(std::move(request)), status,
                responseBody);
}

std::shared_ptr<const KeptRecord> ExchangeHandler::keep(const ExchangePlan &plan, TrafficRecord &&head,
                                                        std::shared_ptr<const ProxiedRequest> request, int status,
                                                        std::string_view responseBody)
{
    auto record = std::make_shared<ExchangeRecord>(std::move(head), plan, status, request, responseBody);
    auto kept = m_replays ? m_replays->keep(std::move(record), std::move(request)) : m_history.keep(std::move(record));
    if (m_events.listening()) {
        m_events.publish(std::make_shared<const std::string>(requestEventText(kept->head(), plan.startedAt)));
    }
    return kept;
}

void ExchangeHandler::keepRequest(const TrafficRecord &record, const ProxiedRequest &request)
{
    if (m_replays)
        m_replays->keepAgain(record.id, record.time, request);
}

void ExchangeHandler::learnFrom(const ExchangePlan &plan, const TrafficRecord &recorded, std::string responseBody)
{
    if (auto observation = sampleOf(plan, recorded, responseBody))
        learn(std::move(*observation), std::move(responseBody));
}

std::optional<SchemaLearner::Observation> ExchangeHandler::sampleOf(const ExchangePlan &plan,
                                                                    const TrafficRecord &recorded,
                                                                    std::string_view responseBody)
{
    // Only a host's answers teach what its API looks like: the user's own mocks would be read as drift.
    if (!plan.forward || !plan.target || recorded.status < 200 || recorded.status >= 300)
        return std::nullopt;
    // Only an object or an array is learned from; anything else isn't worth a place in the queue.
    const size_t start = responseBody.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos || (responseBody[start] != '{' && responseBody[start] != '['))
        return std::nullopt;
    const std::string &routePath = plan.matchedPath.empty() ? recorded.path : plan.matchedPath;
    if (!m_schema.sample(sampleKey(plan.projectId, recorded.method, recorded.host, routePath)))
        return std::nullopt;
    return SchemaLearner::Observation {plan.projectId, routeKey(recorded.method, recorded.host, routePath),
                                       recorded.method, recorded.host, routePath, recorded.id, recorded.time};
}

void ExchangeHandler::learn(SchemaLearner::Observation observation, std::string responseBody)
{
    // Learning reads the whole body; the record only keeps a clipped copy.
    std::string time = observation.time;
    m_schema.observeLater(std::move(observation), std::move(responseBody),
                          [this, time = std::move(time)](const WireDriftEvent &drift) {
                              if (!m_events.listening())
                                  return;
                              EngineEvent event;
                              event.type = "schema_drift";
                              const auto seen = parseIsoTime(time);
                              event.time = seen ? localClockTime(*seen) : time;
                              event.drift = drift;
                              m_events.publish(std::make_shared<const std::string>(encodeRecord(event)));
                          });
}

std::string contentTypeFor(const std::string &body)
{
    return *contentTypeVerdict(body);
}

} // namespace standin
