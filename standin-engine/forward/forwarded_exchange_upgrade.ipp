// A forwarded exchange that ends in a switch of protocols: the host agreed to the upgrade the client
// asked for (a WebSocket, say), so its 101 goes on, is recorded, and the two connections are joined.
// A part of forwarded_exchange.h, included at its end: not a header to include on its own.

#include "forward/joined_connections.h"
#include "forward/relayed_fields.h"

#include <string>
#include <utility>

namespace standin::forwarding {

template <class Stream>
asio::awaitable<bool> ForwardedExchange<Stream>::switchProtocols()
{
    auto &incoming = m_responseParser->get();
    m_status = incoming.result_int();
    m_mayLearn = false;
    std::string protocols;
    for (const auto &field : incoming) {
        if (field.name() == http::field::upgrade)
            protocols.append(protocols.empty() ? "" : ", ").append(field.value().data(), field.value().size());
    }
    dropHopByHop(incoming);
    markVia(incoming, incoming.version(), m_handler.viaToken());
    incoming.version(11);
    incoming.insert(http::field::connection, "upgrade");
    if (!protocols.empty())
        incoming.insert(http::field::upgrade, protocols);
    record();
    const std::string head = answerHead(incoming);
    co_await net::writeBuffers(m_client, asio::buffer(head), m_ec);
    if (m_ec) {
        m_clientFailed = true;
        co_return false;
    }
    // From here on the connection belongs to the protocol switched to: the serving loop joins it to
    // the host once this exchange is over, with what the host sent past its 101.
    const auto early = m_upstreamBuffer.data();
    m_connection.upgradedEarly.assign(static_cast<const char *>(early.data()), early.size());
    m_upstreamBuffer.consume(early.size());
    m_connection.upgraded = std::move(m_upstream);
    m_connection.upstream = nullptr;
    co_return false;
}

} // namespace standin::forwarding
