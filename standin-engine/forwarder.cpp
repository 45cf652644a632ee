// Passing requests through to real hosts with bounded buffers, in three steps: connect, relay the
// request, relay the response.
#include "forwarder.h"

#include "body_budget.h"
#include "proxy_connection.h"
#include "traffic_history.h"
#include "upstream.h"

#include <limits>

namespace standin {

namespace {

using namespace proxy;
using net::Limits;

// How long a real host may take to start answering, and between two pieces of its answer.
constexpr std::chrono::minutes kUpstreamWait {5};
// How long a replay, which has no client to stream to, may take in all.
constexpr std::chrono::seconds kReplayWait {60};

// One forwarded exchange; lives on the coroutine frame of `Forwarder::forward`.
template <class Stream>
class ForwardedExchange final {
public:
    ForwardedExchange(ExchangeHandler &handler, Stream &client, beast::flat_buffer &buffer,
                      http::request_parser<http::empty_body> &header, ProxiedRequest &request, ExchangePlan &plan,
                      ProxyConnection &connection, BodyBudget *bodies)
        : m_handler(handler)
        , m_client(client)
        , m_buffer(buffer)
        , m_header(header)
        , m_request(request)
        , m_plan(plan)
        , m_connection(connection)
        , m_target(*plan.target)
        , m_version(header.get().version())
        , m_clientKeepAlive(header.get().keep_alive())
        , m_hadBody(expectsBody(header))
        , m_isHead(header.get().method() == http::verb::head)
        , m_upstreamKey(m_target.scheme + "://" + m_target.hostname + ":" + std::to_string(m_target.port))
        , m_copyLease(bodies)
    {
    }

    // The history record the exchange ended with, once it has one.
    bool hasRecorded() const { return m_recorded; }
    const TrafficRecord &recorded() const { return m_recordedAs; }

    asio::awaitable<bool> run()
    {
        if (m_plan.delayMs > 0 && !co_await waitCancellably(m_plan.delayMs, m_connection)) {
            if (m_connection.clientGone)
                finish(kClientClosedStatus, proxyErrorBody(kClientClosedText), false);
            co_return false;
        }
        takeKeptConnection();
        struct Release {
            ProxyConnection &connection;
            ~Release() { connection.upstream = nullptr; }
        } release {m_connection};

        co_await sendContinueIfAsked(m_client, m_header);
        if (m_hadBody)
            makeRoomForBody(m_buffer);
        prepareRequest();
        for (;;) {
            if (!m_upstream && !co_await connect())
                co_return m_clientUsable;
            m_connection.upstream = &m_upstream->lowest();
            co_await relayRequest();
            if (!m_ec) {
                co_await readResponseHeader();
                m_upstreamFailed = m_upstreamFailed || m_ec;
            }
            // A kept connection the host closed meanwhile: once more on a new one, when nothing of the
            // client's body was sent (so nothing is sent twice).
            if (m_ec && m_upstreamFailed && m_reused && !m_hadBody) {
                m_reused = false;
                m_upstreamFailed = false;
                m_ec = {};
                m_upstream.reset();
                m_upstreamBuffer.clear();
                continue;
            }
            break;
        }
        m_request.body = std::move(m_requestCopy);
        if (m_ec && m_connection.clientGone) { // both sides were closed when the client left
            finish(kClientClosedStatus, proxyErrorBody(kClientClosedText), false);
            co_return false;
        }
        if (m_ec && !m_upstreamFailed) { // the client went away or broke its body
            finish(400, std::string(), false);
            co_return false;
        }
        if (m_ec) {
            const std::string text = "upstream " + m_target.host + " failed: " + m_ec.message();
            finish(502, proxyErrorBody(text), false);
            co_await writeError(m_client, m_version, 502, text, false);
            co_return false;
        }
        co_return co_await relayResponse();
    }

private:
    // A kept connection to the same host is used again; a fresh one is opened otherwise.
    void takeKeptConnection()
    {
        if (m_connection.idle && m_connection.idleKey == m_upstreamKey
            && m_connection.idle->lowest().socket().is_open()) {
            m_upstream = std::move(m_connection.idle);
            m_reused = true;
        }
        m_connection.idle.reset();
    }

    // The client's header with hop-by-hop fields gone, addressed to the host in origin form.
    void prepareRequest()
    {
        m_requestParser.emplace(std::move(m_header));
        m_requestParser->body_limit((std::numeric_limits<std::uint64_t>::max)());
        auto &outgoing = m_requestParser->get();
        const bool chunkedIn = m_requestParser->chunked();
        dropHopByHop(outgoing);
        outgoing.erase(http::field::expect);
        outgoing.erase(http::field::host);
        outgoing.set(http::field::host, m_target.host);
        outgoing.target(m_target.path + (m_target.query.empty() ? "" : "?" + m_target.query));
        outgoing.version(11);
        if (chunkedIn)
            outgoing.chunked(true);
        outgoing.keep_alive(true);
    }

    // Step 1: a connection to the real host; false (the client answered) when there is none.
    asio::awaitable<bool> connect()
    {
        UpstreamFailure failure;
        m_upstream = co_await m_handler.upstream().connect(m_target.hostname, m_target.port,
                                                           m_target.scheme == "https", failure);
        if (m_upstream)
            co_return true;
        m_request.body = m_requestCopy;
        finish(failure.status, proxyErrorBody(failure.message), false);
        m_clientUsable = m_clientKeepAlive && !m_hadBody;
        co_await writeError(m_client, m_version, failure.status, failure.message, m_clientUsable);
        co_return false;
    }

    // Step 2: the request header, then its body piece by piece as the client sends it.
    asio::awaitable<void> relayRequest()
    {
        if (m_upstream->tls)
            co_await relayRequestTo(*m_upstream->tls);
        else
            co_await relayRequestTo(*m_upstream->plain);
    }

    template <class Upstream>
    asio::awaitable<void> relayRequestTo(Upstream &up)
    {
        auto &outgoing = m_requestParser->get();
        http::request_serializer<http::buffer_body> serializer {outgoing};
        m_upstream->lowest().expires_after(Limits::kProgress);
        co_await http::async_write_header(up, serializer, asio::redirect_error(asio::use_awaitable, m_ec));
        if (m_ec) {
            m_upstreamFailed = true;
            co_return;
        }
        while (!serializer.is_done()) {
            if (!m_requestParser->is_done()) {
                const std::size_t n = co_await readPiece(m_client, m_buffer, *m_requestParser, m_chunk,
                                                         m_connection, m_ec);
                if (m_ec)
                    co_return;
                keep(m_requestCopy, m_chunk.data(), n, TrafficHistory::kMaxStoredBody + 1);
                outgoing.body().data = m_chunk.data();
                outgoing.body().size = n;
                outgoing.body().more = !m_requestParser->is_done();
            } else {
                outgoing.body().data = nullptr;
                outgoing.body().size = 0;
                outgoing.body().more = false;
            }
            m_upstream->lowest().expires_after(Limits::kProgress);
            co_await http::async_write(up, serializer, asio::redirect_error(asio::use_awaitable, m_ec));
            if (m_ec == http::error::need_buffer)
                m_ec = {};
            if (m_ec) {
                m_upstreamFailed = true;
                co_return;
            }
        }
    }

    // The host's answer header, interim (1xx) answers skipped.
    asio::awaitable<void> readResponseHeader()
    {
        if (m_upstream->tls)
            co_await readResponseHeaderFrom(*m_upstream->tls);
        else
            co_await readResponseHeaderFrom(*m_upstream->plain);
    }

    template <class Upstream>
    asio::awaitable<void> readResponseHeaderFrom(Upstream &up)
    {
        for (;;) {
            m_responseParser.emplace();
            m_responseParser->header_limit(Limits::kMaxHeaderBytes);
            m_responseParser->body_limit((std::numeric_limits<std::uint64_t>::max)());
            if (m_isHead)
                m_responseParser->skip(true);
            m_upstream->lowest().expires_after(kUpstreamWait);
            co_await http::async_read_header(up, m_upstreamBuffer, *m_responseParser,
                                             asio::redirect_error(asio::use_awaitable, m_ec));
            if (m_ec || m_responseParser->get().result_int() >= 200 || m_responseParser->get().result_int() == 101)
                co_return;
        }
    }

    // Step 3: the answer relayed with every end-to-end field, its body piece by piece; recorded, and
    // the host connection kept for the client's next request when it can be.
    asio::awaitable<bool> relayResponse()
    {
        makeRoomForBody(m_upstreamBuffer);
        auto &incoming = m_responseParser->get();
        m_status = incoming.result_int();
        m_mayLearn = m_status >= 200 && m_status < 300;
        const bool upstreamKeepsAlive = incoming.keep_alive();
        const bool bodiless = m_isHead || m_status == 204 || m_status == 304 || m_status == 101;
        const bool sized = incoming.has_content_length();
        const bool upstreamChunked = m_responseParser->chunked();
        dropHopByHop(incoming);
        bool keepAlive = m_clientKeepAlive && m_status != 101;
        if (m_version < 11) {
            incoming.version(10);
            if (!sized && !bodiless)
                keepAlive = false; // ends with the connection
        } else {
            incoming.version(11);
            if (!bodiless && (upstreamChunked || !sized))
                incoming.chunked(true);
        }
        incoming.keep_alive(keepAlive);

        if (m_upstream->tls)
            co_await relayResponseFrom(*m_upstream->tls);
        else
            co_await relayResponseFrom(*m_upstream->plain);
        if (!m_recorded) {
            m_whole = false;
            record();
        }
        if (m_ec) // a cut answer can only be passed on as a cut connection
            co_return false;
        if (upstreamKeepsAlive && m_responseParser->is_done() && m_upstreamBuffer.size() == 0 && m_status != 101) {
            m_connection.idle = std::move(m_upstream);
            m_connection.idleKey = m_upstreamKey;
        }
        co_return keepAlive && !m_clientFailed;
    }

    template <class Upstream>
    asio::awaitable<void> relayResponseFrom(Upstream &up)
    {
        auto &incoming = m_responseParser->get();
        auto &timed = beast::get_lowest_layer(m_client);
        http::response_serializer<http::buffer_body> serializer {incoming};
        if (m_responseParser->is_done())
            record();
        timed.expires_after(Limits::kProgress);
        co_await http::async_write_header(m_client, serializer, asio::redirect_error(asio::use_awaitable, m_ec));
        if (m_ec) {
            m_clientFailed = true;
            co_return;
        }
        while (!serializer.is_done()) {
            if (!m_responseParser->is_done()) {
                const std::size_t n = co_await readPiece(up, m_upstreamBuffer, *m_responseParser, m_chunk,
                                                         kUpstreamWait, m_ec);
                if (m_ec)
                    co_return;
                keepResponse(m_chunk.data(), n);
                incoming.body().data = m_chunk.data();
                incoming.body().size = n;
                incoming.body().more = !m_responseParser->is_done();
            } else {
                incoming.body().data = nullptr;
                incoming.body().size = 0;
                incoming.body().more = false;
            }
            if (m_responseParser->is_done())
                record();
            timed.expires_after(Limits::kProgress);
            co_await http::async_write(m_client, serializer, asio::redirect_error(asio::use_awaitable, m_ec));
            if (m_ec == http::error::need_buffer)
                m_ec = {};
            if (m_ec) {
                m_clientFailed = true;
                co_return;
            }
        }
    }

    // Copies what the history stores of the answer, and more only while learning may read it: a 2xx
    // answer that starts like a JSON object or array, within the budget.
    void keepResponse(const char *data, std::size_t size)
    {
        const std::size_t stored = TrafficHistory::kMaxStoredBody + 1;
        std::size_t bound = stored;
        if (m_mayLearn && m_responseCopy.size() + size > stored) {
            const auto start = m_responseCopy.find_first_not_of(" \t\r\n");
            m_mayLearn = start == std::string::npos || m_responseCopy[start] == '{' || m_responseCopy[start] == '[';
            const std::size_t wanted = std::min(ExchangeHandler::kMaxLearnedBody, m_responseCopy.size() + size);
            m_mayLearn = m_mayLearn && m_copyLease.growTo(wanted);
            if (m_mayLearn)
                bound = ExchangeHandler::kMaxLearnedBody;
        }
        m_whole = keep(m_responseCopy, data, size, bound) && m_whole;
    }

    void finish(int status, const std::string &body, bool whole)
    {
        m_recordedAs = m_handler.finish(m_plan, m_request, status, body, whole);
    }

    // Recorded as soon as the whole answer is in, before the client has its end, so what the
    // client saw is already in the history and its schema; the copy moves to the learning thread,
    // which parses it while the last piece goes out.
    void record()
    {
        if (m_recorded)
            return;
        m_recorded = true;
        m_recordedAs = m_handler.record(m_plan, m_request, m_status, m_responseCopy);
        if (m_whole && !m_ec)
            m_handler.learnFrom(m_plan, m_recordedAs, std::move(m_responseCopy));
    }

    ExchangeHandler &m_handler;
    Stream &m_client;
    beast::flat_buffer &m_buffer;
    http::request_parser<http::empty_body> &m_header;
    ProxiedRequest &m_request;
    ExchangePlan &m_plan;
    ProxyConnection &m_connection;
    const ProxyTarget m_target;
    const unsigned m_version;
    const bool m_clientKeepAlive;
    const bool m_hadBody;
    const bool m_isHead;
    const std::string m_upstreamKey;

    std::optional<UpstreamConnection> m_upstream;
    bool m_reused = false;
    bool m_upstreamFailed = false;
    bool m_clientFailed = false;
    bool m_clientUsable = false;
    beast::error_code m_ec;
    Chunk m_chunk;
    std::optional<http::request_parser<http::buffer_body>> m_requestParser;
    std::string m_requestCopy;
    beast::flat_buffer m_upstreamBuffer {Limits::kMaxHeaderBytes + Limits::kStreamChunk};
    std::optional<http::response_parser<http::buffer_body>> m_responseParser;
    int m_status = 0;
    std::string m_responseCopy;
    bool m_whole = true;
    bool m_recorded = false;
    bool m_mayLearn = false;
    BodyLease m_copyLease;
    TrafficRecord m_recordedAs;
};

// The client side of a replay: gives the request's bytes, takes the answer and drops it. Not final:
// Asio probes stream types by deriving from them.
class ReplayClient {
public:
    using executor_type = asio::any_io_executor;

    ReplayClient(executor_type executor, std::string input)
        : m_executor(std::move(executor))
        , m_input(std::move(input))
    {
    }
    executor_type get_executor() const { return m_executor; }
    void expires_after(std::chrono::steady_clock::duration) { }

    template <class Buffers, class Token>
    auto async_read_some(const Buffers &buffers, Token &&token)
    {
        const std::size_t n = asio::buffer_copy(buffers, asio::buffer(m_input) + m_read);
        m_read += n;
        const bool ended = n == 0 && asio::buffer_size(buffers) > 0;
        return complete(std::forward<Token>(token), ended ? beast::error_code(asio::error::eof) : beast::error_code(), n);
    }

    template <class Buffers, class Token>
    auto async_write_some(const Buffers &buffers, Token &&token)
    {
        return complete(std::forward<Token>(token), beast::error_code(), asio::buffer_size(buffers));
    }

private:
    template <class Token>
    auto complete(Token &&token, beast::error_code ec, std::size_t n)
    {
        return asio::async_initiate<Token, void(beast::error_code, std::size_t)>(
            [this](auto handler, beast::error_code error, std::size_t size) {
                auto executor = asio::get_associated_executor(handler, m_executor);
                asio::post(executor, [handler = std::move(handler), error, size]() mutable {
                    std::move(handler)(error, size);
                });
            },
            token, ec, n);
    }

    executor_type m_executor;
    std::string m_input;
    std::size_t m_read = 0;
};

// The request as a client would have sent it, framed by its own length.
std::string requestBytes(const ProxiedRequest &request, const ProxyTarget &target)
{
    std::string bytes = request.method + " " + target.path + (target.query.empty() ? "" : "?" + target.query)
                        + " HTTP/1.1\r\nHost: " + target.host + "\r\n";
    for (const auto &[name, value] : request.headers) {
        if (beast::iequals(name, "host") || beast::iequals(name, "content-length")
            || beast::iequals(name, "transfer-encoding") || beast::iequals(name, "expect"))
            continue;
        bytes += name + ": " + value + "\r\n";
    }
    bytes += "Content-Length: " + std::to_string(request.body.size()) + "\r\n\r\n" + request.body;
    return bytes;
}

} // namespace

Forwarder::Forwarder(ExchangeHandler &handler, BodyBudget *bodies)
    : m_handler(handler)
    , m_bodies(bodies)
{
}

asio::awaitable<bool> Forwarder::forward(beast::tcp_stream &client, beast::flat_buffer &buffer,
                                         http::request_parser<http::empty_body> &header, ProxiedRequest &request,
                                         ExchangePlan &plan, ProxyConnection &connection)
{
    ForwardedExchange<beast::tcp_stream> exchange(m_handler, client, buffer, header, request, plan, connection,
                                                  m_bodies);
    co_return co_await exchange.run();
}

asio::awaitable<bool> Forwarder::forward(beast::ssl_stream<beast::tcp_stream> &client, beast::flat_buffer &buffer,
                                         http::request_parser<http::empty_body> &header, ProxiedRequest &request,
                                         ExchangePlan &plan, ProxyConnection &connection)
{
    ForwardedExchange<beast::ssl_stream<beast::tcp_stream>> exchange(m_handler, client, buffer, header, request,
                                                                     plan, connection, m_bodies);
    co_return co_await exchange.run();
}

TrafficRecord forwardDetached(ExchangeHandler &handler, const ProxiedRequest &request, ExchangePlan &plan)
{
    TrafficRecord recorded;
    ProxiedRequest sent = request;
    const ForwardedExchange<ReplayClient> *running = nullptr;
    asio::io_context context;
    asio::co_spawn(
        context,
        [&]() -> asio::awaitable<void> {
            ReplayClient client(co_await asio::this_coro::executor, requestBytes(request, *plan.target));
            beast::flat_buffer buffer;
            http::request_parser<http::empty_body> header;
            header.header_limit(Limits::kMaxHeaderBytes);
            header.body_limit((std::numeric_limits<std::uint64_t>::max)());
            beast::error_code ec;
            co_await http::async_read_header(client, buffer, header, asio::redirect_error(asio::use_awaitable, ec));
            if (ec) { // a stored header that no longer reads as one
                const std::string text = "the recorded request cannot be sent again: " + ec.message();
                recorded = handler.finish(plan, sent, 400, proxyErrorBody(text), false);
                co_return;
            }
            ProxyConnection connection;
            ForwardedExchange<ReplayClient> exchange(handler, client, buffer, header, sent, plan, connection, nullptr);
            running = &exchange;
            co_await exchange.run();
            recorded = exchange.recorded();
            running = nullptr;
        },
        asio::detached);
    // A replay holds a control thread, so a host that never answers is not waited on for long.
    context.run_for(kReplayWait);
    if (!context.stopped()) {
        context.stop();
        if (running && running->hasRecorded())
            recorded = running->recorded();
        else
            recorded = handler.finish(plan, sent, 504, proxyErrorBody("the host did not answer the replay in time"),
                                      false);
    }
    return recorded;
}

} // namespace standin
