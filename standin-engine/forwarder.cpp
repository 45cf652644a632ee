// Passing requests through to real hosts with bounded buffers, in three steps: connect, relay the
// request, relay the response.
#include "forwarder.h"

#include "body_budget.h"
#include "proxy_connection.h"
#include "replay_store.h"
#include "traffic_history.h"
#include "upstream.h"

#include <boost/asio/ssl/error.hpp>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <sys/socket.h>

namespace standin {

namespace {

using namespace proxy;
using net::Limits;

// How long a real host may take to start answering, and between two pieces of its answer.
constexpr std::chrono::minutes kUpstreamWait {5};
// How long a replay, which has no client to stream to, may take in all.
constexpr std::chrono::seconds kReplayWait {60};
// Interim (1xx) answers taken from a host before its final one; a host that sends them without end
// would otherwise keep the exchange busy for good.
constexpr int kMaxInterimAnswers = 16;
// The most of a request body kept to send it again when a kept host connection turns out closed.
constexpr std::size_t kMaxResentBody = 1024 * 1024;

// The framing field (Content-Length, Transfer-Encoding) a message's Connection field names, if any:
// a hop that drops it as asked passes the body on framed differently from how it was read.
template <class Fields>
std::optional<std::string> framingNamedInConnection(const Fields &fields)
{
    const auto [first, last] = fields.equal_range(http::field::connection);
    for (auto field = first; field != last; ++field) {
        for (const auto &token : http::token_list {field->value()}) {
            if (beast::iequals(token, "content-length") || beast::iequals(token, "transfer-encoding"))
                return std::string(token);
        }
    }
    return std::nullopt;
}

// How a kept connection fails when the host had closed it: the request may go again on a new one.
bool closedByHost(const beast::error_code &ec)
{
    return ec == http::error::end_of_stream || ec == asio::error::eof || ec == asio::error::connection_reset
           || ec == asio::error::broken_pipe || ec == asio::error::connection_aborted
           || ec == asio::ssl::error::stream_truncated;
}

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
        , m_resendLease(bodies)
        , m_requestLease(bodies)
    {
    }

    // The history record the exchange ended with, once it has one.
    bool hasRecorded() const { return m_recorded; }
    const TrafficRecord &recorded() const { return m_recordedAs; }

    asio::awaitable<bool> run()
    {
        if (const auto named = framingNamedInConnection(m_header.get()))
            co_return co_await refuseFraming(*named);
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
            if (!sendAgain())
                break;
            m_reused = false;
            m_upstreamFailed = false;
            m_ec = {};
            dropUpstream();
            m_upstreamBuffer.clear();
            m_interims = 0;
        }
        m_request.body = std::move(m_requestCopy);
        if (m_ec && m_connection.clientGone) { // the client's watch closed both sides when it left
            finish(kClientClosedStatus, proxyErrorBody(kClientClosedText), false);
            co_return false;
        }
        if (m_ec && !m_upstreamFailed) { // the client went away or broke its body
            finish(400, std::string(), false);
            co_return false;
        }
        if (m_ec) {
            std::string text = "upstream " + m_target.host + " failed: " + m_ec.message();
            if (m_interims > kMaxInterimAnswers)
                text = "upstream " + m_target.host + " sent more than " + std::to_string(kMaxInterimAnswers)
                       + " interim (1xx) answers without a final one";
            else if (m_bodyLost)
                text = "upstream " + m_target.host + " closed the kept connection while the request body was "
                       "being sent, and the body is too large to send again on a new one";
            finish(502, proxyErrorBody(text), false);
            co_await writeError(m_client, m_version, 502, text, false);
            if (!m_requestParser->is_done())
                co_await closeGently(m_client);
            co_return false;
        }
        co_return co_await relayResponse();
    }

private:
    // A request whose Connection field names a framing field: dropping that field as asked would
    // send the body on without its framing, which the host would read as more requests.
    asio::awaitable<bool> refuseFraming(const std::string &named)
    {
        const std::string text = "refused: the Connection field names " + named + ", which frames the body";
        finish(400, proxyErrorBody(text), false);
        co_await writeError(m_client, m_version, 400, text, false);
        co_await closeGently(m_client);
        co_return false;
    }

    // A kept connection the host closed just as it was used: the request goes again on a new one, its
    // body (what was sent of it so far) from the copy kept for this, when nothing of an answer came.
    bool sendAgain()
    {
        if (!m_ec || !m_upstreamFailed || !m_reused || m_connection.clientGone)
            return false;
        if (m_upstreamBuffer.size() > 0 || m_interims > 0 || !closedByHost(m_ec))
            return false;
        m_bodyLost = !m_resendable;
        return m_resendable;
    }

    // Closes the host connection, first taking it out of the client's reach (its watch closes it).
    void dropUpstream()
    {
        m_connection.upstream = nullptr;
        m_upstream.reset();
    }

    // Keeps the client's body as far as a replay can take it whole, held against the body budget;
    // past that (or when the budget is full) only the history's short copy is kept.
    void keepRequestBody(const char *data, std::size_t size)
    {
        const std::size_t wanted = m_requestCopy.size() + size;
        if (!m_requestCut && wanted <= ReplayStore::kMaxRequestBytes && m_requestLease.growTo(wanted)) {
            m_requestCopy.append(data, size);
            return;
        }
        m_requestCut = m_requestCut || size > 0;
        keep(m_requestCopy, data, size, TrafficHistory::kMaxStoredBody + 1);
    }

    // Keeps what was read of the body while it goes out on a kept connection, to send it again.
    void keepForResend(const char *data, std::size_t size)
    {
        if (!m_reused || !m_resendable || size == 0)
            return;
        if (m_resend.size() + size > kMaxResentBody || !m_resendLease.growTo(m_resend.size() + size)) {
            m_resendable = false;
            std::string().swap(m_resend);
            m_resendLease.release();
            return;
        }
        m_resend.append(data, size);
    }

    // A kept connection to the same host is used again when the host has not closed it or sent
    // anything since; a fresh one is opened otherwise.
    void takeKeptConnection()
    {
        if (m_connection.idle && m_connection.idleKey == m_upstreamKey && m_connection.idle->quiet()) {
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
        markVia(outgoing);
    }

    // Adds this engine to the Via list, so the request is known again if its host leads back here.
    void markVia(http::request<http::buffer_body> &outgoing)
    {
        std::string via;
        const auto [first, last] = outgoing.equal_range(http::field::via);
        for (auto field = first; field != last; ++field)
            via += std::string(field->value()) + ", ";
        via += (m_version == 10 ? "1.0 " : "1.1 ") + m_handler.viaToken();
        outgoing.set(http::field::via, via);
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
        bool resending = !m_resend.empty();
        while (!serializer.is_done()) {
            if (resending) { // what the closed connection took, again
                outgoing.body().data = m_resend.data();
                outgoing.body().size = m_resend.size();
                outgoing.body().more = !m_requestParser->is_done();
            } else if (!m_requestParser->is_done()) {
                const std::size_t n = co_await readPiece(m_client, m_buffer, *m_requestParser, m_chunk,
                                                         m_connection, m_ec);
                if (m_ec)
                    co_return;
                keepRequestBody(m_chunk.data(), n);
                keepForResend(m_chunk.data(), n);
                // An empty piece would go out as a chunk of its own, a second last chunk.
                outgoing.body().data = n > 0 ? m_chunk.data() : nullptr;
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
            if (resending) {
                resending = false;
                std::string().swap(m_resend);
                m_resendLease.release();
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
            if (++m_interims > kMaxInterimAnswers) {
                m_ec = beast::errc::make_error_code(beast::errc::protocol_error);
                co_return;
            }
        }
    }

    // Step 3: the answer relayed with every end-to-end field, its body piece by piece; recorded, and
    // the host connection kept for the client's next request when it can be.
    asio::awaitable<bool> relayResponse()
    {
        makeRoomForBody(m_upstreamBuffer);
        auto &incoming = m_responseParser->get();
        if (const auto named = framingNamedInConnection(incoming)) {
            const std::string text = "upstream " + m_target.host + " answered with a Connection field naming "
                                     + *named + ", which frames the body: refused";
            dropUpstream(); // its answer was not read to the end
            finish(502, proxyErrorBody(text), false);
            co_return co_await writeError(m_client, m_version, 502, text, m_clientKeepAlive) && m_clientKeepAlive;
        }
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
                incoming.body().data = n > 0 ? m_chunk.data() : nullptr;
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
        markRequestBody();
        m_recordedAs = m_handler.finish(m_plan, m_request, status, body, whole);
    }

    // Whether the request's copy holds the client's whole body, so a replay can send exactly that.
    void markRequestBody()
    {
        m_request.bodyWhole = m_requestParser && m_requestParser->is_done() && !m_requestCut;
    }

    // Recorded as soon as the whole answer is in, before the client has its end, so what the
    // client saw is already in the history and its schema; the copy moves to the learning thread,
    // which parses it while the last piece goes out.
    void record()
    {
        if (m_recorded)
            return;
        m_recorded = true;
        markRequestBody();
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
    int m_interims = 0;
    // The body sent so far on a kept connection, while it can still be sent again whole.
    std::string m_resend;
    bool m_resendable = true;
    bool m_bodyLost = false;
    bool m_clientUsable = false;
    beast::error_code m_ec;
    Chunk m_chunk;
    std::optional<http::request_parser<http::buffer_body>> m_requestParser;
    std::string m_requestCopy;
    bool m_requestCut = false;
    beast::flat_buffer m_upstreamBuffer {Limits::kMaxHeaderBytes + Limits::kStreamChunk};
    std::optional<http::response_parser<http::buffer_body>> m_responseParser;
    int m_status = 0;
    std::string m_responseCopy;
    bool m_whole = true;
    bool m_recorded = false;
    bool m_mayLearn = false;
    BodyLease m_copyLease;
    BodyLease m_resendLease;
    BodyLease m_requestLease;
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

// The request exactly as the client sent it: its method, every header in order with repeats, and its
// body framed the way the client framed it. Only the target is the origin form the host is sent anyway.
std::string requestBytes(const ProxiedRequest &request, const ProxyTarget &target)
{
    std::string bytes = request.method + " " + target.path + (target.query.empty() ? "" : "?" + target.query)
                        + " HTTP/1.1\r\n";
    bool chunked = false;
    for (const auto &[name, value] : request.headers) {
        chunked = chunked || beast::iequals(name, "transfer-encoding");
        bytes += name + ": " + value + "\r\n";
    }
    bytes += "\r\n";
    if (!chunked) {
        bytes += request.body;
    } else {
        if (!request.body.empty()) {
            char size[20];
            const int length = std::snprintf(size, sizeof size, "%zx", request.body.size());
            bytes.append(size, static_cast<std::size_t>(length)).append("\r\n").append(request.body).append("\r\n");
        }
        bytes += "0\r\n\r\n";
    }
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
    // A replay holds one of the few replay threads, so a host that never answers is not waited on for long.
    context.run_for(kReplayWait);
    if (!context.stopped()) {
        context.stop();
        if (running && running->hasRecorded())
            recorded = running->recorded();
        else
            recorded = handler.finish(plan, sent, 504, proxyErrorBody("the host did not answer the replay in time"),
                                      false);
    }
    // The exchange kept the history's short copy of the body; this replay had all of it at hand.
    if (!recorded.id.empty())
        handler.keepRequest(recorded, request);
    return recorded;
}

} // namespace standin
