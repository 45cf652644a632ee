// Reading, routing and answering control requests without a thread per connection.
#include "control/control_http.h"

#include "control/control_hold.h"
#include "control/event_hub.h"
#include "core/engine_support.h"
#include "net/body_pace.h"
#include "net/connection_set.h"
#include "net/http_reading.h"
#include "net/http_writing.h"
#include "net/io_pool.h"
#include "net/lingering_close.h"

#include "engine/records/error_reply.h"
#include "engine/records/json_rules.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace standin {

namespace {

namespace asio = net::asio;
namespace beast = net::beast;
namespace http = net::http;
using net::Limits;

ControlRequest requestFrom(const http::request_parser<http::empty_body>::value_type &header)
{
    ControlRequest request;
    request.method = std::string(header.method_string());
    request.target = std::string(header.target());
    for (const auto &field : header)
        request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    // A server takes the absolute form too (RFC 9112 §3.2.2), and then its authority, not the Host field.
    if (const auto absolute = absoluteForm(request.target)) {
        request.authority = absolute->authority;
        parseControlTarget(absolute->originForm, request.path, request.params);
    } else {
        request.authority = request.headerValue("Host");
        parseControlTarget(request.target, request.path, request.params);
    }
    return request;
}

// Takes the answer's body rather than copying it on the I/O thread: a route list may be tens of megabytes.
http::response<http::string_body> responseFrom(ControlResponse &out, unsigned version, bool keepAlive)
{
    http::response<http::string_body> response {static_cast<http::status>(out.status), version};
    for (const auto &[name, value] : out.headers)
        response.set(name, value);
    response.body() = std::move(out.body);
    response.keep_alive(keepAlive);
    response.prepare_payload();
    return response;
}

bool hasBody(const http::request_parser<http::empty_body> &parser)
{
    return parser.chunked() || parser.content_length().value_or(0) > 0;
}

// Writes the event stream until it closes or the reader goes away. Payloads wake the connection
// through the subscription's waker; a comment line now and then finds readers that left silently.
// A reader that fell past its bound has its socket closed at once, even with a write pending.
asio::awaitable<void> streamEvents(const std::shared_ptr<beast::tcp_stream> &stream, ControlEventStream &events,
                                   unsigned version)
{
    http::response<http::empty_body> header {http::status::ok, version};
    header.set(http::field::content_type, "text/event-stream");
    header.set(http::field::cache_control, "no-cache");
    header.chunked(true);
    http::response_serializer<http::empty_body> serializer {header};
    beast::error_code ec;
    stream->expires_after(Limits::kProgress);
    co_await http::async_write_header(*stream, serializer, asio::redirect_error(asio::use_awaitable, ec));
    if (ec)
        co_return;

    auto executor = co_await asio::this_coro::executor;
    auto wake = std::make_shared<asio::steady_timer>(executor);
    auto wakePending = std::make_shared<std::atomic<bool>>(false);
    const std::weak_ptr<EventSubscription> subscription = events.subscription;
    events.subscription->setWaker([executor, wakePending, subscription, weakTimer = std::weak_ptr<asio::steady_timer>(wake),
                                   weakStream = std::weak_ptr<beast::tcp_stream>(stream)] {
        // One wake-up in flight is enough: the connection takes everything queued when it runs. A reader
        // cut off for falling behind is closed even then, as its connection may be stuck in a write.
        if (wakePending->exchange(true)) {
            const auto open = subscription.lock();
            if (!open || !open->overflowed())
                return;
        }
        asio::post(executor, [subscription, weakTimer, weakStream] {
            if (auto timer = weakTimer.lock())
                timer->cancel();
            const auto open = subscription.lock();
            if (open && open->overflowed()) {
                if (auto socketStream = weakStream.lock())
                    socketStream->socket().close();
            }
        });
    });
    // A batch is joined into one text, so a busy proxy's thousands of small events leave in a few large
    // writes rather than a system call per few dozen of them.
    static constexpr std::string_view kDataField = "data: ";
    static constexpr std::string_view kEventEnd = "\n\n";
    static constexpr std::string_view kKeepAlive = ": keep-alive\n\n";
    std::vector<std::string> lines = std::move(events.firstLines);
    std::vector<EventPayload> payloads;
    std::string batch;
    bool keepAlive = false;
    for (;;) {
        wakePending->store(false);
        for (auto &payload : events.subscription->take(std::chrono::milliseconds(0)))
            payloads.push_back(std::move(payload));
        if (events.subscription->overflowed())
            break;
        if (!lines.empty() || !payloads.empty() || keepAlive) {
            for (const auto &line : lines)
                batch += line;
            for (const auto &payload : payloads) {
                batch += kDataField;
                batch += *payload;
                batch += kEventEnd;
            }
            if (keepAlive)
                batch += kKeepAlive;
            stream->expires_after(Limits::kProgress);
            co_await asio::async_write(*stream, http::make_chunk(asio::buffer(batch)), asio::redirect_error(asio::use_awaitable, ec));
            batch.clear();
            payloads.clear();
            lines.clear();
            keepAlive = false;
            if (ec)
                break;
            continue;
        }
        if (events.subscription->closed()) {
            stream->expires_after(Limits::kProgress);
            co_await asio::async_write(*stream, http::make_chunk_last(), asio::redirect_error(asio::use_awaitable, ec));
            break;
        }
        wake->expires_after(std::chrono::seconds(10));
        co_await wake->async_wait(asio::redirect_error(asio::use_awaitable, ec));
        keepAlive = !ec; // ten quiet seconds
        if (ec) {
            // Woken by an event: the next few join it, so a steady trickle leaves in batches instead of a
            // wake-up and a write for every event. A queue half full wakes it again at once.
            wakePending->store(false);
            wake->expires_after(std::chrono::milliseconds(5));
            co_await wake->async_wait(asio::redirect_error(asio::use_awaitable, ec));
        }
    }
    events.subscription->setWaker(nullptr);
}

// The answer a handler left for later, once it has come, back on this connection's thread. The work
// hands it over through a post to this thread, which then wakes the wait.
asio::awaitable<ControlResponse> answerLater(std::function<void(std::function<void(ControlResponse)>)> start)
{
    auto executor = co_await asio::this_coro::executor;
    auto wake = std::make_shared<asio::steady_timer>(executor, asio::steady_timer::time_point::max());
    auto answer = std::make_shared<std::optional<ControlResponse>>();
    start([executor, wake, answer](ControlResponse finished) {
        asio::post(executor, [wake, answer, finished = std::move(finished)]() mutable {
            *answer = std::move(finished);
            wake->cancel();
        });
    });
    while (!*answer) {
        beast::error_code ec;
        co_await wake->async_wait(asio::redirect_error(asio::use_awaitable, ec));
    }
    co_return std::move(**answer);
}


// Why a Transfer-Encoding other than chunked alone is refused, and with which status (RFC 9112): 400
// when chunked is not its last coding, as the body's end can't be found (§6.3); 501 when it is, but
// names a coding before it that this engine doesn't decode (§6.1). Either way the connection closes.
std::optional<std::pair<int, std::string>> transferCodingRefusal(const http::request_parser<http::empty_body>::value_type &header)
{
    std::vector<std::string> codings;
    for (const auto &field : header) {
        if (field.name() != http::field::transfer_encoding)
            continue;
        std::string_view list(field.value().data(), field.value().size());
        while (!list.empty()) {
            const size_t comma = list.find(',');
            std::string_view coding = list.substr(0, comma);
            while (!coding.empty() && (coding.front() == ' ' || coding.front() == '\t'))
                coding.remove_prefix(1);
            while (!coding.empty() && (coding.back() == ' ' || coding.back() == '\t'))
                coding.remove_suffix(1);
            if (!coding.empty())
                codings.push_back(lowerAscii(coding));
            list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        }
    }
    if (codings.empty() || codings.back() != "chunked")
        return std::pair {400, std::string("the body's length is unknown: its Transfer-Encoding does not end in chunked")};
    if (std::count(codings.begin(), codings.end(), "chunked") > 1)
        return std::pair {400, std::string("its Transfer-Encoding names chunked more than once")};
    return std::pair {501, "its Transfer-Encoding names a coding this engine doesn't decode (only chunked)"};
}

// The steps of one control request on a connection, in the order they come.

// The next request's header, refused with an answer when it is malformed, too large or too slow, or
// framed in a way that could hide a second request. False when the connection is done.
asio::awaitable<bool> readHead(beast::tcp_stream &stream, beast::flat_buffer &buffer,
                               http::request_parser<http::empty_body> &parser, net::ConnectionTicket &ticket)
{
    parser.header_limit(Limits::kMaxHeaderBytes);
    parser.body_limit((std::numeric_limits<std::uint64_t>::max)()); // the body's own limit is checked later, with a clear answer
    beast::error_code ec;
    // Idle only while waiting for a request: the event stream the app holds never waits for one, so
    // a full port never takes it for idle.
    ticket.setIdle(true);
    const bool read = co_await net::readRequestHeader(stream, buffer, parser, ec, ticket.idleWait());
    // A full port may have chosen this connection to make room meanwhile: its request is not served.
    if (!ticket.setIdle(false))
        co_return false;
    if (!read) {
        if (ec == http::error::header_limit) {
            auto refusal = net::jsonError(11, 431, "request header too large (at most "
                                                       + std::to_string(Limits::kMaxHeaderBytes) + " bytes)", false);
            co_await net::writeMessage(stream, stream, refusal);
            co_await net::lingeringClose(stream, &ticket);
        } else if (net::isProtocolError(ec)) {
            auto refusal = net::jsonError(11, 400, "malformed request: " + ec.message(), false);
            co_await net::writeMessage(stream, stream, refusal);
        } else if (ec == beast::error::timeout && buffer.size() > 0) {
            auto refusal = net::jsonError(11, 408, "the request header took too long", false);
            co_await net::writeMessage(stream, stream, refusal);
        }
        co_return false;
    }
    const auto &header = parser.get();
    std::optional<http::response<http::string_body>> refusal;
    if (const auto problem = net::framingProblem(header)) {
        const auto coding = *problem == net::kUnknownTransferCoding ? transferCodingRefusal(header) : std::nullopt;
        refusal = coding ? net::jsonError(header.version(), coding->first, "refused: " + coding->second, false)
                         : net::jsonError(header.version(), 400, "refused: " + *problem, false);
    } else if (header.target().size() > ControlRouter::kMaxTargetBytes) {
        refusal = net::jsonError(header.version(), 414, "request target too long (at most "
                                                            + std::to_string(ControlRouter::kMaxTargetBytes) + " bytes)",
                                 false);
    }
    if (!refusal)
        co_return true;
    co_await net::writeMessage(stream, stream, *refusal);
    co_await net::lingeringClose(stream, &ticket);
    co_return false;
}

// A request the pre-routing holds is never answered: wait until the client gives up.
asio::awaitable<void> holdUnanswered(beast::tcp_stream &stream)
{
    stream.expires_never();
    std::array<char, 512> sink {};
    beast::error_code ec;
    while (!ec)
        co_await stream.async_read_some(asio::buffer(sink), asio::redirect_error(asio::use_awaitable, ec));
}

// The route's handler, on the I/O thread or the blocking pool as the route asks; 404 for no route.
asio::awaitable<void> runHandler(const ControlRouter &router, net::IoPool &pool, ControlRequest &request,
                                 ControlResponse &response)
{
    const ControlRouter::Route *route = router.find(request);
    if (!route) {
        response.status = 404;
    } else if (route->dispatch == Dispatch::Inline) {
        router.run(*route, request, response);
    } else {
        // Runs on the blocking pool and comes back here when done (a plain post would resume this
        // coroutine on its own thread).
        co_await asio::co_spawn(
            pool.blocking(),
            [&]() -> asio::awaitable<void> {
                router.run(*route, request, response);
                co_return;
            },
            asio::use_awaitable);
    }
}

// How reading a request's body ended.
enum class BodyStep {
    Answered, // read whole, and the handler has answered
    Refused,  // refused unread or half read: answered, then the connection closes
    Gone,     // the client went away, or a held request was let go unanswered
};

// Reads the body within its route's limit and hands the whole request to its handler.
asio::awaitable<BodyStep> readBodyAndRun(beast::tcp_stream &stream, beast::flat_buffer &buffer,
                                         http::request_parser<http::empty_body> &&headerParser,
                                         net::ConnectionTicket &ticket, const ControlRouter &router, net::IoPool &pool,
                                         ControlRequest &request, ControlResponse &response)
{
    beast::error_code ec;
    if (hasBody(headerParser) && beast::iequals(headerParser.get()[http::field::expect], "100-continue")) {
        static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
        stream.expires_after(Limits::kProgress);
        co_await asio::async_write(stream, asio::buffer(kContinue), asio::redirect_error(asio::use_awaitable, ec));
    }
    const std::size_t maxBody = router.payloadMaxLength(request);
    const bool tooLong = headerParser.content_length().value_or(0) > maxBody;
    http::request_parser<http::string_body> bodyParser {std::move(headerParser)};
    bodyParser.body_limit(maxBody);
    if (!tooLong) {
        net::BodyPace pace(&ticket);
        co_await net::readBodyPaced(stream, buffer, bodyParser, pace, ec, [] { return true; });
    }
    if (tooLong || ec == http::error::body_limit) {
        response.status = 413;
        co_return BodyStep::Refused;
    }
    if (ec == beast::error::timeout) {
        response.status = 408;
        co_return BodyStep::Refused;
    }
    if (net::isProtocolError(ec)) {
        response.status = 400;
        response.body = encodeRecord(ErrorReply {"malformed request body: " + ec.message()});
        response.setHeader("Content-Type", "application/json");
        co_return BodyStep::Refused;
    }
    if (ec)
        co_return BodyStep::Gone;
    request.body = std::move(bodyParser.get().body());
    if (ControlHold::instance().takes(request) && !co_await ControlHold::instance().wait())
        co_return BodyStep::Gone;
    co_await runHandler(router, pool, request, response);
    co_return BodyStep::Answered;
}

// Sends the answer, or the event stream it opens. False when the connection ends after it.
asio::awaitable<bool> deliver(const std::shared_ptr<beast::tcp_stream> &stream, ControlResponse &response,
                              unsigned version, bool keepAlive, bool refusedBody, net::ConnectionTicket &ticket)
{
    if (response.stream) {
        co_await streamEvents(stream, *response.stream, version);
        if (response.stream->onEnd)
            response.stream->onEnd();
        co_return false;
    }
    keepAlive = keepAlive && !refusedBody;
    auto message = responseFrom(response, version, keepAlive);
    if (!co_await net::writeMessage(*stream, *stream, message))
        co_return false;
    if (refusedBody) {
        co_await net::lingeringClose(*stream, &ticket);
        co_return false;
    }
    co_return keepAlive;
}

} // namespace

ControlServer::ControlServer(net::IoPool &pool)
    : m_pool(pool)
    , m_listener(pool)
    , m_connections(net::connectionCapacity(net::PortKind::Control),
                    std::max<std::size_t>(1, net::connectionCapacity(net::PortKind::Control) / 10))
{
}

ControlServer::~ControlServer()
{
    stop();
}

bool ControlServer::bind(int port, std::string &error)
{
    return m_listener.bind(port, error);
}

void ControlServer::start()
{
    m_listener.start([this](net::tcp::socket socket) {
        auto executor = socket.get_executor();
        auto stream = std::make_shared<beast::tcp_stream>(std::move(socket));
        // Taken here, in the order of accepting, so the connection waiting longest is the first to go.
        auto ticket = std::make_unique<net::ConnectionTicket>(
            m_connections, [executor, weak = std::weak_ptr<beast::tcp_stream>(stream)] {
                asio::post(executor, [weak] {
                    if (auto open = weak.lock())
                        open->socket().close();
                });
            });
        if (!*ticket)
            return;
        ticket->setIdle(true);
        asio::co_spawn(executor, serve(std::move(stream), std::move(ticket)), asio::detached);
    });
}

void ControlServer::stop()
{
    m_listener.stop();
    m_connections.closeAll();
}

asio::awaitable<void> ControlServer::serve(std::shared_ptr<beast::tcp_stream> stream,
                                           std::unique_ptr<net::ConnectionTicket> held)
{
    net::ConnectionTicket &ticket = *held;

    beast::flat_buffer buffer(Limits::kMaxHeaderBytes + 4096);
    for (;;) {
        http::request_parser<http::empty_body> headerParser;
        if (!co_await readHead(*stream, buffer, headerParser, ticket))
            break;
        const auto &header = headerParser.get();
        const unsigned version = header.version();
        const bool keepAlive = header.keep_alive();
        ControlRequest request = requestFrom(header);
        ControlResponse response;

        const PreRouting pre = m_router.preRoute(request, response);
        if (pre == PreRouting::Hold) {
            co_await holdUnanswered(*stream);
            break;
        }
        bool refusedBody = false;
        if (pre == PreRouting::Unhandled) {
            const BodyStep step = co_await readBodyAndRun(*stream, buffer, std::move(headerParser), ticket, m_router,
                                                          m_pool, request, response);
            if (step == BodyStep::Gone)
                break;
            refusedBody = step == BodyStep::Refused;
        } else if (hasBody(headerParser)) {
            refusedBody = true; // refused before its body was read
        }
        if (response.later) {
            auto later = std::exchange(response.later, nullptr);
            response = co_await answerLater(std::move(later));
        }
        m_router.finishError(request, response);
        if (!co_await deliver(stream, response, version, keepAlive, refusedBody, ticket))
            break;
    }
    beast::error_code ignored;
    stream->socket().shutdown(net::tcp::socket::shutdown_both, ignored);
    stream->socket().close(ignored);
}

} // namespace standin
