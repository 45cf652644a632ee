// The engine's TLS stream as a server over real sockets, to Asio's own TLS client and to itself as a
// client that verifies the server: the handshake from ClientHello bytes read ahead, large bodies both
// ways at once, and how the client's leaving reads.
#include "tls/leaf_certificates.h"
#include "tls/root_ca.h"
#include "tls/tls_stream.h"

#include <boost/asio/ssl.hpp>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

namespace asio = standin::net::asio;
namespace beast = standin::net::beast;
namespace ssl = asio::ssl;
using standin::net::tcp;
using standin::TlsStream;

enum class HelloAhead { None, RecordHeader, WholeRecord };
enum class Ending { CloseNotify, BareClose, Silence };

struct Case {
    const char *name;
    bool ourClient;         // the client is the engine's stream too, else Asio's
    HelloAhead ahead;
    std::size_t bodyBytes;  // each way, at the same time
    bool tls12;             // else TLS 1.3, whose server sends session tickets after the handshake
    bool keyUpdate;         // the client asks for new keys before its body
    Ending ending;
    beast::error_code expected; // the server's idle read, as the client leaves
};

std::string pattern(std::size_t size, char seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(seed + i % 251);
    return bytes;
}

// Raised once the server's idle read is waiting, so the client leaves only then.
struct Signal {
    asio::steady_timer timer;
    bool raised = false;
    void raise()
    {
        raised = true;
        timer.cancel();
    }
    asio::awaitable<void> wait()
    {
        beast::error_code ec;
        if (!raised)
            co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ec));
    }
};

struct Outcome {
    bool handshook = false;
    std::size_t helloRead = 0;
    std::size_t helloUsed = 0;
    std::string serverGot;
    std::string clientGot;
    std::optional<std::size_t> blocksWhileIdle;
    beast::error_code idleRead;
    beast::error_code shutdown;
    std::size_t blocksAtEnd = 99;
};

// Full duplex: `body` goes out while as much comes in.
template <class Stream>
asio::awaitable<void> exchangeBodies(Stream &tls, const std::string &body, std::string &got)
{
    asio::steady_timer sent(co_await asio::this_coro::executor, std::chrono::steady_clock::time_point::max());
    bool done = false;
    asio::async_write(tls, asio::buffer(body), [&](beast::error_code, std::size_t) {
        done = true;
        sent.cancel();
    });
    got.resize(body.size());
    beast::error_code ec;
    co_await asio::async_read(tls, asio::buffer(got), asio::redirect_error(asio::use_awaitable, ec));
    if (!done)
        co_await sent.async_wait(asio::redirect_error(asio::use_awaitable, ec));
}

asio::awaitable<void> serve(tcp::acceptor &acceptor, ssl::context &context, const Case &c, Outcome &out,
                            Signal &idle)
{
    beast::error_code ec;
    beast::tcp_stream plain(co_await acceptor.async_accept(asio::redirect_error(asio::use_awaitable, ec)));
    if (ec)
        co_return;
    std::string hello;
    if (c.ahead != HelloAhead::None) {
        const auto read = [&](std::size_t n) {
            return asio::async_read(plain, asio::dynamic_buffer(hello), asio::transfer_exactly(n),
                                    asio::redirect_error(asio::use_awaitable, ec));
        };
        co_await read(5);
        const auto *header = reinterpret_cast<const unsigned char *>(hello.data());
        if (c.ahead == HelloAhead::WholeRecord)
            co_await read(header[3] * 256u + header[4]);
        out.helloRead = hello.size();
    }
    TlsStream tls(std::move(plain), context);
    out.helloUsed = co_await tls.async_handshake(ssl::stream_base::server, asio::buffer(hello),
                                                 asio::redirect_error(asio::use_awaitable, ec));
    out.handshook = !ec;
    if (ec)
        co_return;
    co_await exchangeBodies(tls, pattern(c.bodyBytes, 's'), out.serverGot);
    auto executor = co_await asio::this_coro::executor;

    // Nothing more comes until the client leaves: the read waits holding no ciphertext block.
    if (c.ending == Ending::Silence)
        beast::get_lowest_layer(tls).expires_after(std::chrono::milliseconds(200));
    char byte = 0;
    asio::steady_timer read(executor, std::chrono::steady_clock::time_point::max());
    tls.async_read_some(asio::buffer(&byte, 1), [&](beast::error_code failure, std::size_t) {
        out.idleRead = failure;
        read.cancel();
    });
    out.blocksWhileIdle = tls.blocksHeld();
    idle.raise();
    co_await read.async_wait(asio::redirect_error(asio::use_awaitable, ec)); // until the read ends
    if (out.idleRead == asio::error::eof) // the client waits for ours
        co_await tls.async_shutdown(asio::redirect_error(asio::use_awaitable, out.shutdown));
    out.blocksAtEnd = tls.blocksHeld();
}

template <class Client>
asio::awaitable<void> visit(tcp::endpoint at, ssl::context &context, const Case &c, Signal &idle, Outcome &out)
{
    Client tls(beast::tcp_stream(co_await asio::this_coro::executor), context);
    SSL_set_tlsext_host_name(tls.native_handle(), "localhost");
    SSL_set1_host(tls.native_handle(), "localhost");
    beast::error_code ec;
    co_await tls.next_layer().async_connect(at, asio::redirect_error(asio::use_awaitable, ec));
    co_await tls.async_handshake(ssl::stream_base::client, asio::redirect_error(asio::use_awaitable, ec));
    if (ec)
        co_return;
    if (c.keyUpdate)
        SSL_key_update(tls.native_handle(), SSL_KEY_UPDATE_REQUESTED);
    co_await exchangeBodies(tls, pattern(c.bodyBytes, 'c'), out.clientGot);
    co_await idle.wait();
    switch (c.ending) {
    case Ending::CloseNotify:
        co_await tls.async_shutdown(asio::redirect_error(asio::use_awaitable, ec));
        break;
    case Ending::BareClose:
        tls.next_layer().socket().close(ec);
        break;
    case Ending::Silence: { // until the server gives up
        char byte = 0;
        co_await tls.async_read_some(asio::buffer(&byte, 1), asio::redirect_error(asio::use_awaitable, ec));
        break;
    }
    }
}

} // namespace

TEST(TlsStream, ServesAClientFromItsHelloToItsLeavingAndHoldsNoBlockWhileIdle)
{
    std::string error;
    const auto ca = standin::makeSelfSignedCA("TLS stream test", error);
    ASSERT_TRUE(ca) << error;
    const auto leaf = standin::issueLeaf(ca->first, ca->second, "localhost", std::chrono::hours(1), error);
    ASSERT_TRUE(leaf) << error;
    ssl::context server(ssl::context::tls_server);
    server.use_certificate_chain(asio::buffer(leaf->certPEM));
    server.use_private_key(asio::buffer(leaf->keyPEM), ssl::context::pem);

    const Case cases[] = {
        {"whole hello ahead, close_notify", false, HelloAhead::WholeRecord, 100, false, false, Ending::CloseNotify,
         asio::error::eof},
        {"header ahead, megabytes, bare close", false, HelloAhead::RecordHeader, 3 << 20, false, false,
         Ending::BareClose, ssl::error::stream_truncated},
        {"nothing ahead, key update", false, HelloAhead::None, 1 << 20, false, true, Ending::CloseNotify,
         asio::error::eof},
        {"TLS 1.2, bare close", false, HelloAhead::WholeRecord, 200000, true, false, Ending::BareClose,
         ssl::error::stream_truncated},
        {"silent client", false, HelloAhead::WholeRecord, 10, false, false, Ending::Silence, beast::error::timeout},
        {"our client, key update, close_notify", true, HelloAhead::None, 3 << 20, false, true, Ending::CloseNotify,
         asio::error::eof},
        {"our client, TLS 1.2, bare close", true, HelloAhead::WholeRecord, 1 << 20, true, false, Ending::BareClose,
         ssl::error::stream_truncated},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ssl::context client(ssl::context::tls_client);
        client.add_certificate_authority(asio::buffer(ca->first));
        client.set_verify_mode(ssl::verify_peer);
        if (c.tls12)
            SSL_CTX_set_max_proto_version(client.native_handle(), TLS1_2_VERSION);
        asio::io_context io;
        tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
        Outcome out;
        Signal idle {asio::steady_timer(io, std::chrono::steady_clock::time_point::max())};
        asio::co_spawn(io, serve(acceptor, server, c, out, idle), asio::detached);
        if (c.ourClient)
            asio::co_spawn(io, visit<TlsStream>(acceptor.local_endpoint(), client, c, idle, out), asio::detached);
        else
            asio::co_spawn(io, visit<ssl::stream<beast::tcp_stream>>(acceptor.local_endpoint(), client, c, idle, out),
                           asio::detached);
        io.run_for(std::chrono::seconds(60));
        ASSERT_TRUE(io.stopped()) << "the exchange did not end";

        EXPECT_TRUE(out.handshook);
        EXPECT_EQ(out.helloUsed, out.helloRead);
        EXPECT_TRUE(out.serverGot == pattern(c.bodyBytes, 'c'));
        EXPECT_TRUE(out.clientGot == pattern(c.bodyBytes, 's'));
        EXPECT_EQ(out.blocksWhileIdle, std::optional<std::size_t>(0));
        EXPECT_EQ(out.idleRead, c.expected) << out.idleRead.message();
        EXPECT_FALSE(out.shutdown) << out.shutdown.message();
        EXPECT_EQ(out.blocksAtEnd, 0u);
    }
}
