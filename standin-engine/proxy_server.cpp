// The stand-in engine's proxy: answers from routes, records every exchange, learns response schemas.
#include "proxy_server.h"

#include "bounded_input.h"
#include "engine_support.h"
#include "schema_learner.h"
#include "state_store.h"
#include "traffic_history.h"

#include <httplib.h>

#include <chrono>

namespace standin {

namespace {

bool isLoopbackName(const std::string &hostname)
{
    return hostname == "127.0.0.1" || hostname == "localhost" || hostname == "[::1]" || hostname == "0.0.0.0"
           || hostname.rfind("127.", 0) == 0;
}

bool isHopByHop(const std::string &name)
{
    static const std::set<std::string> kHopByHop = {
        "connection", "proxy-connection", "keep-alive", "proxy-authorization", "proxy-authenticate",
        "te", "trailer", "transfer-encoding", "upgrade", "host", "content-length",
    };
    return kHopByHop.count(lowerAscii(name)) > 0;
}

// Set while one of our handlers made the answer, so the error handler never dresses up an upstream's
// own empty 4xx/5xx; the logger, which runs after every response, clears it.
thread_local bool t_answeredByHandler = false;

// httplib files the socket addresses among the request headers; they were never sent by the client.
bool isConnectionPseudoHeader(const std::string &name)
{
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

std::string contentTypeFor(const std::string &body)
{
    if (body.empty())
        return {};
    return nlohmann::json::accept(body) ? "application/json" : "text/plain; charset=utf-8";
}

} // namespace

std::string proxyErrorBody(const std::string &message)
{
    return encodeRecord(ErrorReply {message});
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

ExchangeHandler::ExchangeHandler(StateStore &state, TrafficHistory &history, SchemaLearner &schema,
                                 Publish publish)
    : m_state(state)
    , m_history(history)
    , m_schema(schema)
    , m_publish(std::move(publish))
    , m_random(std::random_device {}())
{
}

void ExchangeHandler::setOwnPorts(std::set<int> ports)
{
    std::lock_guard lock(m_mutex);
    m_ownPorts = std::move(ports);
}

bool ExchangeHandler::isOwnPort(const ProxyTarget &target) const
{
    std::lock_guard lock(m_mutex);
    return isLoopbackName(target.hostname) && m_ownPorts.count(target.port) > 0;
}

ProxiedResponse ExchangeHandler::handle(const ProxiedRequest &request, const Wait &wait, TrafficRecord *stored)
{
    const auto startedAt = std::chrono::system_clock::now();
    const auto started = std::chrono::steady_clock::now();
    const std::string projectId = m_state.activeProjectId();

    TrafficRecord record;
    record.time = isoTime(startedAt);
    record.method = request.method;

    ProxiedResponse response;
    bool injected = false;
    std::string matchedPath;
    const auto target = parseProxyTarget(request.target, request.header("Host"));
    if (request.method == "CONNECT") {
        record.host = lowerAscii(request.target);
        record.path = "";
        response.status = 501;
        response.body = proxyErrorBody("HTTPS tunnels (CONNECT) are not supported by this engine; use plain HTTP");
    } else if (!target) {
        record.host = lowerAscii(request.header("Host"));
        record.path = request.target;
        response.status = 400;
        response.body = proxyErrorBody("not a proxy request: expected an absolute http:// URL or a Host header");
    } else {
        record.host = target->host;
        record.path = target->path;
        record.scheme = target->scheme;
        if (!target->query.empty())
            record.query = target->query;
        if (isOwnPort(*target)) {
            response.status = 403;
            response.body = proxyErrorBody("refusing to proxy to the engine's own port " + std::to_string(target->port));
        } else {
            response = answer(request, *target, wait, injected, matchedPath);
        }
    }
    if (response.contentType.empty())
        response.contentType = contentTypeFor(response.body);

    record.status = response.status;
    record.latencyMs = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count());
    record.injected = injected;
    std::map<std::string, std::string> headers;
    for (const auto &[name, value] : request.headers) {
        if (lowerAscii(name) != "proxy-authorization")
            headers[sanitizeUtf8(name)] = sanitizeUtf8(value);
    }
    record.reqHeaders = std::move(headers);
    if (!request.body.empty())
        record.reqBody = sanitizeUtf8(request.body);
    if (!response.body.empty())
        record.respBody = sanitizeUtf8(response.body);
    record.host = sanitizeUtf8(record.host);
    record.path = sanitizeUtf8(record.path);
    if (record.query)
        record.query = sanitizeUtf8(*record.query);

    const TrafficRecord kept = m_history.add(record);
    EngineEvent event;
    event.type = "request";
    event.time = kept.time;
    event.request = WireTrafficEvent {kept.id, kept.time, kept.method, kept.host, kept.path,
                                      kept.status, kept.latencyMs, kept.injected};
    m_publish(event);

    // Learning reads the whole body; the record only keeps a clipped copy.
    if (target && response.status >= 200 && response.status < 300)
        learn(kept, response.body, matchedPath.empty() ? kept.path : matchedPath, projectId);
    if (stored)
        *stored = kept;
    return response;
}

ProxiedResponse ExchangeHandler::answer(const ProxiedRequest &request, const ProxyTarget &target,
                                        const Wait &wait, bool &injected, std::string &matchedPath)
{
    const ActiveProjectView view = m_state.activeView();
    ProxiedResponse response;
    const auto index = findRoute(view.routes, request.method, target);
    if (!index) {
        response.status = 502;
        response.body = proxyErrorBody("no active route matches " + request.method + " " + target.host + target.path);
        return response;
    }
    const WireRoute &route = view.routes[*index];
    matchedPath = route.path;

    PlannedAnswer plan;
    std::string contentType; // the upstream's, for a passed-through answer that chaos leaves alone
    if (route.passThrough) {
        ProxiedResponse upstream = forward(request, target);
        plan.status = upstream.status;
        plan.body = std::move(upstream.body);
        contentType = upstream.contentType;
    } else {
        plan = planAnswer(route, m_state.nextHit(route.id));
        plan.body = substituteVariables(plan.body, view.variables);
        injected = true;
    }
    const int statusBeforeChaos = plan.status;
    if (view.chaos) {
        std::lock_guard lock(m_mutex);
        applyChaos(*view.chaos, plan, m_random);
    }
    if (plan.status != statusBeforeChaos)
        contentType.clear();
    if (plan.latencyMs > 0 && !wait(plan.latencyMs))
        return {503, proxyErrorBody("the proxy is stopping"), {}, {}, false};
    if (plan.holdThenTimeout && !wait(kTimeoutHoldMs))
        return {503, proxyErrorBody("the proxy is stopping"), {}, {}, false};
    if (plan.drop) {
        // httplib can't cut a connection from a handler; a closing 502 is the nearest honest answer.
        return {502, proxyErrorBody("connection dropped by the active chaos preset"), {}, {{"Connection", "close"}},
                true};
    }
    response.status = plan.status;
    response.body = plan.status == 204 || plan.status == 304 ? std::string() : std::move(plan.body);
    response.contentType = std::move(contentType);
    return response;
}

ProxiedResponse ExchangeHandler::forward(const ProxiedRequest &request, const ProxyTarget &target)
{
    httplib::Client client(target.scheme + "://" + target.host);
    client.set_connection_timeout(5, 0);
    client.set_read_timeout(30, 0);
    client.set_write_timeout(30, 0);

    httplib::Headers headers;
    for (const auto &[name, value] : request.headers) {
        if (!isHopByHop(name))
            headers.emplace(name, value);
    }
    httplib::Request upstream;
    upstream.method = request.method;
    upstream.path = target.path + (target.query.empty() ? "" : "?" + target.query);
    upstream.headers = std::move(headers);
    upstream.body = request.body;

    httplib::Response reply;
    httplib::Error error = httplib::Error::Success;
    if (!client.send(upstream, reply, error)) {
        return {502, proxyErrorBody("upstream " + target.host + " could not be reached: " + httplib::to_string(error)),
                {}, {}, false};
    }
    ProxiedResponse response;
    response.status = reply.status;
    response.body = std::move(reply.body);
    response.contentType = reply.get_header_value("Content-Type");
    return response;
}

void ExchangeHandler::learn(const TrafficRecord &record, const std::string &responseBody, const std::string &routePath,
                            const std::string &projectId)
{
    std::string error;
    const auto body = parseBoundedJson(responseBody, error);
    if (!body || !(body->is_object() || body->is_array()))
        return;
    SchemaLearner::Observation observation {projectId, routeKey(record.method, record.host, routePath),
                                            record.method, record.host, routePath, record.id, record.time};
    const auto drift = m_schema.observe(observation, *body);
    if (!drift)
        return;
    EngineEvent event;
    event.type = "schema_drift";
    event.time = record.time;
    event.drift = *drift;
    m_publish(event);
}

ProxyServer::ProxyServer(ExchangeHandler &handler)
    : m_handler(handler)
{
}

ProxyServer::~ProxyServer()
{
    stop();
}

bool ProxyServer::waitInterruptible(int milliseconds)
{
    std::unique_lock lock(m_waitMutex);
    return !m_waitCondition.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_stopping; });
}

bool ProxyServer::start(int port, std::string &error)
{
    std::lock_guard lock(m_mutex);
    if (m_running)
        return true;

    auto server = std::make_unique<httplib::Server>();
    server->new_task_queue = [] { return new httplib::ThreadPool(32); };
    server->set_payload_max_length(kMaxBodyBytes);
    server->set_keep_alive_timeout(1);
    server->set_socket_options(exclusiveSocketOptions);
    // Bodies are read only after pre-routing, so ordinary methods go through handlers; CONNECT has no
    // handler kind of its own and is answered before routing.
    const auto serve = [this](const httplib::Request &req, httplib::Response &res) {
        ProxiedRequest request;
        request.method = req.method;
        request.target = req.target;
        request.body = req.body;
        for (const auto &[name, value] : req.headers) {
            if (!isConnectionPseudoHeader(name))
                request.headers.emplace_back(name, value);
        }
        const ProxiedResponse out = m_handler.handle(request, [this](int ms) { return waitInterruptible(ms); });
        t_answeredByHandler = true;
        res.status = out.status;
        for (const auto &[name, value] : out.headers)
            res.set_header(name, value);
        if (!out.body.empty() || !out.contentType.empty())
            res.set_content(out.body, out.contentType.empty() ? "text/plain" : out.contentType);
    };
    server->set_pre_routing_handler([serve](const httplib::Request &req, httplib::Response &res) {
        if (req.method != "CONNECT")
            return httplib::Server::HandlerResponse::Unhandled;
        serve(req, res);
        return httplib::Server::HandlerResponse::Handled;
    });
    const std::string anything = ".*";
    server->Get(anything, serve);
    server->Post(anything, serve);
    server->Put(anything, serve);
    server->Patch(anything, serve);
    server->Delete(anything, serve);
    server->Options(anything, serve);
    server->set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (!t_answeredByHandler && res.body.empty())
            res.set_content(proxyErrorBody("bad proxy request (HTTP " + std::to_string(res.status) + ")"),
                            "application/json");
    });
    server->set_logger([](const httplib::Request &, const httplib::Response &) { t_answeredByHandler = false; });

    int bound = port;
    if (port == 0)
        bound = server->bind_to_any_port("127.0.0.1");
    else if (!server->bind_to_port("127.0.0.1", port))
        bound = -1;
    if (bound <= 0) {
        error = "proxy port " + std::to_string(port) + " is already in use or not available";
        return false;
    }

    {
        std::lock_guard waitLock(m_waitMutex);
        m_stopping = false;
    }
    httplib::Server *raw = server.get();
    m_thread = std::thread([raw] { raw->listen_after_bind(); });
    // stop() does nothing until the loop runs, so don't report the start before it does.
    for (int i = 0; i < 400 && !raw->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    m_server = std::move(server);
    m_port = bound;
    m_running = true;
    return true;
}

void ProxyServer::stop()
{
    std::lock_guard lock(m_mutex);
    if (!m_running)
        return;
    {
        std::lock_guard waitLock(m_waitMutex);
        m_stopping = true;
    }
    m_waitCondition.notify_all();
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_server.reset();
    m_running = false;
}

bool ProxyServer::running() const
{
    return m_running;
}

int ProxyServer::port() const
{
    return m_port;
}

} // namespace standin
