// A forwarded exchange's second step: the request sent to its host, its body piece by piece as the
// client sends it, kept for the history, a replay and a second attempt.
#pragma once

#include "proxy/forwarded_exchange.h"

namespace standin::forwarding {

template <class Stream>
asio::awaitable<void> ForwardedExchange<Stream>::takeEarlyAnswer()
{
    const beast::error_code writeFailure = m_ec;
    m_ec = {};
    co_await readResponseHeader(kEarlyAnswerWait);
    if (m_ec)
        m_ec = writeFailure;
}

template <class Stream>
void ForwardedExchange<Stream>::keepRequestBody(const char *data, std::size_t size)
{
    const std::size_t wanted = m_requestCopy.size() + size;
    if (!m_requestCut && wanted <= ReplayStore::kMaxRequestBytes && m_requestLease.growTo(wanted)) {
        m_requestCopy.append(data, size);
        return;
    }
    m_requestCut = m_requestCut || size > 0;
    keep(m_requestCopy, data, size, TrafficHistory::kMaxStoredBody + 1);
}

template <class Stream>
void ForwardedExchange<Stream>::keepForResend(const char *data, std::size_t size)
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

template <class Stream>
asio::awaitable<void> ForwardedExchange<Stream>::relayRequest()
{
    if (m_upstream->tls)
        co_await relayRequestTo(*m_upstream->tls);
    else
        co_await relayRequestTo(*m_upstream->plain);
}

template <class Stream>
template <class Upstream>
asio::awaitable<void> ForwardedExchange<Stream>::relayRequestTo(Upstream &up)
{
    auto &outgoing = m_requestParser->get();
    bool resending = !m_resend.empty();
    if (!resending && m_requestParser->is_done() && !outgoing.chunked()) { // no body: the head is all
        const std::string head = requestHead(outgoing);
        const auto pieces = headAndPiece(head, 0);
        std::size_t written = 0;
        if (!net::writeAtOnce(up, pieces, written, m_ec))
            written += co_await net::writeRest(up, pieces, written, m_ec);
        m_requestReached = written > 0 || !m_ec || m_requestReached;
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

template <class Stream>
void ForwardedExchange<Stream>::markRequestBody()
{
    m_request.bodyWhole = m_requestParser && m_requestParser->is_done() && !m_requestCut;
}

} // namespace standin::forwarding
