// A forwarded exchange's first step: the request made ready for its host, a connection to the host (a
// kept one when it can be), and whether a request that met a closed kept connection goes again.
#pragma once

#include "proxy/forwarded_exchange.h"

namespace standin::forwarding {

template <class Stream>
asio::awaitable<bool> ForwardedExchange<Stream>::refuseFraming(const std::string &named)
{
    const std::string text = "refused: the Connection field names " + named + ", which frames the body";
    finish(400, proxyErrorBody(text), false);
    co_await writeError(m_client, m_version, 400, text, false);
    co_await closeGently(m_client);
    co_return false;
}

template <class Stream>
bool ForwardedExchange<Stream>::sendAgain()
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

template <class Stream>
void ForwardedExchange<Stream>::dropUpstream()
{
    m_connection.upstream = nullptr;
    m_upstream.reset();
}

template <class Stream>
void ForwardedExchange<Stream>::takeKeptConnection()
{
    if (m_connection.idle && m_connection.idleKey == m_upstreamKey && m_connection.idle->quiet()) {
        m_upstream = std::move(m_connection.idle);
        m_reused = true;
    }
    m_connection.idle.reset();
}

template <class Stream>
void ForwardedExchange<Stream>::prepareRequest()
{
    m_requestParser.emplace(std::move(m_header));
    m_requestParser->body_limit((std::numeric_limits<std::uint64_t>::max)());
    auto &outgoing = m_requestParser->get();
    const bool chunkedIn = m_requestParser->chunked();
    dropHopByHop(outgoing); // Connection and Transfer-Encoding among them
    net::eraseFields(outgoing, http::field::expect);
    setHostInPlace(outgoing, m_target.host);
    outgoing.target(m_target.path + (m_target.query.empty() ? "" : "?" + m_target.query));
    outgoing.version(11);
    if (chunkedIn)
        outgoing.insert(http::field::transfer_encoding, "chunked");
    // Kept alive: HTTP/1.1 without a Connection field says so.
    markVia(outgoing, m_version, m_handler.viaToken());
    m_requestFields = fieldCount(outgoing);
}

template <class Stream>
asio::awaitable<bool> ForwardedExchange<Stream>::connect()
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

} // namespace standin::forwarding
