// Passing requests through to real hosts, for clients and for replays.
#include "forward/forwarder.h"

#include "forward/forwarded_exchange.h"
#include "replay/replay_client.h"

namespace standin {

namespace {

using forwarding::ForwardedExchange;
using net::Limits;
namespace asio = net::asio;
namespace beast = net::beast;
namespace http = net::http;

// How long a replay, which has no client to stream to, may take in all.
constexpr std::chrono::seconds kReplayWait {60};

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

asio::awaitable<bool> Forwarder::forward(TlsStream &client, beast::flat_buffer &buffer,
                                         http::request_parser<http::empty_body> &header, ProxiedRequest &request,
                                         ExchangePlan &plan, ProxyConnection &connection)
{
    ForwardedExchange<TlsStream> exchange(m_handler, client, buffer, header, request, plan, connection, m_bodies);
    co_return co_await exchange.run();
}

TrafficRecord forwardDetached(ExchangeHandler &handler, const ProxiedRequest &request, ExchangePlan &plan)
{
    TrafficRecord recorded;
    ProxiedRequest sent = request;
    const ForwardedExchange<replay::ReplayClient> *running = nullptr;
    asio::io_context context;
    asio::co_spawn(
        context,
        [&]() -> asio::awaitable<void> {
            replay::ReplayClient client(co_await asio::this_coro::executor, replay::requestBytes(request, *plan.target));
            beast::flat_buffer buffer;
            http::request_parser<http::empty_body> header;
            header.header_limit(Limits::kMaxHeaderBytes);
            header.body_limit((std::numeric_limits<std::uint64_t>::max)());
            beast::error_code ec;
            co_await http::async_read_header(client, buffer, header, asio::redirect_error(asio::use_awaitable, ec));
            if (ec) { // a stored header that no longer reads as one
                const std::string text = "the recorded request cannot be sent again: " + ec.message();
                recorded = handler.finish(plan, sent, 400, proxyErrorBody(text), false)->whole();
                co_return;
            }
            ProxyConnection connection;
            ForwardedExchange<replay::ReplayClient> exchange(handler, client, buffer, header, sent, plan, connection, nullptr);
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
            recorded = handler.finish(plan, sent, 504, proxyErrorBody("the host did not answer the replay in time"), false)
                           ->whole();
    }
    // The exchange kept the history's short copy of the body; this replay had all of it at hand.
    if (!recorded.id.empty())
        handler.keepRequest(recorded, request);
    return recorded;
}

ProxiedResponse ExchangeHandler::handle(const ProxiedRequest &request, const Wait &wait, TrafficRecord *stored)
{
    ExchangePlan planned = plan(request);
    ProxiedResponse response = planned.response;
    if (response.sharedBody) {
        response.body = *response.sharedBody;
        response.sharedBody.reset();
    }
    if (planned.delayMs > 0 && !wait(planned.delayMs)) {
        response = ProxiedResponse {};
        response.status = 503;
        response.body = proxyErrorBody("the proxy is stopping");
    } else if (planned.forward) {
        planned.delayMs = 0; // waited above
        const TrafficRecord kept = forwardDetached(*this, request, planned);
        m_schema.settle();
        if (stored)
            *stored = kept;
        ProxiedResponse forwarded;
        forwarded.status = static_cast<int>(kept.status);
        forwarded.body = kept.respBody.value_or("");
        return forwarded;
    }
    if (response.contentType.empty())
        response.contentType = contentTypeFor(response.body);
    const auto kept = finish(planned, request, response.status, response.body, true);
    m_schema.settle(); // the caller sees what this exchange taught
    if (stored)
        *stored = kept->whole();
    return response;
}

} // namespace standin
