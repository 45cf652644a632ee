// A forwarded exchange's first step: the request made ready for its host, a connection to the host (a
// kept one when it can be), and whether a request that met a closed kept connection goes again.
// A part of forwarded_exchange.h, included at its end: not a header to include on its own.

#include "exchange/own_answers.h"
#include "forward/proxy_connection.h"
#include "forward/relayed_fields.h"
#include "net/http_fields.h"

#include <string>

namespace standin::forwarding {

template <class Stream>
asio::awaitable<bool> ForwardedExchange<Stream>::refuseFraming(const std::string &named)
{
    const std::string text = "refused: the Connection field names " + named + ", which frames the body";
    finish(400, proxyErrorBody(text), false);
    co_await writeError(m_client, m_version, 400, text, false);
    co_await closeGently(m_client, m_connection.ticket);
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
    if (m_connection.idle && m_connection.idleKey == m_upstreamKey
        && (m_connection.idleUnused ? m_connection.idle->lowest().socket().is_open() : m_connection.idle->quiet())) {
        m_upstream = std::move(m_connection.idle);
        m_reused = true;
    }
    m_connection.idle.reset();
    m_connection.idleUnused = false;
}

template <class Stream>
void ForwardedExchange<Stream>::prepareRequest()
{
    m_requestParser.emplace(std::move(m_header));
    m_requestParser->body_limit((std::numeric_limits<std::uint64_t>::max)());
    auto &outgoing = m_requestParser->get();
    const bool chunkedIn = m_requestParser->chunked();
    dropHopByHop(outgoing); // Connection and Transfer-Encoding among them
    if (!m_upgrade.empty()) { // an upgrade is asked of the host, which alone can agree to it
        outgoing.insert(http::field::connection, "upgrade");
        outgoing.insert(http::field::upgrade, m_upgrade);
    }
    // The host decides whether the body is wanted, as it would with the client's request straight; an
    // HTTP/1.0 client's expectation is ignored, so its host isn't asked either.
    if (m_version < 11)
        net::eraseFields(outgoing, http::field::expect);
    setHostInPlace(outgoing, m_target.host);
    // The proxy answers a 0 itself; a field the client named in Connection is gone already.
    if (const auto hops = hopsLeft(m_request); hops && *hops > 0 && outgoing.count(http::field::max_forwards))
        setInPlace(outgoing, http::field::max_forwards, std::to_string(*hops - 1));
    outgoing.target(originFormTarget(m_target, m_request.method));
    outgoing.version(11);
    if (chunkedIn)
        outgoing.insert(http::field::transfer_encoding, "chunked");
    // Kept alive: HTTP/1.1 without a Connection field says so.
    markVia(outgoing, m_version, m_handler.viaToken());
    if (chunkedIn)
        m_requestHead = headFields(outgoing);
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
