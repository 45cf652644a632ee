// A forwarded exchange's second step: the request sent to its host, its body piece by piece as the
// client sends it, kept for the history, a replay and a second attempt.
// A part of forwarded_exchange.h, included at its end: not a header to include on its own.

#include "forward/proxy_connection.h"
#include "forward/relayed_fields.h"
#include "replay/replay_store.h"
#include "store/traffic_history.h"

#include <openssl/ssl.h>

#include <memory>
#include <string>
#include <type_traits>
#include <utility>

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
        if (!resending && m_awaitsContinue) {
            co_await awaitHostsDecision(up);
            if (m_ec) {
                m_upstreamFailed = true;
                co_return;
            }
            if (m_answeredEarly)
                co_return;
        }
    }
    while (!serializer.is_done()) {
        void *data = nullptr;
        std::size_t size = 0;
        if (resending) { // what the closed connection took, again
            data = m_resend.data();
            size = m_resend.size();
        } else if (!m_requestParser->is_done()) {
            const std::size_t n = co_await readPiece(m_client, m_buffer, *m_requestParser, m_chunk,
                                                     m_connection, m_ec);
            if (m_ec)
                co_return;
            keepRequestBody(m_chunk.data(), n);
            keepForResend(m_chunk.data(), n);
            data = m_chunk.data();
            size = n;
        }
        const PieceRelayed relayed = co_await relayBodyPiece(up, serializer, outgoing, data, size,
                                                             m_requestParser->is_done(), m_requestHead, m_ec);
        m_requestReached = m_requestReached || relayed.reached;
        if (m_ec) {
            m_upstreamFailed = true;
            co_return;
        }
        if (resending) {
            resending = false;
            std::string().swap(m_resend);
            m_resendLease.release();
        }
        if (relayed.last)
            co_return;
    }
}

template <class Stream>
bool ForwardedExchange<Stream>::clientHasSent()
{
    if (m_buffer.size() > 0)
        return true;
    if constexpr (std::is_same_v<Stream, TlsStream>) {
        // Records already taken off the socket are no longer seen on it.
        SSL *session = m_client.native_handle();
        return SSL_pending(session) > 0 || BIO_ctrl_pending(SSL_get_rbio(session)) > 0;
    }
    return false;
}

template <class Stream>
template <class Upstream>
asio::awaitable<void> ForwardedExchange<Stream>::awaitHostsDecision(Upstream &up)
{
    if constexpr (OnSocket<Stream>) {
        if (clientHasSent()) { // it did not wait
            m_awaitsContinue = false;
            co_return;
        }
        auto wait = std::make_shared<ContinueWait>();
        wait->host = &m_upstream->lowest();
        m_continueWait = wait;
        beast::get_lowest_layer(m_client).socket().async_wait(net::tcp::socket::wait_read,
                                                              [wait](const beast::error_code &ec) {
            if (ec || wait->settled)
                return;
            wait->stirred = true;
            beast::error_code ignored;
            wait->host->socket().cancel(ignored);
        });
        co_await readResponseHeaderFrom(up, kUpstreamWait);
        wait->settled = true;
        m_continueWait.reset();
        m_awaitsContinue = false;
        if (wait->stirred && m_ec == asio::error::operation_aborted) { // within a head, or before one
            m_ec = {};
            m_headResumes = m_responseParser && m_responseParser->got_some();
            co_return;
        }
        if (m_ec)
            co_return;
        const int status = m_responseParser->get().result_int();
        m_answeredEarly = status >= 200 || status == 101;
    }
}

template <class Stream>
void ForwardedExchange<Stream>::markRequestBody()
{
    m_request.bodyWhole = m_requestParser && m_requestParser->is_done() && !m_requestCut;
}

} // namespace standin::forwarding
