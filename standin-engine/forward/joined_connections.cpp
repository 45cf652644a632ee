// Relaying bytes both ways between two joined connections.
#include "forward/joined_connections.h"

#include "core/test_switches.h"
#include "forward/proxy_connection.h"
#include "net/spare_blocks.h"

#include <boost/asio/ssl/error.hpp>

#include <memory>
#include <optional>
#include <type_traits>

namespace standin {

namespace {

namespace asio = net::asio;
namespace beast = net::beast;
namespace http = net::http;
using net::Limits;
using net::tcp;

// A joined pair that carries nothing either way for this long is closed, and so is one whose receiver
// takes nothing for this long. One direction alone may stay silent for as long as the other moves: a
// download or an event stream has a client that sends nothing after its request.
std::chrono::steady_clock::duration joinedIdle()
{
    static const std::chrono::steady_clock::duration idle = testSwitches().joinedIdle.value_or(std::chrono::minutes(10));
    return idle;
}

// When either direction of a pair last moved a byte, and the watch that closes the pair once neither has
// for joinedIdle(). Shared with the watch, which may wake after the pair has gone.
struct PairWatch {
    explicit PairWatch(const asio::any_io_executor &executor)
        : timer(executor)
    {
    }
    asio::steady_timer timer;
    std::chrono::steady_clock::time_point lastMoved = std::chrono::steady_clock::now();
    bool ended = false;
};

asio::awaitable<void> watchPair(std::shared_ptr<PairWatch> watch, beast::tcp_stream &client, beast::tcp_stream &host)
{
    for (;;) {
        watch->timer.expires_at(watch->lastMoved + joinedIdle());
        beast::error_code ec;
        co_await watch->timer.async_wait(asio::redirect_error(asio::use_awaitable, ec));
        if (watch->ended)
            co_return;
        if (std::chrono::steady_clock::now() >= watch->lastMoved + joinedIdle()) {
            client.socket().close(ec);
            host.socket().close(ec);
            co_return;
        }
    }
}

// Relays one direction until it ends; an error ends both directions. A plain side holds a block only while
// it has bytes to pass on: most tunnels sit idle most of the time, and thousands of them may be open.
template <class From, class To>
asio::awaitable<void> pump(From &from, To &to, net::ConnectionTicket *ticket, PairWatch &watch)
{
    // TLS may hold bytes already read from the socket, so a TLS side never waits on the socket alone.
    constexpr bool holdsOnlyWhenReadable = std::is_same_v<From, beast::tcp_stream>;
    std::optional<net::PieceBlock> block;
    if (!holdsOnlyWhenReadable)
        block.emplace();
    beast::error_code ec;
    auto &fromSocket = beast::get_lowest_layer(from);
    auto &toSocket = beast::get_lowest_layer(to);
    for (;;) {
        // The pair's watch, not the read, decides when silence ends it.
        fromSocket.expires_never();
        if (!block) {
            co_await fromSocket.socket().async_wait(tcp::socket::wait_read, asio::redirect_error(asio::use_awaitable, ec));
            if (ec)
                break;
            block.emplace();
        }
        const std::size_t n = co_await from.async_read_some(asio::buffer(block->data(), block->size()),
                                                            asio::redirect_error(asio::use_awaitable, ec));
        if (n > 0) {
            watch.lastMoved = std::chrono::steady_clock::now();
            if (ticket)
                ticket->setQuiet(watch.lastMoved);
        }
        // TLS ended with its close alert or only with the connection: either way this side is done
        // sending, and the other side hears so as the end of the stream.
        if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated) {
            toSocket.socket().shutdown(tcp::socket::shutdown_send, ec);
            co_return;
        }
        if (ec)
            break;
        toSocket.expires_after(joinedIdle());
        co_await asio::async_write(to, asio::buffer(block->data(), n), asio::redirect_error(asio::use_awaitable, ec));
        if (ec)
            break;
        // A read that filled the block likely left more behind; a shorter one drained the socket.
        if (holdsOnlyWhenReadable && n < block->size())
            block.reset();
    }
    fromSocket.socket().close(ec);
    toSocket.socket().close(ec);
}

template <class Client, class Host>
asio::awaitable<void> joinBothWays(Client &client, Host &host, net::ConnectionTicket *ticket)
{
    auto executor = co_await asio::this_coro::executor;
    auto watch = std::make_shared<PairWatch>(executor);
    asio::co_spawn(executor, watchPair(watch, beast::get_lowest_layer(client), beast::get_lowest_layer(host)),
                   asio::detached);
    auto done = std::make_shared<asio::steady_timer>(executor, std::chrono::steady_clock::time_point::max());
    auto finished = std::make_shared<bool>(false);
    asio::co_spawn(executor, pump(host, client, ticket, *watch), [done, finished](std::exception_ptr) {
        *finished = true;
        done->cancel();
    });
    co_await pump(client, host, ticket, *watch);
    beast::error_code ec;
    if (!*finished)
        co_await done->async_wait(asio::redirect_error(asio::use_awaitable, ec));
    watch->ended = true;
    watch->timer.cancel();
}

template <class Client>
asio::awaitable<void> joinUpgradedOn(Client &client, beast::flat_buffer &buffer, ProxyConnection &connection)
{
    UpstreamConnection host = std::move(*connection.upgraded);
    connection.upgraded.reset();
    const std::string early = std::move(connection.upgradedEarly);
    connection.upgradedEarly.clear();
    connection.upstream = &host.lowest();
    // Quiet from the switch on, as a relayed tunnel is: a pair that moves nothing gives way at a full port.
    if (connection.ticket)
        connection.ticket->setQuiet(std::chrono::steady_clock::now());
    struct Release {
        ProxyConnection &connection;
        ~Release() { connection.upstream = nullptr; }
    } release {connection};

    beast::error_code ec;
    if (buffer.size() > 0) { // what the client sent right behind its request
        if (host.tls)
            co_await net::writeBuffers(*host.tls, buffer.data(), ec);
        else
            co_await net::writeBuffers(*host.plain, buffer.data(), ec);
        buffer.consume(buffer.size());
    }
    if (!ec && !early.empty()) // what the host sent right behind its 101
        co_await net::writeBuffers(client, asio::buffer(early), ec);
    if (ec)
        co_return;
    if (host.tls)
        co_await joinBothWays(client, *host.tls, connection.ticket);
    else
        co_await joinBothWays(client, *host.plain, connection.ticket);
}

} // namespace

asio::awaitable<void> joinConnections(beast::tcp_stream &client, beast::tcp_stream &host, net::ConnectionTicket *ticket)
{
    co_await joinBothWays(client, host, ticket);
}

asio::awaitable<void> joinUpgraded(beast::tcp_stream &client, beast::flat_buffer &buffer, ProxyConnection &connection)
{
    co_await joinUpgradedOn(client, buffer, connection);
}

asio::awaitable<void> joinUpgraded(TlsStream &client, beast::flat_buffer &buffer, ProxyConnection &connection)
{
    co_await joinUpgradedOn(client, buffer, connection);
}

std::string upgradeAsked(const http::request_header<> &header)
{
    if (header.version() < 11)
        return {};
    bool named = false;
    for (const auto &field : header) {
        if (field.name() != http::field::connection)
            continue;
        for (const auto &token : http::token_list {field.value()})
            named = named || beast::iequals(token, "upgrade");
    }
    std::string protocols;
    for (const auto &field : header) {
        if (!named || field.name() != http::field::upgrade)
            continue;
        const auto value = http::detail::trim(field.value());
        if (value.empty())
            continue;
        if (!protocols.empty())
            protocols += ", ";
        protocols.append(value.data(), value.size());
    }
    return protocols;
}

} // namespace standin
