// The forwarding exchange: one request passed through to its real host with bounded buffers, in three
// steps: connect, relay the request, relay the response; the answer recorded. For the forwarder and
// replays only. The class is declared here and its steps are defined in the forwarded_exchange_*.ipp
// parts included at the end, so this header alone gives the whole template.
#pragma once

#include "exchange/exchange_handler.h"
#include "forward/joined_connections.h"
#include "forward/proxy_connection.h"
#include "hosts/upstream.h"
#include "net/body_budget.h"
#include "net/http_fields.h"
#include "net/http_writing.h"
#include "store/traffic_history.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <memory>
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

// A client told to wait for its host's "100 Continue" may tire of waiting and send its body anyway
// (RFC 9110 §10.1.1): the read of the host's answer is then broken off, and the body relayed.
struct ContinueWait {
    beast::tcp_stream *host = nullptr;
    bool stirred = false; // the client sent something while the host was deciding
    bool settled = false;
};

// What relaying one piece of a body did: whether any of it reached the peer (something written, or
// the serializer's write went without fault, before any last chunk), and whether the body is done.
struct PieceRelayed {
    bool reached = false;
    bool last = false;
};

// One piece of a relayed body, either way, out through `serializer`: `size` bytes at `data`, nothing
// once the body has `ended`, and at a chunked body's end the last chunk with the trailers the parser
// read, by hand. An empty piece carries no data: it would go out as a chunk of its own, a second last
// chunk.
template <class Out, class Serializer, class Message>
asio::awaitable<PieceRelayed> relayBodyPiece(Out &out, Serializer &serializer, Message &message, void *data,
                                             std::size_t size, bool ended, const HeadFields &head,
                                             beast::error_code &ec)
{
    message.body().data = size > 0 ? data : nullptr;
    message.body().size = size;
    message.body().more = !ended;
    const auto lastChunk = trailersAtEnd(message, ended, head);
    beast::get_lowest_layer(out).expires_after(Limits::kProgress);
    const std::size_t written = co_await http::async_write(out, serializer, asio::redirect_error(asio::use_awaitable, ec));
    if (ec == http::error::need_buffer)
        ec = {};
    PieceRelayed relayed {written > 0 || !ec, lastChunk.has_value()};
    if (!ec && lastChunk)
        co_await net::writeBuffers(out, asio::buffer(*lastChunk), ec);
    co_return relayed;
}

// A client on a socket, which can be watched while it waits; not a replay's.
template <class Stream>
concept OnSocket = requires(Stream &stream) { beast::get_lowest_layer(stream).socket(); };

// One forwarded exchange; lives on the coroutine frame of `Forwarder::forward`.
// Its steps are defined in forwarded_exchange_connect.ipp, _send.ipp, _relay.ipp and _upgrade.ipp.
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
        , m_clientKeepAlive(net::keepsAlive(header.get(), header.get().version()))
        , m_hadBody(expectsBody(header))
        , m_asksToContinue(OnSocket<Stream> && asksToContinue(header))
        , m_isHead(header.get().method() == http::verb::head)
        , m_upgrade(upgradeAsked(header.get()))
        , m_upstreamKey(keptConnectionKey(m_target.scheme, m_target))
        , m_copyLease(bodies)
        , m_resendLease(bodies)
        , m_requestLease(bodies)
    {
    }

    // The history record the exchange ended with, once it has one.
    bool hasRecorded() const { return m_recordedAs != nullptr; }
    TrafficRecord recorded() const { return m_recordedAs->whole(); }

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
            } else if (!m_ec && !m_answeredEarly) {
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
            m_answeredEarly = false;
            m_awaitsContinue = m_asksToContinue;
            m_headResumes = false;
            m_hostRead = false;
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
                co_await closeGently(m_client, m_connection.ticket);
            co_return false;
        }
        const bool usable = co_await relayResponse();
        if (!m_requestParser->is_done()) // the host answered early: the rest of the body goes unread
            co_await closeGently(m_client, m_connection.ticket);
        co_return usable;
    }

private:
    // A request whose Connection field names a framing field: dropping that field as asked would
    // send the body on without its framing, which the host would read as more requests.
    asio::awaitable<bool> refuseFraming(const std::string &named);

    // A kept connection the host closed just as it was used: the request goes again on a new one, its
    // body (what was sent of it so far) from the copy kept for this, when nothing of an answer came and
    // sending it twice can do no harm: none of it reached the host, or its method is idempotent. A
    // proxy never sends a POST twice on its own.
    bool sendAgain();

    // A host may answer before it has read the whole body (413 to an upload too large) and close, so
    // writing the rest fails; its answer is already here, and it is the exchange's answer.
    asio::awaitable<void> takeEarlyAnswer();

    // Closes the host connection, first taking it out of the client's reach (its watch closes it).
    void dropUpstream();

    // Keeps the client's body as far as a replay can take it whole, held against the body budget;
    // past that (or when the budget is full) only the history's short copy is kept.
    void keepRequestBody(const char *data, std::size_t size);

    // Keeps what was read of the body while it goes out on a kept connection, to send it again.
    void keepForResend(const char *data, std::size_t size);

    // A kept connection to the same host is used again when the host has not closed it or sent
    // anything since; a fresh one is opened otherwise.
    void takeKeptConnection();

    // The client's header with hop-by-hop fields gone, addressed to the host in origin form.
    void prepareRequest();

    // Step 1: a connection to the real host; false (the client answered) when there is none.
    asio::awaitable<bool> connect();

    // Step 2: the request header, then its body piece by piece as the client sends it.
    asio::awaitable<void> relayRequest();

    template <class Upstream>
    asio::awaitable<void> relayRequestTo(Upstream &up);

    // A head and the first `size` bytes of m_chunk, to go out in one write.
    std::array<asio::const_buffer, 2> headAndPiece(const std::string &head, std::size_t size) const
    {
        return {asio::buffer(head), asio::buffer(m_chunk.data(), size)};
    }

    // Once the head of a request whose client asks to continue is out: the host answers "100 Continue"
    // (passed on, and the body follows) or its final answer (passed on without the body), unless the
    // client sends its body first.
    template <class Upstream>
    asio::awaitable<void> awaitHostsDecision(Upstream &up);

    // Whether bytes of the client's body are already here, read or waiting in its TLS session.
    bool clientHasSent();

    // The host's answer header; interim (1xx) answers before it are passed on.
    asio::awaitable<void> readResponseHeader(std::chrono::steady_clock::duration wait);

    template <class Upstream>
    asio::awaitable<void> readResponseHeaderFrom(Upstream &up, std::chrono::steady_clock::duration wait);

    // An interim answer (100 Continue, 103 Early Hints) goes on to a client that can take one: not an
    // HTTP/1.0 one.
    asio::awaitable<void> relayInterim(const http::response_header<> &interim);

    // Step 3: the answer relayed with every end-to-end field, its body piece by piece; recorded, and
    // the host connection kept for the client's next request when it can be.
    asio::awaitable<bool> relayResponse();

    template <class Upstream>
    asio::awaitable<void> relayResponseFrom(Upstream &up);

    // The host's 101 to the upgrade the client asked for goes on, and its connection is left to be
    // joined to the client's (forwarded_exchange_upgrade.ipp).
    asio::awaitable<bool> switchProtocols();

    // Copies what the history stores of the answer, and more only while learning may read it: a 2xx
    // answer that starts like a JSON object or array, within the budget.
    void keepResponse(const char *data, std::size_t size);

    void finish(int status, const std::string &body, bool whole);

    // Whether the request's copy holds the client's whole body, so a replay can send exactly that.
    void markRequestBody();

    // Recorded as soon as the whole answer is in, before the client has its end, so what the
    // client saw is already in the history and its schema; the copy moves to the learning thread,
    // which parses it while the last piece goes out.
    void record();

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
    // The client waits for a "100 Continue" before its body; while the host decides, the wait is on.
    const bool m_asksToContinue;
    bool m_awaitsContinue = m_asksToContinue;
    const bool m_isHead;
    // The protocols the client asks to switch to, passed on to the host; empty when it asks for none.
    const std::string m_upgrade;
    const std::string m_upstreamKey;

    std::optional<UpstreamConnection> m_upstream;
    bool m_reused = false;
    // Some of the request was written to the host on this attempt.
    bool m_requestReached = false;
    bool m_notResent = false;
    bool m_upstreamFailed = false;
    bool m_clientFailed = false;
    int m_interims = 0;
    // The host's final answer came before the body went, which is then not sent.
    bool m_answeredEarly = false;
    // A head the host had begun when its read was broken off: the parser takes up where it stopped.
    bool m_headResumes = false;
    // Something was read of the host's answer on this attempt.
    bool m_hostRead = false;
    std::shared_ptr<ContinueWait> m_continueWait;
    // The body sent so far on a kept connection, while it can still be sent again whole.
    std::string m_resend;
    bool m_resendable = true;
    bool m_bodyLost = false;
    bool m_clientUsable = false;
    beast::error_code m_ec;
    Chunk m_chunk;
    std::optional<http::request_parser<http::buffer_body>> m_requestParser;
    // Fields of each chunked message's head as sent; those a parser adds besides them are trailers.
    HeadFields m_requestHead;
    HeadFields m_responseHead;
    std::string m_requestCopy;
    bool m_requestCut = false;
    net::PieceBuffer m_upstreamBuffer {Limits::kMaxHeaderBytes + Limits::kStreamChunk};
    std::optional<http::response_parser<http::buffer_body>> m_responseParser;
    int m_status = 0;
    std::string m_responseCopy;
    bool m_whole = true;
    bool m_recorded = false;
    bool m_mayLearn = false;
    BodyLease m_copyLease;
    BodyLease m_resendLease;
    BodyLease m_requestLease;
    std::shared_ptr<const KeptRecord> m_recordedAs;
};

} // namespace standin::forwarding

// The steps, each a part of this header that includes what it uses besides the class above.
#include "forward/forwarded_exchange_connect.ipp"
#include "forward/forwarded_exchange_relay.ipp"
#include "forward/forwarded_exchange_send.ipp"
#include "forward/forwarded_exchange_upgrade.ipp"
