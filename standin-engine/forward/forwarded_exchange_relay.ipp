// A forwarded exchange's last step: the host's answer relayed to the client piece by piece, kept for
// the history and learning, and recorded.
// A part of forwarded_exchange.h, included at its end: not a header to include on its own.

#include "exchange/exchange_handler.h"
#include "forward/proxy_connection.h"
#include "forward/relayed_fields.h"
#include "net/http_fields.h"
#include "net/http_reading.h"
#include "net/http_writing.h"
#include "store/traffic_history.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

namespace standin::forwarding {

template <class Stream>
asio::awaitable<void> ForwardedExchange<Stream>::readResponseHeader(std::chrono::steady_clock::duration wait)
{
    m_awaitsContinue = false; // the body went, asked for or not
    if (m_upstream->tls)
        co_await readResponseHeaderFrom(*m_upstream->tls, wait);
    else
        co_await readResponseHeaderFrom(*m_upstream->plain, wait);
}

template <class Stream>
template <class Upstream>
asio::awaitable<void> ForwardedExchange<Stream>::readResponseHeaderFrom(Upstream &up,
                                                                        std::chrono::steady_clock::duration wait)
{
    makeRoomForBody(m_upstreamBuffer); // a small answer comes in one read with its header
    auto kind = m_hostRead ? net::ReadKind::FromHost : net::ReadKind::HostAnswerStart;
    for (;; kind = net::ReadKind::FromHost) {
        if (!std::exchange(m_headResumes, false)) {
            m_responseParser.emplace();
            m_responseParser->header_limit(Limits::kMaxHeaderBytes);
            m_responseParser->body_limit((std::numeric_limits<std::uint64_t>::max)());
            if (m_isHead)
                m_responseParser->skip(true);
        }
        m_hostRead = true;
        co_await net::readHeader(up, m_upstreamBuffer, *m_responseParser, net::deadlineAfter(wait), m_ec, kind);
        const int status = m_ec ? 0 : m_responseParser->get().result_int();
        if (m_ec || status >= 200 || status == 101)
            co_return;
        if (++m_interims > kMaxInterimAnswers) {
            m_ec = beast::errc::make_error_code(beast::errc::protocol_error);
            co_return;
        }
        co_await relayInterim(m_responseParser->get());
        // The host wants the body, or the client is sending it anyway: either way it goes now.
        if (m_awaitsContinue && (status == 100 || (m_continueWait && m_continueWait->stirred)))
            co_return;
    }
}

template <class Stream>
asio::awaitable<void> ForwardedExchange<Stream>::relayInterim(const http::response_header<> &interim)
{
    if (m_version < 11 || m_clientFailed)
        co_return;
    const std::string head = interimHead(interim, m_handler.viaToken());
    beast::error_code ec;
    beast::get_lowest_layer(m_client).expires_after(Limits::kProgress);
    co_await asio::async_write(m_client, asio::buffer(head), asio::redirect_error(asio::use_awaitable, ec));
    m_clientFailed = m_clientFailed || ec;
}

template <class Stream>
asio::awaitable<bool> ForwardedExchange<Stream>::relayResponse()
{
    // After an early answer, the client's connection is not at the end of a request.
    const bool clientKeepAlive = m_clientKeepAlive && m_requestParser->is_done();
    auto &incoming = m_responseParser->get();
    const bool bodiless = m_isHead || incoming.result_int() == 204 || incoming.result_int() == 304;
    // Codings besides chunked go on as the host applied them, to a client that can take them.
    const auto codings = bodiless ? std::nullopt : codingsBesidesChunked(incoming);
    std::string refusal;
    if (const auto named = framingNamedInConnection(incoming))
        refusal = "answered with a Connection field naming " + *named + ", which frames the body: refused";
    else if (incoming.result_int() == 101 && (m_upgrade.empty() || !m_requestParser->is_done()))
        refusal = "switched protocols (101) though the request asked for no upgrade: refused";
    else if (codings && m_version < 11)
        refusal = "answered with the transfer coding \"" + *codings + "\", which an HTTP/1.0 client can't be sent: refused";
    if (!refusal.empty()) {
        const std::string text = "upstream " + m_target.host + " " + refusal;
        dropUpstream(); // its answer was not read to the end
        finish(502, proxyErrorBody(text), false);
        co_return co_await writeError(m_client, m_version, 502, text, clientKeepAlive) && clientKeepAlive;
    }
    if (incoming.result_int() == 101)
        co_return co_await switchProtocols();
    m_status = incoming.result_int();
    m_mayLearn = m_status >= 200 && m_status < 300;
    const bool upstreamKeepsAlive = net::keepsAlive(incoming, incoming.version());
    const unsigned upstreamVersion = incoming.version();
    const bool sized = net::countFields(incoming, http::field::content_length) > 0;
    const bool upstreamChunked = m_responseParser->chunked();
    dropHopByHop(incoming);
    bool keepAlive = m_clientKeepAlive;
    bool chunked = false; // Transfer-Encoding went with the hop-by-hop fields
    if (m_version < 11) {
        incoming.version(10);
        if (!sized && !bodiless)
            keepAlive = false; // ends with the connection
    } else {
        incoming.version(11);
        chunked = !bodiless && (upstreamChunked || !sized);
        if (codings) {
            incoming.insert(http::field::transfer_encoding, *codings);
            chunked = upstreamChunked;
            keepAlive = keepAlive && chunked; // else it ends with the connection
        } else if (chunked) {
            incoming.insert(http::field::transfer_encoding, "chunked");
        }
    }
    // An answer that came before the body leaves the client's connection mid-request, so it closes once
    // the answer is out, and says so (RFC 9112 §9.6). All but a 417 from a host that kept its
    // connection: a client such as curl repeats the request without its expectation only on a
    // connection it believes open; the close then shows at once (closeGently), and the repeat goes
    // on a new connection.
    const bool repeatedOnSameConnection = m_answeredEarly && upstreamKeepsAlive && m_status == 417;
    net::markKeepAlive(incoming, incoming.version(), keepAlive && (clientKeepAlive || repeatedOnSameConnection));
    keepAlive = keepAlive && clientKeepAlive;
    if (!chunked) // trailer fields can only follow a chunked body
        net::eraseFields(incoming, http::field::trailer);
    markVia(incoming, upstreamVersion, m_handler.viaToken());
    if (chunked)
        m_responseHead = headFields(incoming);

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
    // A request whose body the host declined (or never wholly got) leaves the connection mid-request.
    if (upstreamKeepsAlive && m_responseParser->is_done() && m_upstreamBuffer.size() == 0 && !m_upstreamFailed
        && m_requestParser->is_done()) {
        m_connection.idle = std::move(m_upstream);
        m_connection.idleKey = m_upstreamKey;
    }
    co_return keepAlive && !m_clientFailed;
}

template <class Stream>
template <class Upstream>
asio::awaitable<void> ForwardedExchange<Stream>::relayResponseFrom(Upstream &up)
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
            const std::string head = answerHead(incoming);
            const auto pieces = headAndPiece(head, inHand);
            std::size_t written = 0;
            if (!net::writeAtOnce(m_client, pieces, written, m_ec))
                co_await net::writeRest(m_client, pieces, written, m_ec);
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
        void *data = nullptr;
        std::size_t size = 0;
        if (inHand > 0 || !m_responseParser->is_done()) {
            const std::size_t n = inHand > 0 ? std::exchange(inHand, 0)
                                             : co_await readPiece(up, m_upstreamBuffer, *m_responseParser, m_chunk,
                                                                  kUpstreamWait, m_ec);
            if (m_ec)
                co_return;
            keepResponse(m_chunk.data(), n);
            data = m_chunk.data();
            size = n;
        }
        if (m_responseParser->is_done())
            record();
        const PieceRelayed relayed = co_await relayBodyPiece(m_client, serializer, incoming, data, size,
                                                             m_responseParser->is_done(), m_responseHead, m_ec);
        if (m_ec) {
            m_clientFailed = true;
            co_return;
        }
        if (relayed.last)
            co_return;
    }
}

template <class Stream>
void ForwardedExchange<Stream>::keepResponse(const char *data, std::size_t size)
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

template <class Stream>
void ForwardedExchange<Stream>::finish(int status, const std::string &body, bool whole)
{
    markRequestBody();
    m_recordedAs = m_handler.finish(m_plan, m_request, status, body, whole);
}

template <class Stream>
void ForwardedExchange<Stream>::record()
{
    if (m_recorded)
        return;
    m_recorded = true;
    markRequestBody();
    // Nothing reads the request once it is recorded: it moves to the replay store.
    m_recordedAs = m_handler.record(m_plan, std::move(m_request), m_status, m_responseCopy);
    if (m_whole && !m_ec)
        m_handler.learnFrom(m_plan, m_recordedAs->head(), std::move(m_responseCopy));
}

} // namespace standin::forwarding
