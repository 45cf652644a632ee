// A forwarded exchange's last step: the host's answer relayed to the client piece by piece, kept for
// the history and learning, and recorded.
#pragma once

#include "proxy/forwarded_exchange.h"

namespace standin::forwarding {

template <class Stream>
asio::awaitable<void> ForwardedExchange<Stream>::readResponseHeader(std::chrono::steady_clock::duration wait)
{
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
    for (auto kind = net::ReadKind::HostAnswerStart;; kind = net::ReadKind::FromHost) {
        m_responseParser.emplace();
        m_responseParser->header_limit(Limits::kMaxHeaderBytes);
        m_responseParser->body_limit((std::numeric_limits<std::uint64_t>::max)());
        if (m_isHead)
            m_responseParser->skip(true);
        co_await net::readHeader(up, m_upstreamBuffer, *m_responseParser, net::deadlineAfter(wait), m_ec, kind);
        if (m_ec || m_responseParser->get().result_int() >= 200 || m_responseParser->get().result_int() == 101)
            co_return;
        if (++m_interims > kMaxInterimAnswers) {
            m_ec = beast::errc::make_error_code(beast::errc::protocol_error);
            co_return;
        }
        co_await relayInterim(m_responseParser->get());
    }
}

template <class Stream>
asio::awaitable<void> ForwardedExchange<Stream>::relayInterim(const http::response_header<> &interim)
{
    if (m_version < 11 || interim.result_int() == 100 || m_clientFailed)
        co_return;
    const std::string head = interimHead(interim);
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
    const bool upstreamKeepsAlive = net::keepsAlive(incoming, incoming.version());
    const bool bodiless = m_isHead || m_status == 204 || m_status == 304;
    const bool sized = net::countFields(incoming, http::field::content_length) > 0;
    const bool upstreamChunked = m_responseParser->chunked();
    dropHopByHop(incoming);
    bool keepAlive = clientKeepAlive;
    bool chunked = false; // Transfer-Encoding went with the hop-by-hop fields
    if (m_version < 11) {
        incoming.version(10);
        if (!sized && !bodiless)
            keepAlive = false; // ends with the connection
    } else {
        incoming.version(11);
        chunked = !bodiless && (upstreamChunked || !sized);
        if (chunked)
            incoming.insert(http::field::transfer_encoding, "chunked");
    }
    net::markKeepAlive(incoming, incoming.version(), keepAlive);
    if (!chunked) // trailer fields can only follow a chunked body
        net::eraseFields(incoming, http::field::trailer);
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
