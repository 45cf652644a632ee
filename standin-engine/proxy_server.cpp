// The stand-in engine's proxy: answers from routes, passes the rest through with bounded buffers,
// intercepts HTTPS with per-host leaves, records every exchange and learns response schemas.
#include "proxy_server.h"

#include "bounded_input.h"
#include "engine_support.h"
#include "leaf_certificates.h"
#include "schema_learner.h"
#include "state_store.h"
#include "traffic_history.h"

#include <boost/asio/ssl.hpp>
#include <boost/beast/ssl.hpp>

#include <array>
#include <chrono>
#include <limits>

namespace standin {

namespace {

namespace asio = net::asio;
namespace beast = net::beast;
namespace http = net::http;
using net::Limits;
using net::tcp;

// How long a real host may take to start answering, and between two pieces of its answer.
constexpr std::chrono::minutes kUpstreamWait {5};
// An idle tunnel is closed after this long.
constexpr std::chrono::minutes kTunnelIdle {10};

bool isHopByHop(std::string_view name)
{
    static const std::set<std::string> kHopByHop = {
        "connection", "proxy-connection", "keep-alive", "proxy-authorization", "proxy-authenticate",
        "te", "trailer", "transfer-encoding", "upgrade",
    };
    return kHopByHop.count(lowerAscii(name)) > 0;
}

// Removes hop-by-hop fields, and those the Connection field names, from a message about to be relayed.
template <class Fields>
void dropHopByHop(Fields &fields)
{
    std::vector<std::string> named;
    for (const auto &field : fields) {
        if (!beast::iequals(field.name_string(), "connection"))
            continue;
        for (const auto &token : http::token_list {field.value()})
            named.push_back(lowerAscii(std::string(token)));
    }
    std::vector<std::string> doomed;
    for (const auto &field : fields) {
        const std::string name = lowerAscii(std::string(field.name_string()));
        if (isHopByHop(name) || std::find(named.begin(), named.end(), name) != named.end())
            doomed.push_back(name);
    }
    for (const auto &name : doomed)
        fields.erase(name);
}

std::string contentTypeFor(const std::string &body)
{
    if (body.empty())
        return {};
    return nlohmann::json::accept(body) ? "application/json" : "text/plain; charset=utf-8";
}

bool expectsBody(const http::request_parser<http::empty_body> &parser)
{
    return parser.chunked() || parser.content_length().value_or(0) > 0;
}

template <class Stream>
asio::awaitable<void> sendContinueIfAsked(Stream &stream, beast::tcp_stream &timed,
                                          const http::request_parser<http::empty_body> &parser)
{
    if (!expectsBody(parser) || !beast::iequals(parser.get()[http::field::expect], "100-continue"))
        co_return;
    static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
    beast::error_code ec;
    timed.expires_after(Limits::kProgress);
    co_await asio::async_write(stream, asio::buffer(kContinue), asio::redirect_error(asio::use_awaitable, ec));
}

template <class Stream>
asio::awaitable<bool> writeError(Stream &stream, beast::tcp_stream &timed, unsigned version, int status,
                                 const std::string &message, bool keepAlive)
{
    auto response = net::jsonError(version, status, message, keepAlive);
    co_return co_await net::writeMessage(stream, timed, response);
}

// Closes a connection that may still have unread input, so the last answer isn't lost to a reset.
template <class Stream>
asio::awaitable<void> closeGently(Stream &stream)
{
    if constexpr (std::is_same_v<Stream, beast::tcp_stream>)
        co_await net::lingeringClose(stream);
}

// Reads one piece of a body into `chunk`; false at the end or on failure (then `ec`).
template <class Stream, class Parser>
asio::awaitable<std::size_t> readPiece(Stream &stream, beast::tcp_stream &timed, beast::flat_buffer &buffer,
                                       Parser &parser, std::array<char, Limits::kStreamChunk> &chunk,
                                       std::chrono::steady_clock::duration wait, beast::error_code &ec)
{
    // Whatever has arrived goes on at once (an event stream trickles), but never an empty piece.
    parser.get().body().data = chunk.data();
    parser.get().body().size = chunk.size();
    while (!parser.is_done() && parser.get().body().size == chunk.size()) {
        timed.expires_after(wait);
        co_await http::async_read_some(stream, buffer, parser, asio::redirect_error(asio::use_awaitable, ec));
        if (ec == http::error::need_buffer)
            ec = {};
        if (ec)
            break;
    }
    co_return chunk.size() - parser.get().body().size;
}

// Appends to a kept copy up to a bound; false once something had to be left out.
bool keep(std::string &copy, const char *data, std::size_t size, std::size_t bound)
{
    if (copy.size() >= bound)
        return size == 0;
    const std::size_t room = bound - copy.size();
    copy.append(data, std::min(room, size));
    return size <= room;
}

// Relays one direction of a tunnel until it ends; an error ends both directions.
asio::awaitable<void> pump(beast::tcp_stream &from, beast::tcp_stream &to)
{
    std::vector<char> chunk(Limits::kStreamChunk);
    beast::error_code ec;
    for (;;) {
        from.expires_after(kTunnelIdle);
        const std::size_t n = co_await from.async_read_some(asio::buffer(chunk), asio::redirect_error(asio::use_awaitable, ec));
        if (ec == asio::error::eof) {
            to.socket().shutdown(tcp::socket::shutdown_send, ec);
            co_return;
        }
        if (ec)
            break;
        to.expires_after(kTunnelIdle);
        co_await asio::async_write(to, asio::buffer(chunk.data(), n), asio::redirect_error(asio::use_awaitable, ec));
        if (ec)
            break;
    }
    from.socket().close(ec);
    to.socket().close(ec);
}

// What requests inside a tunnel to `authority` are addressed to: "https://host", the port only
// when it isn't the scheme's own.
std::string tunnelBaseUrl(const std::string &scheme, const std::string &authority)
{
    const std::string defaultPort = scheme == "https" ? "443" : "80";
    const size_t colon = authority.rfind(':');
    if (colon != std::string::npos && authority.substr(colon + 1) == defaultPort && authority.back() != ']')
        return scheme + "://" + authority.substr(0, colon);
    return scheme + "://" + authority;
}

} // namespace

bool LogThrottle::shouldLog(const std::string &key)
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(m_mutex);
    if (m_last.size() > 1000)
        m_last.clear();
    auto [entry, added] = m_last.try_emplace(key, now);
    if (!added && now - entry->second < kQuiet)
        return false;
    entry->second = now;
    return true;
}

bool isLoopbackName(const std::string &hostname)
{
    return hostname == "127.0.0.1" || hostname == "localhost" || hostname == "[::1]" || hostname == "0.0.0.0"
           || hostname.rfind("127.", 0) == 0;
}

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
    m_upstream.setOwnPorts(ports);
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

    plan.target = parseProxyTarget(request.target, request.header("Host"));
    if (request.method == "CONNECT") {
        plan.target.reset();
        plan.record.host = lowerAscii(request.target);
        response.status = 501;
        response.body = proxyErrorBody("CONNECT is answered by the proxy port itself");
        return plan;
    }
    if (!plan.target) {
        plan.record.host = lowerAscii(request.header("Host"));
        plan.record.path = request.target;
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

    const ActiveProjectView view = m_state.activeView();
    const auto index = findRoute(view.routes, request.method, target);
    if (!index) {
        response.status = 502;
        response.body = proxyErrorBody("no active route matches " + request.method + " " + target.host + target.path);
        return plan;
    }
    const WireRoute &route = view.routes[*index];
    plan.matchedPath = route.path;

    PlannedAnswer answer;
    if (route.passThrough) {
        answer.status = 0; // the real host answers unless chaos decides otherwise
    } else {
        answer = planAnswer(route, m_state.nextHit(route.id));
        answer.body = substituteVariables(answer.body, view.variables);
        plan.injected = true;
    }
    if (view.chaos) {
        std::lock_guard lock(m_mutex);
        applyChaos(*view.chaos, answer, m_random);
    }
    plan.delayMs = answer.latencyMs + (answer.holdThenTimeout ? kTimeoutHoldMs : 0);
    if (answer.drop) {
        response.status = 502;
        response.body = proxyErrorBody("connection dropped by the active chaos preset");
        response.drop = true;
        return plan;
    }
    if (route.passThrough && answer.status == 0) {
        plan.forward = true;
        return plan;
    }
    response.status = answer.status;
    response.body = answer.status == 204 || answer.status == 304 ? std::string() : std::move(answer.body);
    return plan;
}

TrafficRecord ExchangeHandler::finish(ExchangePlan &plan, const ProxiedRequest &request, int status,
                                      const std::string &responseBody, bool whole)
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
        record.reqBody = sanitizeUtf8(request.body.size() > TrafficHistory::kMaxStoredBody + 1
                                          ? request.body.substr(0, TrafficHistory::kMaxStoredBody + 1)
                                          : request.body);
    if (!responseBody.empty())
        record.respBody = sanitizeUtf8(responseBody.size() > TrafficHistory::kMaxStoredBody + 1
                                           ? responseBody.substr(0, TrafficHistory::kMaxStoredBody + 1)
                                           : responseBody);
    record.host = sanitizeUtf8(record.host);
    record.path = sanitizeUtf8(record.path);
    if (record.query)
        record.query = sanitizeUtf8(*record.query);

    const TrafficRecord kept = m_history.add(record);
    EngineEvent event;
    event.type = "request";
    event.time = localClockTime(plan.startedAt);
    event.request = WireTrafficEvent {kept.id, event.time, kept.method, kept.host, kept.path,
                                      kept.status, kept.latencyMs, kept.injected};
    m_publish(event);

    // Learning reads the whole body; the record only keeps a clipped copy.
    if (whole && plan.target && status >= 200 && status < 300)
        learn(kept, responseBody, plan.matchedPath.empty() ? kept.path : plan.matchedPath, plan.projectId);
    return kept;
}

ProxiedResponse ExchangeHandler::handle(const ProxiedRequest &request, const Wait &wait, TrafficRecord *stored)
{
    ExchangePlan planned = plan(request);
    ProxiedResponse response = planned.response;
    if (planned.delayMs > 0 && !wait(planned.delayMs)) {
        response = {503, proxyErrorBody("the proxy is stopping"), {}, {}, false};
    } else if (planned.forward) {
        // Without a client socket to stream to, the answer is fetched whole on a private context.
        asio::io_context context;
        const ProxyTarget target = *planned.target;
        asio::co_spawn(
            context,
            [&]() -> asio::awaitable<void> {
                UpstreamFailure failure;
                auto connection = co_await m_upstream.connect(target.hostname, target.port, target.scheme == "https",
                                                              failure);
                if (!connection) {
                    response = {failure.status, proxyErrorBody(failure.message), {}, {}, false};
                    co_return;
                }
                http::request<http::string_body> out {http::string_to_verb(request.method),
                                                      target.path + (target.query.empty() ? "" : "?" + target.query), 11};
                for (const auto &[name, value] : request.headers) {
                    if (!isHopByHop(name) && !beast::iequals(name, "host") && !beast::iequals(name, "content-length"))
                        out.insert(name, value);
                }
                out.set(http::field::host, target.host);
                out.body() = request.body;
                out.prepare_payload();
                http::response_parser<http::string_body> parser;
                parser.body_limit(kMaxBodyBytes);
                beast::flat_buffer buffer;
                beast::error_code ec;
                auto exchange = [&](auto &stream) -> asio::awaitable<void> {
                    connection->lowest().expires_after(std::chrono::seconds(30));
                    co_await http::async_write(stream, out, asio::redirect_error(asio::use_awaitable, ec));
                    if (!ec)
                        co_await http::async_read(stream, buffer, parser, asio::redirect_error(asio::use_awaitable, ec));
                };
                if (connection->tls)
                    co_await exchange(*connection->tls);
                else
                    co_await exchange(*connection->plain);
                if (ec) {
                    response = {502, proxyErrorBody("upstream " + target.host + " failed: " + ec.message()), {}, {}, false};
                    co_return;
                }
                response.status = parser.get().result_int();
                response.body = std::move(parser.get().body());
                response.contentType = std::string(parser.get()[http::field::content_type]);
            },
            asio::detached);
        context.run();
    }
    if (response.contentType.empty())
        response.contentType = contentTypeFor(response.body);
    const TrafficRecord kept = finish(planned, request, response.status, response.body, true);
    if (stored)
        *stored = kept;
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
    const auto seen = parseIsoTime(record.time);
    event.time = seen ? localClockTime(*seen) : record.time;
    event.drift = *drift;
    m_publish(event);
}

// What stopping the port needs to reach on one connection: its socket and a latency wait.
struct ProxyServer::Connection {
    beast::tcp_stream *socket = nullptr;
    beast::tcp_stream *upstream = nullptr;
    asio::steady_timer *waiting = nullptr;
    // The last host connection, kept for the client's next request to the same host.
    std::optional<UpstreamConnection> idle;
    std::string idleKey;

    void close()
    {
        beast::error_code ignored;
        if (socket)
            socket->socket().close(ignored);
        if (upstream)
            upstream->socket().close(ignored);
        if (idle)
            idle->lowest().socket().close(ignored);
        if (waiting)
            waiting->cancel();
    }
};

ProxyServer::ProxyServer(ExchangeHandler &handler, net::IoPool &pool, LeafCertificates &leaves)
    : m_handler(handler)
    , m_pool(pool)
    , m_leaves(leaves)
{
}

ProxyServer::~ProxyServer()
{
    stop();
}

bool ProxyServer::start(int port, std::string &error)
{
    std::lock_guard lock(m_mutex);
    if (m_running)
        return true;
    auto listener = std::make_unique<net::Listener>(m_pool);
    if (!listener->bind(port, error)) {
        error = "proxy " + error;
        return false;
    }
    m_connections = std::make_shared<net::ConnectionSet>();
    listener->start([this](tcp::socket socket) {
        auto executor = socket.get_executor();
        asio::co_spawn(executor, serve(std::move(socket)), asio::detached);
    });
    m_port = listener->port();
    m_listener = std::move(listener);
    m_running = true;
    return true;
}

void ProxyServer::stop()
{
    std::lock_guard lock(m_mutex);
    if (!m_running)
        return;
    m_listener->stop();
    m_listener.reset();
    m_connections->closeAll();
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

asio::awaitable<void> ProxyServer::serve(tcp::socket socket)
{
    auto executor = socket.get_executor();
    auto stream = std::make_shared<beast::tcp_stream>(std::move(socket));
    auto connection = std::make_shared<Connection>();
    connection->socket = stream.get();
    // The set outlives a stop/start of the port, so a late connection still finds the one it joined.
    auto connections = m_connections;
    net::ConnectionTicket ticket(*connections, [executor, weak = std::weak_ptr<Connection>(connection)] {
        asio::post(executor, [weak] {
            if (auto open = weak.lock())
                open->close();
        });
    });
    if (!ticket)
        co_return;

    beast::flat_buffer buffer(Limits::kMaxHeaderBytes + 4096);
    for (;;) {
        http::request_parser<http::empty_body> header;
        header.header_limit(Limits::kMaxHeaderBytes);
        header.body_limit((std::numeric_limits<std::uint64_t>::max)()); // mocks limit bodies; passed-through ones stream
        beast::error_code ec;
        if (!co_await net::readRequestHeader(*stream, *stream, buffer, header, ec)) {
            if (ec == http::error::header_limit) {
                co_await writeError(*stream, *stream, 11, 431, "request header too large", false);
                co_await net::lingeringClose(*stream);
            } else if (net::isProtocolError(ec)) {
                co_await writeError(*stream, *stream, 11, 400, "malformed request: " + ec.message(), false);
            }
            break;
        }
        if (header.get().method() == http::verb::connect) {
            // The connection becomes a tunnel for good.
            const std::string authority(header.get().target());
            co_await serveConnect(stream, buffer, authority, header.get().version(), *connection);
            co_return;
        }
        if (!co_await exchange(*stream, *stream, buffer, header, std::string(), *connection))
            break;
    }
    beast::error_code ignored;
    stream->socket().shutdown(tcp::socket::shutdown_both, ignored);
}

template <class Stream>
asio::awaitable<void> ProxyServer::serveRequests(Stream &stream, beast::tcp_stream &timed, beast::flat_buffer &buffer,
                                                 const std::string &tunnelBase, Connection &connection)
{
    for (;;) {
        http::request_parser<http::empty_body> header;
        header.header_limit(Limits::kMaxHeaderBytes);
        header.body_limit((std::numeric_limits<std::uint64_t>::max)()); // mocks limit bodies below; passed-through ones stream
        beast::error_code ec;
        if (!co_await net::readRequestHeader(stream, timed, buffer, header, ec)) {
            if (ec == http::error::header_limit) {
                co_await writeError(stream, timed, 11, 431, "request header too large", false);
                co_await closeGently(stream);
            }
            else if (net::isProtocolError(ec))
                co_await writeError(stream, timed, 11, 400, "malformed request: " + ec.message(), false);
            co_return;
        }
        if (!co_await exchange(stream, timed, buffer, header, tunnelBase, connection))
            co_return;
    }
}

template <class Stream>
asio::awaitable<bool> ProxyServer::exchange(Stream &stream, beast::tcp_stream &timed, beast::flat_buffer &buffer,
                                            http::request_parser<http::empty_body> &header,
                                            const std::string &tunnelBase, Connection &connection)
{
    auto &message = header.get();
    const unsigned version = message.version();
    if (const auto problem = net::framingProblem(message)) {
        co_await writeError(stream, timed, version, 400, "refused: " + *problem, false);
        co_await closeGently(stream);
        co_return false;
    }
    if (message.method() == http::verb::connect) { // only inside a tunnel: plain connections take it earlier
        co_await writeError(stream, timed, version, 400, "CONNECT inside a tunnel is not supported", false);
        co_return false;
    }

    ProxiedRequest request;
    request.method = std::string(message.method_string());
    request.target = std::string(message.target());
    if (!tunnelBase.empty() && !request.target.empty() && request.target.front() == '/')
        request.target = tunnelBase + request.target;
    for (const auto &field : message)
        request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    const bool keepAlive = message.keep_alive();

    ExchangePlan plan = m_handler.plan(request);
    if (plan.forward)
        co_return co_await forward(stream, timed, buffer, header, request, plan, connection);

    const bool tooLong = header.content_length().value_or(0) > kMaxBodyBytes;
    if (!tooLong)
        co_await sendContinueIfAsked(stream, timed, header);
    http::request_parser<http::string_body> bodyParser {std::move(header)};
    bodyParser.body_limit(kMaxBodyBytes);
    beast::error_code ec;
    if (!tooLong) {
        timed.expires_after(Limits::kProgress * 2);
        co_await http::async_read(stream, buffer, bodyParser, asio::redirect_error(asio::use_awaitable, ec));
    }
    if (tooLong || ec == http::error::body_limit) {
        const std::string text = "request body too large (at most " + std::to_string(kMaxBodyBytes) + " bytes)";
        m_handler.finish(plan, request, 413, proxyErrorBody(text), false);
        co_await writeError(stream, timed, version, 413, text, false);
        co_await closeGently(stream);
        co_return false;
    }
    if (ec) {
        if (net::isProtocolError(ec))
            co_await writeError(stream, timed, version, 400, "malformed request body: " + ec.message(), false);
        co_return false;
    }
    request.body = std::move(bodyParser.get().body());

    if (plan.delayMs > 0) {
        // Latency waits on a timer, never on a thread.
        asio::steady_timer timer(co_await asio::this_coro::executor, std::chrono::milliseconds(plan.delayMs));
        connection.waiting = &timer;
        co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ec));
        connection.waiting = nullptr;
        if (ec) // the proxy is stopping
            co_return false;
    }
    ProxiedResponse &out = plan.response;
    if (out.drop) {
        m_handler.finish(plan, request, out.status, out.body, false);
        co_return false;
    }
    if (out.contentType.empty())
        out.contentType = contentTypeFor(out.body);
    m_handler.finish(plan, request, out.status, out.body, true);

    http::response<http::string_body> response {static_cast<http::status>(out.status), version < 11 ? 10u : 11u};
    for (const auto &[name, value] : out.headers)
        response.set(name, value);
    if (!out.contentType.empty())
        response.set(http::field::content_type, out.contentType);
    // No body may follow a 1xx, 204 or 304, whatever the route holds; HEAD gets the length alone.
    const bool bodyAllowed = out.status >= 200 && out.status != 204 && out.status != 304;
    if (bodyAllowed)
        response.body() = std::move(out.body);
    response.keep_alive(keepAlive);
    response.prepare_payload();
    if (request.method == "HEAD" && bodyAllowed) {
        const auto length = response.body().size();
        response.body().clear();
        response.content_length(length);
    }
    co_return co_await net::writeMessage(stream, timed, response) && keepAlive;
}

template <class Stream>
asio::awaitable<bool> ProxyServer::forward(Stream &stream, beast::tcp_stream &timed, beast::flat_buffer &buffer,
                                           http::request_parser<http::empty_body> &header, ProxiedRequest &request,
                                           ExchangePlan &plan, Connection &connection)
{
    const ProxyTarget &target = *plan.target;
    const unsigned version = header.get().version();
    const bool clientKeepAlive = header.get().keep_alive();
    const bool hadBody = expectsBody(header);
    const bool isHead = header.get().method() == http::verb::head;
    beast::error_code ec;

    if (plan.delayMs > 0) {
        asio::steady_timer timer(co_await asio::this_coro::executor, std::chrono::milliseconds(plan.delayMs));
        connection.waiting = &timer;
        co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ec));
        connection.waiting = nullptr;
        if (ec)
            co_return false;
    }

    // A kept connection to the same host is used again; a fresh one is opened otherwise.
    const std::string upstreamKey = target.scheme + "://" + target.hostname + ":" + std::to_string(target.port);
    std::optional<UpstreamConnection> upstream;
    bool reused = false;
    if (connection.idle && connection.idleKey == upstreamKey && connection.idle->lowest().socket().is_open()) {
        upstream = std::move(connection.idle);
        reused = true;
    }
    connection.idle.reset();
    struct Release {
        Connection &connection;
        ~Release() { connection.upstream = nullptr; }
    } release {connection};

    co_await sendContinueIfAsked(stream, timed, header);
    // Request: the client's header with hop-by-hop fields gone, then its body piece by piece.
    http::request_parser<http::buffer_body> requestParser {std::move(header)};
    requestParser.body_limit((std::numeric_limits<std::uint64_t>::max)());
    auto &outgoing = requestParser.get();
    const bool chunkedIn = requestParser.chunked();
    dropHopByHop(outgoing);
    outgoing.erase(http::field::expect);
    outgoing.erase(http::field::host);
    outgoing.set(http::field::host, target.host);
    outgoing.target(target.path + (target.query.empty() ? "" : "?" + target.query));
    outgoing.version(11);
    if (chunkedIn)
        outgoing.chunked(true);
    outgoing.keep_alive(true);

    std::array<char, Limits::kStreamChunk> chunk;
    std::string requestCopy;
    bool upstreamFailed = false;
    auto sendRequest = [&](auto &up) -> asio::awaitable<void> {
        http::request_serializer<http::buffer_body> serializer {outgoing};
        upstream->lowest().expires_after(Limits::kProgress);
        co_await http::async_write_header(up, serializer, asio::redirect_error(asio::use_awaitable, ec));
        if (ec) {
            upstreamFailed = true;
            co_return;
        }
        while (!serializer.is_done()) {
            if (!requestParser.is_done()) {
                const std::size_t n = co_await readPiece(stream, timed, buffer, requestParser, chunk, Limits::kProgress, ec);
                if (ec)
                    co_return;
                keep(requestCopy, chunk.data(), n, TrafficHistory::kMaxStoredBody + 1);
                outgoing.body().data = chunk.data();
                outgoing.body().size = n;
                outgoing.body().more = !requestParser.is_done();
            } else {
                outgoing.body().data = nullptr;
                outgoing.body().size = 0;
                outgoing.body().more = false;
            }
            upstream->lowest().expires_after(Limits::kProgress);
            co_await http::async_write(up, serializer, asio::redirect_error(asio::use_awaitable, ec));
            if (ec == http::error::need_buffer)
                ec = {};
            if (ec) {
                upstreamFailed = true;
                co_return;
            }
        }
    };

    // Answer: the upstream's header (1xx skipped) relayed with every end-to-end field, then its body.
    beast::flat_buffer upstreamBuffer(Limits::kMaxHeaderBytes + Limits::kStreamChunk);
    std::optional<http::response_parser<http::buffer_body>> responseParser;
    auto readHeader = [&](auto &up) -> asio::awaitable<void> {
        for (;;) {
            responseParser.emplace();
            responseParser->header_limit(Limits::kMaxHeaderBytes);
            responseParser->body_limit((std::numeric_limits<std::uint64_t>::max)());
            if (isHead)
                responseParser->skip(true);
            upstream->lowest().expires_after(kUpstreamWait);
            co_await http::async_read_header(up, upstreamBuffer, *responseParser, asio::redirect_error(asio::use_awaitable, ec));
            if (ec || responseParser->get().result_int() >= 200 || responseParser->get().result_int() == 101)
                co_return;
        }
    };

    for (;;) {
        if (!upstream) {
            UpstreamFailure failure;
            upstream = co_await m_handler.upstream().connect(target.hostname, target.port, target.scheme == "https",
                                                             failure);
            if (!upstream) {
                request.body = requestCopy;
                m_handler.finish(plan, request, failure.status, proxyErrorBody(failure.message), false);
                const bool keepAlive = clientKeepAlive && !hadBody;
                co_await writeError(stream, timed, version, failure.status, failure.message, keepAlive);
                co_return keepAlive;
            }
        }
        connection.upstream = &upstream->lowest();
        if (upstream->tls)
            co_await sendRequest(*upstream->tls);
        else
            co_await sendRequest(*upstream->plain);
        if (!ec) {
            if (upstream->tls)
                co_await readHeader(*upstream->tls);
            else
                co_await readHeader(*upstream->plain);
            upstreamFailed = upstreamFailed || ec;
        }
        // A kept connection the host closed meanwhile: once more on a new one, when nothing of the
        // client's body was sent (so nothing is sent twice).
        if (ec && upstreamFailed && reused && !hadBody) {
            reused = false;
            upstreamFailed = false;
            ec = {};
            upstream.reset();
            upstreamBuffer.clear();
            continue;
        }
        break;
    }
    request.body = std::move(requestCopy);
    if (ec && !upstreamFailed) { // the client went away or broke its body
        m_handler.finish(plan, request, 400, std::string(), false);
        co_return false;
    }
    if (ec) {
        const std::string text = "upstream " + target.host + " failed: " + ec.message();
        m_handler.finish(plan, request, 502, proxyErrorBody(text), false);
        co_await writeError(stream, timed, version, 502, text, false);
        co_return false;
    }
    auto &incoming = responseParser->get();
    const int status = incoming.result_int();
    const bool upstreamKeepsAlive = incoming.keep_alive();
    const bool bodiless = isHead || status == 204 || status == 304 || status == 101;
    const bool sized = incoming.has_content_length();
    const bool upstreamChunked = responseParser->chunked();
    dropHopByHop(incoming);
    bool keepAlive = clientKeepAlive && status != 101;
    if (version < 11) {
        incoming.version(10);
        if (!sized && !bodiless)
            keepAlive = false; // ends with the connection
    } else {
        incoming.version(11);
        if (!bodiless && (upstreamChunked || !sized))
            incoming.chunked(true);
    }
    incoming.keep_alive(keepAlive);

    std::string responseCopy;
    bool whole = true;
    bool clientFailed = false;
    bool recorded = false;
    // Recorded as soon as the whole answer is in, before the client has its end, so what the
    // client saw is already in the history.
    auto record = [&] {
        if (!recorded)
            m_handler.finish(plan, request, status, responseCopy, whole && !ec);
        recorded = true;
    };
    auto relayAnswer = [&](auto &up) -> asio::awaitable<void> {
        http::response_serializer<http::buffer_body> serializer {incoming};
        if (responseParser->is_done())
            record();
        timed.expires_after(Limits::kProgress);
        co_await http::async_write_header(stream, serializer, asio::redirect_error(asio::use_awaitable, ec));
        if (ec) {
            clientFailed = true;
            co_return;
        }
        while (!serializer.is_done()) {
            if (!responseParser->is_done()) {
                const std::size_t n = co_await readPiece(up, upstream->lowest(), upstreamBuffer, *responseParser, chunk,
                                                         kUpstreamWait, ec);
                if (ec)
                    co_return;
                whole = keep(responseCopy, chunk.data(), n, ExchangeHandler::kMaxLearnedBody) && whole;
                incoming.body().data = chunk.data();
                incoming.body().size = n;
                incoming.body().more = !responseParser->is_done();
            } else {
                incoming.body().data = nullptr;
                incoming.body().size = 0;
                incoming.body().more = false;
            }
            if (responseParser->is_done())
                record();
            timed.expires_after(Limits::kProgress);
            co_await http::async_write(stream, serializer, asio::redirect_error(asio::use_awaitable, ec));
            if (ec == http::error::need_buffer)
                ec = {};
            if (ec) {
                clientFailed = true;
                co_return;
            }
        }
    };
    if (upstream->tls)
        co_await relayAnswer(*upstream->tls);
    else
        co_await relayAnswer(*upstream->plain);
    if (!recorded) {
        whole = false;
        record();
    }
    if (ec) // a cut answer can only be passed on as a cut connection
        co_return false;
    if (upstreamKeepsAlive && responseParser->is_done() && upstreamBuffer.size() == 0 && status != 101) {
        connection.idle = std::move(upstream);
        connection.idleKey = upstreamKey;
    }
    co_return keepAlive && !clientFailed;
}

asio::awaitable<void> ProxyServer::serveConnect(std::shared_ptr<beast::tcp_stream> stream, beast::flat_buffer &buffer,
                                                const std::string &authority, unsigned version, Connection &connection)
{
    const auto target = parseProxyTarget("https://" + authority + "/", "");
    if (!target || authority.find(':') == std::string::npos || authority.find('/') != std::string::npos) {
        co_await writeError(*stream, *stream, version, 400, "CONNECT needs host:port, got \"" + authority + "\"", false);
        co_return;
    }
    if (m_handler.isOwnPort(*target)) {
        co_await writeError(*stream, *stream, version, 403,
                            "refusing to proxy to the engine's own port " + std::to_string(target->port), false);
        co_return;
    }
    static const std::string kEstablished = "HTTP/1.1 200 Connection Established\r\n\r\n";
    beast::error_code ec;
    std::string hostname = target->hostname;
    if (hostname.size() > 2 && hostname.front() == '[')
        hostname = hostname.substr(1, hostname.size() - 2);

    std::string leafError;
    const auto context = m_leaves.contextFor(hostname, leafError);
    if (!context) {
        if (leafError != "no root CA") {
            logLine("HTTPS to " + authority + " relayed without interception: " + leafError);
        }
        // No CA: relay the tunnel untouched.
        UpstreamFailure failure;
        auto upstream = co_await m_handler.upstream().connect(target->hostname, target->port, false, failure);
        if (!upstream) {
            co_await writeError(*stream, *stream, version, failure.status, failure.message, false);
            co_return;
        }
        connection.upstream = upstream->plain.get();
        stream->expires_after(Limits::kProgress);
        co_await asio::async_write(*stream, asio::buffer(kEstablished), asio::redirect_error(asio::use_awaitable, ec));
        if (ec)
            co_return;
        if (buffer.size() > 0) { // bytes the client sent right behind its CONNECT
            upstream->plain->expires_after(Limits::kProgress);
            co_await asio::async_write(*upstream->plain, buffer.data(), asio::redirect_error(asio::use_awaitable, ec));
            buffer.consume(buffer.size());
            if (ec)
                co_return;
        }
        auto executor = co_await asio::this_coro::executor;
        auto done = std::make_shared<asio::steady_timer>(executor, std::chrono::steady_clock::time_point::max());
        auto finished = std::make_shared<bool>(false);
        asio::co_spawn(executor, pump(*upstream->plain, *stream), [done, finished](std::exception_ptr) {
            *finished = true;
            done->cancel();
        });
        co_await pump(*stream, *upstream->plain);
        if (!*finished)
            co_await done->async_wait(asio::redirect_error(asio::use_awaitable, ec));
        connection.upstream = nullptr;
        co_return;
    }

    stream->expires_after(Limits::kProgress);
    co_await asio::async_write(*stream, asio::buffer(kEstablished), asio::redirect_error(asio::use_awaitable, ec));
    if (ec)
        co_return;
    // A tunnel that carries plain HTTP (its first byte is no TLS handshake) is read as plain requests.
    if (buffer.size() == 0) {
        stream->expires_after(Limits::kIdle);
        const std::size_t n = co_await stream->async_read_some(buffer.prepare(4096), asio::redirect_error(asio::use_awaitable, ec));
        if (ec)
            co_return;
        buffer.commit(n);
    }
    if (static_cast<const unsigned char *>(buffer.data().data())[0] != 0x16) {
        co_await serveRequests(*stream, *stream, buffer, tunnelBaseUrl("http", authority), connection);
        co_return;
    }
    beast::ssl_stream<beast::tcp_stream> tls(std::move(*stream), *context);
    connection.socket = &beast::get_lowest_layer(tls);
    struct Forget {
        Connection &connection;
        ~Forget() { connection.socket = nullptr; }
    } forget {connection};
    beast::get_lowest_layer(tls).expires_after(Limits::kHeader);
    const std::size_t used = co_await tls.async_handshake(asio::ssl::stream_base::server, buffer.data(),
                                                          asio::redirect_error(asio::use_awaitable, ec));
    buffer.consume(used);
    if (ec) {
        // A client that doesn't trust the CA ends here; one line says so (once a minute per host, so a
        // client retrying in a loop doesn't flood the log), nothing else happens.
        if (m_tlsFailures.shouldLog(hostname))
            logLine("TLS with the client for " + hostname + " failed: " + ec.message());
        co_return;
    }
    buffer.consume(buffer.size());
    co_await serveRequests(tls, beast::get_lowest_layer(tls), buffer, tunnelBaseUrl("https", authority), connection);
    beast::get_lowest_layer(tls).expires_after(std::chrono::seconds(2));
    co_await tls.async_shutdown(asio::redirect_error(asio::use_awaitable, ec));
}

} // namespace standin
