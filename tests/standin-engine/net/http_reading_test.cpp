// The engine's own reads and field lookups against Beast's, which they stand in for on every request:
// the same bytes, however they arrive, must parse to the same message, error and leftover bytes.
#include "net/http_fields.h"
#include "net/http_reading.h"

#include <boost/beast/_experimental/test/stream.hpp>

#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace asio = standin::net::asio;
namespace beast = standin::net::beast;
namespace http = standin::net::http;

struct Outcome {
    std::string error;
    bool done = false;
    std::string message; // status line, fields in order, body
    std::string left;    // bytes read past the message
    bool operator==(const Outcome &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Outcome &outcome)
{
    return out << "error=" << outcome.error << " done=" << outcome.done << "\n" << outcome.message << "\nleft=" << outcome.left;
}

// Reads one answer from `bytes` (each read taking at most `readSize` of them, the peer closing after
// them) with the engine's reads, or with Beast's own when `beasts`.
Outcome readAnswer(const std::string &bytes, std::size_t readSize, bool beasts, std::size_t bufferLimit)
{
    asio::io_context io;
    beast::test::stream client(io);
    beast::test::stream peer(io);
    client.connect(peer);
    client.read_size(readSize);
    peer.write_some(asio::buffer(bytes));
    peer.close();
    beast::flat_buffer buffer(bufferLimit);
    http::response_parser<http::string_body> parser;
    parser.header_limit(256);
    beast::error_code ec;
    asio::co_spawn(io, [&]() -> asio::awaitable<void> {
        if (beasts)
            co_await http::async_read_header(client, buffer, parser, asio::redirect_error(asio::use_awaitable, ec));
        else
            co_await standin::net::readHeader(client, buffer, parser, standin::net::deadlineAfter(std::chrono::seconds(5)), ec);
        while (!ec && !parser.is_done()) {
            if (beasts)
                co_await http::async_read_some(client, buffer, parser, asio::redirect_error(asio::use_awaitable, ec));
            else
                co_await standin::net::readSome(client, buffer, parser, standin::net::deadlineAfter(std::chrono::seconds(5)), ec);
        }
    }, asio::detached);
    io.run();
    Outcome outcome;
    outcome.error = ec.message();
    outcome.done = parser.is_done();
    if (parser.is_header_done()) {
        std::ostringstream message;
        message << parser.get().result_int() << " " << parser.get().reason() << "\n";
        for (const auto &field : parser.get())
            message << field.name_string() << ": " << field.value() << "\n";
        message << parser.get().body();
        outcome.message = message.str();
    }
    outcome.left = beast::buffers_to_string(buffer.data());
    return outcome;
}

TEST(HttpReading, TheEnginesReadsParseWhatBeastsParseHoweverTheBytesArrive)
{
    const std::string longField = "X-Long: " + std::string(300, 'v') + "\r\n";
    const std::vector<std::pair<std::string, std::string>> answers = {
        {"sized, with the next answer behind it",
         "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-A: 1\r\n\r\nhelloHTTP/1.1 204 No Content\r\n\r\n"},
        {"chunked, with trailers", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTrailer: X-Sum\r\n\r\n"
                                   "3;ext=1\r\nabc\r\n2\r\nde\r\n0\r\nX-Sum: 9\r\n\r\n"},
        {"ended by the close", "HTTP/1.1 200 OK\r\nX-A: 1\r\n\r\nall of this until the close"},
        {"cut in its header", "HTTP/1.1 200 OK\r\nContent-Le"},
        {"cut in its body", "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nshort"},
        {"nothing at all", ""},
        {"a header past its limit", "HTTP/1.1 200 OK\r\n" + longField + "Content-Length: 0\r\n\r\n"},
        {"malformed", "HTTP/1.1 2x0 OK\r\n\r\n"},
    };
    for (const auto &[name, bytes] : answers) {
        for (const std::size_t readSize : {1, 3, 7, 64, 4096}) {
            for (const std::size_t bufferLimit : {std::size_t(40), std::size_t(1) << 20}) {
                SCOPED_TRACE(name + ", reads of " + std::to_string(readSize) + ", buffer of " + std::to_string(bufferLimit));
                EXPECT_EQ(readAnswer(bytes, readSize, false, bufferLimit), readAnswer(bytes, readSize, true, bufferLimit));
            }
        }
    }
    // The cases do reach the places they are named for.
    EXPECT_EQ(readAnswer(answers[0].second, 4096, false, 1 << 20).left, "HTTP/1.1 204 No Content\r\n\r\n");
    EXPECT_EQ(readAnswer(answers[2].second, 3, false, 1 << 20).error, "Success");
    EXPECT_EQ(readAnswer(answers[3].second, 3, false, 1 << 20).error, beast::error_code(http::error::partial_message).message());
    EXPECT_EQ(readAnswer(answers[5].second, 3, false, 1 << 20).error, beast::error_code(http::error::end_of_stream).message());
    EXPECT_EQ(readAnswer(answers[6].second, 64, false, 1 << 20).error, beast::error_code(http::error::header_limit).message());
    EXPECT_EQ(readAnswer(answers[6].second, 64, false, 40).error, beast::error_code(http::error::buffer_overflow).message());
}

TEST(HttpReading, OneReadOfABodyTakesEveryChunkTheBufferHolds)
{
    asio::io_context io;
    beast::test::stream client(io);
    beast::test::stream peer(io);
    client.connect(peer);
    std::string bytes = "POST /up HTTP/1.1\r\nHost: api.test\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 1000; ++i)
        bytes += "1\r\nx\r\n";
    bytes += "1\r"; // a chunk still coming: what is here goes to the caller without waiting for it
    peer.write_some(asio::buffer(bytes));
    http::request_parser<http::string_body> parser;
    beast::flat_buffer buffer;
    buffer.reserve(64 * 1024); // the first read takes them all, as a buffer made ready for a body does
    beast::error_code ec;
    std::vector<std::size_t> bodyAfterEachRead;
    asio::co_spawn(io, [&]() -> asio::awaitable<void> {
        const auto deadline = standin::net::deadlineAfter(std::chrono::seconds(30));
        co_await standin::net::readHeader(client, buffer, parser, deadline, ec);
        co_await standin::net::readSome(client, buffer, parser, deadline, ec);
        bodyAfterEachRead.push_back(parser.get().body().size());
    }, asio::detached);
    io.run();
    EXPECT_FALSE(ec) << ec.message();
    EXPECT_EQ(bodyAfterEachRead, std::vector<std::size_t> {1000});
    EXPECT_EQ(parser.get().body(), std::string(1000, 'x'));
}

TEST(HttpReading, FieldsLookedUpByCodeAnswerAsBeastsOwnLookups)
{
    const auto textOf = [](const http::fields &fields) {
        std::ostringstream text;
        for (const auto &field : fields)
            text << field.name_string() << ": " << field.value() << "\n";
        return text.str();
    };
    const std::vector<std::vector<std::pair<http::field, std::string>>> heads = {
        {},
        {{http::field::connection, "close"}},
        {{http::field::connection, "keep-alive"}},
        {{http::field::connection, "Upgrade, Keep-Alive"}},
        {{http::field::connection, "keep-alive"}, {http::field::via, "1.1 a"}, {http::field::connection, "close"}},
        {{http::field::via, "1.1 a"}, {http::field::host, "h"}, {http::field::via, "1.0 b"}},
    };
    for (const auto &head : heads) {
        for (const unsigned version : {10u, 11u}) {
            http::response<http::empty_body> fields;
            fields.version(version);
            for (const auto &[name, value] : head)
                fields.insert(name, value);
            SCOPED_TRACE(std::to_string(head.size()) + " fields, version " + std::to_string(version));
            EXPECT_EQ(standin::net::keepsAlive(fields, version), fields.keep_alive());
            for (const auto name : {http::field::connection, http::field::via, http::field::host, http::field::trailer}) {
                EXPECT_EQ(standin::net::countFields(fields, name), fields.count(name));
                EXPECT_EQ(std::distance(fields.begin(), standin::net::findField(fields, name)),
                          std::distance(fields.begin(), fields.find(name)));
                auto erased = fields;
                auto erasedByBeast = fields;
                standin::net::eraseFields(erased, name);
                erasedByBeast.erase(name);
                EXPECT_EQ(textOf(erased), textOf(erasedByBeast));
            }
            // Once the Connection fields are gone, as a relay drops them, marking keep-alive writes
            // what Beast's own setter would.
            for (const bool keep : {false, true}) {
                auto marked = fields;
                standin::net::eraseFields(marked, http::field::connection);
                auto markedByBeast = marked;
                standin::net::markKeepAlive(marked, version, keep);
                markedByBeast.keep_alive(keep);
                EXPECT_EQ(textOf(marked), textOf(markedByBeast)) << "keep " << keep;
            }
        }
    }
}

// A real connection over loopback: the engine's side as a timed stream, and the peer's bare socket.
struct LoopbackPair {
    LoopbackPair()
    {
        standin::net::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
        client.socket().connect(acceptor.local_endpoint());
        acceptor.accept(peer);
    }
    asio::io_context io;
    beast::tcp_stream client {io};
    standin::net::tcp::socket peer {io};
};

} // namespace

// A plain connection reads straight from its socket under a timer of its own: a read past its deadline
// ends as the timed stream's does, and one that was answered in time leaves no timer behind to close
// the connection later.
TEST(HttpReading, APlainReadEndsAtItsDeadlineAndOneAnsweredInTimeLeavesTheConnectionOpen)
{
    using namespace std::chrono_literals;
    LoopbackPair pair;
    auto &io = pair.io;
    auto &client = pair.client;
    auto &peer = pair.peer;
    asio::write(peer, asio::buffer(std::string("first")));

    std::string firstRead, secondRead;
    beast::error_code firstError, secondError, lateError;
    bool openAfterFirstDeadline = false;
    // Should the deadline not hold, the peer's leaving ends the last read instead of the test hanging.
    asio::steady_timer giveUp(io, 10s);
    giveUp.async_wait([&](beast::error_code cancelled) {
        if (!cancelled)
            peer.close();
    });
    asio::co_spawn(io, [&]() -> asio::awaitable<void> {
        char bytes[16];
        std::size_t n = co_await standin::net::readPlain(client, asio::buffer(bytes), standin::net::deadlineAfter(100ms), firstError);
        firstRead.assign(bytes, n);
        asio::steady_timer pause(io, 300ms);
        co_await pause.async_wait(asio::use_awaitable);
        openAfterFirstDeadline = client.socket().is_open();
        asio::write(peer, asio::buffer(std::string("second")));
        n = co_await standin::net::readPlain(client, asio::buffer(bytes), standin::net::deadlineAfter(5s), secondError);
        secondRead.assign(bytes, n);
        // Nothing more comes: the read ends at its deadline, and the connection with it.
        co_await standin::net::readPlain(client, asio::buffer(bytes), standin::net::deadlineAfter(100ms), lateError);
        giveUp.cancel();
    }, asio::detached);
    io.run();

    EXPECT_FALSE(firstError);
    EXPECT_EQ(firstRead, "first");
    EXPECT_TRUE(openAfterFirstDeadline);
    EXPECT_FALSE(secondError);
    EXPECT_EQ(secondRead, "second");
    EXPECT_EQ(lateError, beast::error::timeout);
    EXPECT_FALSE(client.socket().is_open());
}

// A host's answer is read letting the event loop know when a read drained the socket: the first read
// of the next answer then waits for the host without trying first, yet misses nothing that comes,
// and the reads behind it still see an end of stream that arrived with the last of the data.
TEST(HttpReading, AHostAnswerReadThatDrainedTheSocketMissesNeitherLaterDataNorAnEndThatCameWithIt)
{
    using namespace std::chrono_literals;
    using standin::net::ReadKind;
    LoopbackPair pair;
    auto &io = pair.io;
    auto &client = pair.client;
    auto &host = pair.peer;

    std::vector<std::string> reads;
    std::vector<beast::error_code> errors;
    // Should a read wait for an event that already came, closing the connection ends it instead of
    // the test hanging.
    asio::steady_timer giveUp(io, 10s);
    giveUp.async_wait([&](beast::error_code cancelled) {
        if (!cancelled)
            client.socket().close();
    });
    asio::co_spawn(io, [&]() -> asio::awaitable<void> {
        char bytes[64];
        asio::steady_timer pause(io);
        const auto settle = [&]() -> asio::awaitable<void> { // the loop hears the host's bytes first
            pause.expires_after(50ms);
            co_await pause.async_wait(asio::use_awaitable);
        };
        const auto read = [&](ReadKind kind) -> asio::awaitable<void> {
            beast::error_code ec;
            const std::size_t n = co_await standin::net::readPlain(client, asio::buffer(bytes),
                                                                   standin::net::deadlineAfter(5s), ec, kind);
            reads.emplace_back(bytes, n);
            errors.push_back(ec);
        };
        asio::write(host, asio::buffer(std::string("first answer")));
        co_await settle();
        co_await read(ReadKind::HostAnswerStart); // less than asked for: drained
        pause.expires_after(50ms);
        pause.async_wait([&](beast::error_code) { asio::write(host, asio::buffer(std::string("second answer"))); });
        co_await read(ReadKind::HostAnswerStart); // waits for the host
        asio::write(host, asio::buffer(std::string("last piece")));
        host.shutdown(standin::net::tcp::socket::shutdown_send);
        co_await settle();
        co_await read(ReadKind::FromHost); // takes the piece, not the end behind it
        co_await read(ReadKind::FromHost);
        giveUp.cancel();
    }, asio::detached);
    io.run();

    EXPECT_EQ(reads, (std::vector<std::string> {"first answer", "second answer", "last piece", ""}));
    EXPECT_EQ(errors, (std::vector<beast::error_code> {{}, {}, {}, asio::error::eof}));
}
