// One request passed through to its real host with bounded buffers, in three steps: connect, relay
// the request, relay the response; the answer recorded. For the forwarder and replays only.
#pragma once

#include "net/body_budget.h"
#include "proxy/exchange_handler.h"
#include "proxy/proxy_connection.h"
#include "proxy/replay_store.h"
#include "proxy/upstream.h"
#include "store/traffic_history.h"

#include <array>
#include <limits>
#include <utility>
#include <optional>
#include <string>

namespace standin::forwarding {

using namespace proxy;
using net::Limits;

// How long a real host may take to start answering, and between two pieces of its answer.
constexpr std::chrono::minutes kUpstreamWait {5};
// Interim (1xx) answers taken from a host before its final one; a host that sends them without end
// would otherwise keep the exchange busy for good.
constexpr int kMaxInterimAnswers = 16;
// The most of a request body kept to send it again when a kept host connection turns out closed.
constexpr std::size_t kMaxResentBody = 1024 * 1024;
// How long an answer the host sent before failing a write of the request may take to be read: it is
// already on its way, ahead of the close that failed the write.
constexpr std::chrono::seconds kEarlyAnswerWait {2};

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
            if (m_ec && m_upstreamFailed) {
                co_await takeEarlyAnswer();
            } else if (!m_ec) {
                co_await readResponseHeader(kUpstreamWait);
                m_upstreamFailed = m_upstreamFailed || m_ec;
            }
            if (!sendAgain())
                break;
            m_reused = false;
            m_upstreamFailed = false;
            m_requestReached = false;
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
            else if (m_notResent)
                text = "upstream " + m_target.host + " closed the kept connection without answering after the "
                       "request reached it; a " + m_request.method + " is not sent twice, as the host may have "
                       "acted on it";
            finish(502, proxyErrorBody(text), false);
            co_await writeError(m_client, m_version, 502, text, false);
            if (!m_requestParser->is_done())
                co_await closeGently(m_client);
            co_return false;
        }
        const bool usable = co_await relayResponse();
        if (!m_requestParser->is_done()) // the host answered early: the rest of the body goes unread
            co_await closeGently(m_client);
        co_return usable;
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
    // body (what was sent of it so far) from the copy kept for this, when nothing of an answer came and
    // sending it twice can do no harm: none of it reached the host, or its method is idempotent. A
    // proxy never sends a POST twice on its own.
    bool sendAgain()
    {
        if (!m_ec || !m_upstreamFailed || !m_reused || m_connection.clientGone)
            return false;
        if (m_upstreamBuffer.size() > 0 || m_interims > 0 || !closedByHost(m_ec))
            return false;
        if (m_requestReached && !isIdempotent(m_request.method)) {
            m_notResent = true;
            return false;
        }
        m_bodyLost = !m_resendable;
        return m_resendable;
    }

    // A host may answer before it has read the whole body (413 to an upload too large) and close, so
    // writing the rest fails; its answer is already here, and it is the exchange's answer.
    asio::awaitable<void> takeEarlyAnswer()
    {
        const beast::error_code writeFailure = m_ec;
        m_ec = {};
        co_await readResponseHeader(kEarlyAnswerWait);
        if (m_ec)
            m_ec = writeFailure;
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
        setHostInPlace(outgoing, m_target.host);
        outgoing.target(m_target.path + (m_target.query.empty() ? "" : "?" + m_target.query));
        outgoing.version(11);
        if (chunkedIn)
            outgoing.chunked(true);
        outgoing.keep_alive(true);
        markVia(outgoing, m_version, m_handler.viaToken());
        m_requestFields = fieldCount(outgoing);
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
        bool resending = !m_resend.empty();
        if (!resending && m_requestParser->is_done() && !outgoing.chunked()) { // no body: the head is all
            m_requestReached = co_await writeWhole(up, requestHead(outgoing), 0) > 0 || !m_ec || m_requestReached;
            m_upstreamFailed = m_upstreamFailed || m_ec;
            co_return;
        }
        http::request_serializer<http::buffer_body> serializer {outgoing};
        // A request whose body is already here (or that has none) goes out with its header in one write.
        if (resending || (!m_requestParser->is_done() && m_buffer.size() == 0)) {
            m_upstream->lowest().expires_after(Limits::kProgress);
            const std::size_t written = co_await http::async_write_header(
                up, serializer, asio::redirect_error(asio::use_awaitable, m_ec));
            m_requestReached = m_requestReached || written > 0 || !m_ec;
            if (m_ec) {
                m_upstreamFailed = true;
                co_return;
            }
        }
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
            const auto lastChunk = trailersAtEnd(outgoing, m_requestParser->is_done(), m_requestFields);
            m_upstream->lowest().expires_after(Limits::kProgress);
            const auto written = co_await http::async_write(up, serializer, asio::redirect_error(asio::use_awaitable, m_ec));
            if (m_ec == http::error::need_buffer)
                m_ec = {};
            m_requestReached = m_requestReached || written > 0 || !m_ec;
            if (!m_ec && lastChunk)
                co_await net::writeBuffers(up, asio::buffer(*lastChunk), m_ec);
            if (m_ec) {
                m_upstreamFailed = true;
                co_return;
            }
            if (resending) {
                resending = false;
                std::string().swap(m_resend);
                m_resendLease.release();
            }
            if (lastChunk)
                co_return;
        }
    }

    // A head and the piece in m_chunk in one write; how much of them left.
    template <class To>
    asio::awaitable<std::size_t> writeWhole(To &stream, const std::string &head, std::size_t size)
    {
        const std::array<asio::const_buffer, 2> pieces {asio::buffer(head), asio::buffer(m_chunk.data(), size)};
        co_return co_await net::writeBuffers(stream, pieces, m_ec);
    }

    // The host's answer header; interim (1xx) answers before it are passed on.
    asio::awaitable<void> readResponseHeader(std::chrono::steady_clock::duration wait)
    {
        if (m_upstream->tls)
            co_await readResponseHeaderFrom(*m_upstream->tls, wait);
        else
            co_await readResponseHeaderFrom(*m_upstream->plain, wait);
    }

    template <class Upstream>
    asio::awaitable<void> readResponseHeaderFrom(Upstream &up, std::chrono::steady_clock::duration wait)
    {
        makeRoomForBody(m_upstreamBuffer); // a small answer comes in one read with its header
        for (;;) {
            m_responseParser.emplace();
            m_responseParser->header_limit(Limits::kMaxHeaderBytes);
            m_responseParser->body_limit((std::numeric_limits<std::uint64_t>::max)());
            if (m_isHead)
                m_responseParser->skip(true);
            m_upstream->lowest().expires_after(wait);
            co_await http::async_read_header(up, m_upstreamBuffer, *m_responseParser,
                                             asio::redirect_error(asio::use_awaitable, m_ec));
            if (m_ec || m_responseParser->get().result_int() >= 200 || m_responseParser->get().result_int() == 101)
                co_return;
            if (++m_interims > kMaxInterimAnswers) {
                m_ec = beast::errc::make_error_code(beast::errc::protocol_error);
                co_return;
            }
            co_await relayInterim(m_responseParser->get());
        }
    }

    // An interim answer (103 Early Hints, say) goes on to a client that can take one. Not 100
    // Continue: the proxy answers a client's Expect itself and does not pass it on.
    asio::awaitable<void> relayInterim(const http::response_header<> &interim)
    {
        if (m_version < 11 || interim.result_int() == 100 || m_clientFailed)
            co_return;
        const std::string head = interimHead(interim);
        beast::error_code ec;
        beast::get_lowest_layer(m_client).expires_after(Limits::kProgress);
        co_await asio::async_write(m_client, asio::buffer(head), asio::redirect_error(asio::use_awaitable, ec));
        m_clientFailed = m_clientFailed || ec;
    }

    // Step 3: the answer relayed with every end-to-end field, its body piece by piece; recorded, and
    // the host connection kept for the client's next request when it can be.
    asio::awaitable<bool> relayResponse()
    {
        // After an early answer, the client's connection is not at the end of a request.
        const bool clientKeepAlive = m_clientKeepAlive && m_requestParser->is_done();
        auto &incoming = m_responseParser->get();
        std::string refusal;
        if (const auto named = framingNamedInConnection(incoming))
            refusal = "answered with a Connection field naming " + *named + ", which frames the body: refused";
        else if (incoming.result_int() == 101) // the client's Upgrade field was never passed on
            refusal = "switched protocols (101), which the proxy does not relay: refused";
        if (!refusal.empty()) {
            const std::string text = "upstream " + m_target.host + " " + refusal;
            dropUpstream(); // its answer was not read to the end
            finish(502, proxyErrorBody(text), false);
            co_return co_await writeError(m_client, m_version, 502, text, clientKeepAlive) && clientKeepAlive;
        }
        m_status = incoming.result_int();
        m_mayLearn = m_status >= 200 && m_status < 300;
        const bool upstreamKeepsAlive = incoming.keep_alive();
        const bool bodiless = m_isHead || m_status == 204 || m_status == 304;
        const bool sized = incoming.has_content_length();
        const bool upstreamChunked = m_responseParser->chunked();
        dropHopByHop(incoming);
        bool keepAlive = clientKeepAlive;
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
        if (!incoming.chunked()) // trailer fields can only follow a chunked body
            incoming.erase(http::field::trailer);
        m_responseFields = fieldCount(incoming);

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
        if (upstreamKeepsAlive && m_responseParser->is_done() && m_upstreamBuffer.size() == 0 && !m_upstreamFailed) {
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
        // The usual small answer, whole with the piece already here, leaves with its head in one write.
        std::size_t inHand = 0; // a piece read, not yet written
        if (!incoming.chunked() && (m_responseParser->is_done() || m_upstreamBuffer.size() > 0)) {
            if (!m_responseParser->is_done()) {
                inHand = co_await readPiece(up, m_upstreamBuffer, *m_responseParser, m_chunk, kUpstreamWait, m_ec);
                if (m_ec)
                    co_return;
            }
            if (m_responseParser->is_done()) {
                keepResponse(m_chunk.data(), inHand);
                record();
                co_await writeWhole(m_client, answerHead(incoming), inHand);
                m_clientFailed = m_clientFailed || m_ec;
                co_return;
            }
        }
        // A header with no body behind it yet goes alone, so a client sees it before a slow body.
        if (!m_responseParser->is_done() && inHand == 0 && m_upstreamBuffer.size() == 0) {
            timed.expires_after(Limits::kProgress);
            co_await http::async_write_header(m_client, serializer, asio::redirect_error(asio::use_awaitable, m_ec));
            if (m_ec) {
                m_clientFailed = true;
                co_return;
            }
        }
        while (!serializer.is_done()) {
            if (inHand > 0 || !m_responseParser->is_done()) {
                const std::size_t n = inHand > 0 ? std::exchange(inHand, 0)
                                                 : co_await readPiece(up, m_upstreamBuffer, *m_responseParser, m_chunk,
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
            const auto lastChunk = trailersAtEnd(incoming, m_responseParser->is_done(), m_responseFields);
            timed.expires_after(Limits::kProgress);
            co_await http::async_write(m_client, serializer, asio::redirect_error(asio::use_awaitable, m_ec));
            if (m_ec == http::error::need_buffer)
                m_ec = {};
            if (!m_ec && lastChunk)
                co_await net::writeBuffers(m_client, asio::buffer(*lastChunk), m_ec);
            if (m_ec) {
                m_clientFailed = true;
                co_return;
            }
            if (lastChunk)
                co_return;
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
    // Some of the request was written to the host on this attempt.
    bool m_requestReached = false;
    bool m_notResent = false;
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
    // Fields of each message as sent; those a parser adds past them are trailers.
    std::size_t m_requestFields = 0;
    std::size_t m_responseFields = 0;
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

} // namespace standin::forwarding
