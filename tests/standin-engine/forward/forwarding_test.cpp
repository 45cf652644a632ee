// Pass-through against hosts that answer in the shapes real servers use and misuse: one-piece and
// empty-ended chunked bodies, kept connections the host closes, loops back into the proxy, endless
// interim answers, switched protocols, framing fields named in Connection and stray bytes after an
// answer; and mock answers whose status limits their head.
#include "standin-engine/engine_process.h"
#include "standin-engine/scripted_host.h"

#include "support/test_support.h"

#include "engine/records/engine_records.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <poll.h>
#include <sys/socket.h>

using standintest::EngineProcess;
using standintest::HttpClient;
using standintest::RawSocket;
using standintest::ScriptedHost;
using standintest::bodyOf;
using standintest::chunked;
using standintest::proxyRequest;
using standintest::statusOf;

namespace {

constexpr auto kPatience = std::chrono::seconds(10);

std::string answer(const std::string &body, const std::string &extra = {})
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

// One answer framed by its Content-Length, read from a raw socket.
std::string readAnswer(RawSocket &socket)
{
    std::string text = socket.readUntil("\r\n\r\n", kPatience);
    const auto headEnd = text.find("\r\n\r\n");
    if (headEnd == std::string::npos)
        return text;
    const auto length = text.find("Content-Length: ");
    const std::size_t wanted = headEnd + 4 + (length < headEnd ? std::stoul(text.substr(length + 16)) : 0);
    char chunk[65536];
    while (text.size() < wanted) {
        pollfd ready {socket.fd(), POLLIN, 0};
        if (::poll(&ready, 1, 10000) <= 0)
            break;
        const ssize_t n = ::recv(socket.fd(), chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    return text;
}

class Forwarding : public standintest::EngineTest {
protected:
    static std::string origin(const ScriptedHost &host) { return "127.0.0.1:" + std::to_string(host.port()); }
    std::string request(const ScriptedHost &host, const std::string &method, const std::string &path,
                        const std::string &fields = {}) const
    {
        return method + " http://" + origin(host) + path + " HTTP/1.1\r\nHost: " + origin(host) + "\r\n" + fields
               + "\r\n";
    }
};

} // namespace

TEST_F(Forwarding, ChunkedAnswersAndUploadsEndWithExactlyOneLastChunk)
{
    standintest::RequestLog log;
    ScriptedHost host(log.recording([](ScriptedHost::Connection &connection, const ScriptedHost::Request &request) {
        if (request.line().find("/one-piece") != std::string::npos) // the whole answer in one write
            connection.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked({"hello"}));
        else
            connection.send(answer("got " + request.body));
    }));

    RawSocket client;
    ASSERT_TRUE(client.connect(m_proxyPort));
    std::string received;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(client.send(request(host, "GET", "/one-piece")));
        received += client.readUntil("hello\r\n0\r\n\r\n", kPatience);
    }
    // Found by its body: a head's last field (the proxy's Via entry) may end in "0" too.
    const auto firstEnd = received.find("hello\r\n0\r\n\r\n");
    ASSERT_NE(firstEnd, std::string::npos) << received;
    EXPECT_EQ(received.compare(firstEnd + 12, 9, "HTTP/1.1 "), 0) << "after the first answer: " << received;

    // Uploads in pieces, twice on one connection: the host reads each whole and nothing after it.
    for (const std::string &body : {std::string("first"), std::string("second")}) {
        ASSERT_TRUE(client.send(request(host, "POST", "/upload", "Transfer-Encoding: chunked\r\n")
                                + chunked({body.substr(0, 3), body.substr(3)})));
        const std::string reply = client.readUntil("got " + body, kPatience);
        EXPECT_EQ(bodyOf(reply), "got " + body) << reply;
    }
    const auto seen = log.requests();
    ASSERT_EQ(seen.size(), 4u);
    for (std::size_t i = 2; i < 4; ++i) {
        EXPECT_EQ(seen[i].line().rfind("POST /upload HTTP/1.1", 0), 0u) << seen[i].raw;
        EXPECT_EQ(seen[i].body, i == 2 ? "first" : "second");
    }
    EXPECT_EQ(host.connections(), 1);
}

TEST_F(Forwarding, ARequestAKeptConnectionTookWithoutAnAnswerGoesAgainOnlyWhenThatIsHarmless)
{
    // "/drop" on a connection that already answered is read and left unanswered, the connection
    // closed, as by a host whose idle timer fires as the request comes; "/bye" is answered, and then
    // the connection closed while it waits for the next.
    std::mutex mutex;
    std::vector<std::string> seen; // "METHOD /path body" of each request the host read
    std::promise<void> byeClosed;
    ScriptedHost host([&](ScriptedHost::Connection &connection) {
        for (int answered = 0;; ++answered) {
            const auto request = connection.next();
            if (!request)
                return;
            const std::string line = request->line();
            const std::string method = line.substr(0, line.find(' '));
            const std::string path = line.substr(method.size() + 1, line.find(' ', method.size() + 1) - method.size() - 1);
            {
                std::lock_guard lock(mutex);
                seen.push_back(method + " " + path + " " + request->body.substr(0, 8));
            }
            if (path == "/drop" && answered > 0)
                return connection.drop();
            connection.send(answer("got " + std::to_string(request->body.size()) + " " + request->body.substr(0, 8)));
            if (path == "/bye") {
                connection.drop();
                return byeClosed.set_value();
            }
        }
    });

    RawSocket client;
    ASSERT_TRUE(client.connect(m_proxyPort));
    const auto send = [&](const std::string &method, const std::string &path, const std::string &body, bool pieces) {
        const std::string framing = pieces ? "Transfer-Encoding: chunked\r\n"
                                           : "Content-Length: " + std::to_string(body.size()) + "\r\n";
        client.send(request(host, method, path, framing) + (pieces ? chunked({body}) : body));
        return readAnswer(client);
    };
    EXPECT_EQ(bodyOf(send("POST", "/a", "alpha", false)), "got 5 alpha");
    // The host may have acted on it: never sent twice, the client told so.
    const std::string refused = send("POST", "/drop", "bravo", false);
    EXPECT_EQ(statusOf(refused), 502) << refused;
    EXPECT_NE(refused.find("a POST is not sent twice"), std::string::npos) << refused;
    client.close(); // a 502 ends the client's connection
    ASSERT_TRUE(client.connect(m_proxyPort));
    EXPECT_EQ(bodyOf(send("GET", "/warm", "", false)), "got 0 ");
    // Idempotent: sent again on a new connection, the body from the copy kept.
    EXPECT_EQ(bodyOf(send("PUT", "/drop", "charlie", true)), "got 7 charlie");
    EXPECT_EQ(bodyOf(send("GET", "/drop", "", false)), "got 0 ");
    EXPECT_EQ(bodyOf(send("POST", "/bye", "delta", false)), "got 5 delta");
    ASSERT_EQ(byeClosed.get_future().wait_for(kPatience), std::future_status::ready);
    // The kept connection is seen to be closed before it is used: a new one takes the POST, once.
    EXPECT_EQ(bodyOf(send("POST", "/e", "echo", false)), "got 4 echo");
    // Too large to hold for a second try: a clear 502.
    const std::string large(2 * 1024 * 1024, 'L');
    const std::string tooLarge = send("PUT", "/drop", large, false);
    EXPECT_EQ(statusOf(tooLarge), 502) << tooLarge.substr(0, 300);
    EXPECT_NE(tooLarge.find("too large to send again"), std::string::npos) << tooLarge.substr(0, 300);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(seen, (std::vector<std::string> {"POST /a alpha", "POST /drop bravo", "GET /warm ",
                                                   "PUT /drop charlie", "PUT /drop charlie", "GET /drop ",
                                                   "GET /drop ", "POST /bye delta", "POST /e echo",
                                                   "PUT /drop LLLLLLLL"}));
    }
    bool recorded = false;
    for (const auto &record : history())
        recorded = recorded || (record.method == "POST" && record.path == "/drop" && record.status == 502);
    EXPECT_TRUE(recorded);
}

TEST_F(Forwarding, ARequestThatComesBackRoundALoopIsRefusedWith508)
{
    // A transparent relay pointed back at the proxy port (it gives up after 20 hops).
    const int proxyPort = m_proxyPort;
    ScriptedHost relay([proxyPort](ScriptedHost::Connection &connection) {
        if (connection.index() >= 20)
            return;
        RawSocket onward;
        if (!onward.connect(proxyPort))
            return;
        std::thread back([&] {
            char chunk[16384];
            for (;;) {
                pollfd wanted {onward.fd(), POLLIN, 0};
                if (::poll(&wanted, 1, 10000) <= 0)
                    break;
                const ssize_t n = ::recv(onward.fd(), chunk, sizeof chunk, 0);
                if (n <= 0 || !connection.send(std::string(chunk, static_cast<std::size_t>(n))))
                    break;
            }
            connection.close();
        });
        for (std::string bytes; !(bytes = connection.receive(std::chrono::seconds(10))).empty();) {
            if (!onward.send(bytes))
                break;
        }
        ::shutdown(onward.fd(), SHUT_RDWR);
        back.join();
    });
    const auto looped = proxyRequest(m_proxyPort, "GET", "http://" + origin(relay) + "/loop");
    ASSERT_TRUE(looped);
    EXPECT_EQ(looped->status, 508) << looped->body;
    const auto error = decodeRecord<ErrorReply>(looped->body);
    ASSERT_TRUE(error) << looped->body;
    EXPECT_NE(error->error.find("loop"), std::string::npos);
    EXPECT_EQ(relay.connections(), 1);

    // What a host receives names the proxy after whatever proxies came before it.
    std::promise<std::string> via;
    ScriptedHost host([&via](ScriptedHost::Connection &connection) {
        if (const auto request = connection.next()) {
            via.set_value(request->header("Via"));
            connection.send(answer("ok"));
        }
    });
    HttpClient client("127.0.0.1", m_proxyPort);
    const auto reply = client.Get("http://" + origin(host) + "/", {{"Via", "1.1 corporate-cache"}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, "ok");
    const std::string mark = via.get_future().get();
    EXPECT_EQ(mark.rfind("1.1 corporate-cache, 1.1 kestrion-", 0), 0u) << mark;
}

TEST_F(Forwarding, TheHostFieldKeepsTheCaseAndPlaceTheClientGaveIt)
{
    std::promise<std::string> head;
    ScriptedHost host([&head](ScriptedHost::Connection &connection) {
        if (const auto request = connection.next()) {
            head.set_value(request->head);
            connection.send(answer("ok"));
        }
    });
    RawSocket client;
    ASSERT_TRUE(client.connect(m_proxyPort));
    // A Host that names another authority than the target still gives way to the target's.
    client.send("GET http://" + origin(host) + "/where HTTP/1.1\r\nX-Before: 1\r\nhOsT: elsewhere.test\r\n"
                "Accept: */*\r\n\r\n");
    EXPECT_EQ(bodyOf(readAnswer(client)), "ok");
    const std::string received = head.get_future().get();
    EXPECT_EQ(received.rfind("GET /where HTTP/1.1\r\nX-Before: 1\r\nhOsT: " + origin(host) + "\r\nAccept: */*\r\n", 0),
              0u) << received;
}

TEST_F(Forwarding, MockAnswersEndWithAFinalHeadFramedAsItsStatusAllows)
{
    const auto route = [](const std::string &id, const std::string &path, int status) {
        WireRoute r;
        r.id = id;
        r.method = "GET";
        r.host = "api.test";
        r.path = path;
        r.status = status;
        r.body = "mocked";
        return r;
    };
    WireRoute stepped = route("r-steps", "/steps", 200);
    WireStep interim;
    interim.status = 102;
    stepped.sequence = std::vector<WireStep> {interim};
    const std::vector<WireRoute> routes {route("r-hints", "/hints", 103), route("r-none", "/none", 204),
                                         route("r-odd", "/odd", 299), stepped};
    ASSERT_EQ(m_engine->client()->Post("/routes", encodeRecord(routes), "application/json")->status, 200);

    // Pipelined, so an answer that doesn't end would take the next one's place.
    RawSocket client;
    ASSERT_TRUE(client.connect(m_proxyPort));
    std::string pipelined;
    for (const std::string path : {"/hints", "/none", "/odd", "/steps", "/none"})
        pipelined += "GET http://api.test" + path + " HTTP/1.1\r\nHost: api.test\r\n\r\n";
    ASSERT_TRUE(client.send(pipelined));
    std::string all;
    std::vector<std::string> answers;
    while (answers.size() < 5 || all.size() < 4 || all.compare(all.size() - 4, 4, "\r\n\r\n") != 0) {
        const std::string more = client.readUntil("\r\n\r\n", kPatience);
        ASSERT_FALSE(more.empty()) << all;
        all += more;
        answers.clear();
        for (auto at = all.find("HTTP/1.1 "); at != std::string::npos;) {
            const auto next = all.find("HTTP/1.1 ", at + 1);
            answers.push_back(all.substr(at, next == std::string::npos ? std::string::npos : next - at));
            at = next;
        }
    }
    ASSERT_EQ(answers.size(), 5u) << all;
    for (const int i : {0, 3}) {
        EXPECT_EQ(answers[i].rfind("HTTP/1.1 500 Internal Server Error\r\n", 0), 0u) << answers[i];
        EXPECT_NE(bodyOf(answers[i]).find("can't be a final answer"), std::string::npos) << answers[i];
    }
    EXPECT_EQ(answers[1].rfind("HTTP/1.1 204 No Content\r\n", 0), 0u) << answers[1];
    EXPECT_EQ(answers[1].find("Content-Length"), std::string::npos) << answers[1];
    EXPECT_EQ(answers[2].rfind("HTTP/1.1 299 \r\n", 0), 0u) << answers[2];
    EXPECT_EQ(bodyOf(answers[2]), "mocked");
    EXPECT_EQ(answers[4], answers[1]);
    const auto records = history();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[4].status, 500); // newest first: the 103 route's is the oldest
}

TEST_F(Forwarding, EndlessInterimAnswersAndSwitchedProtocolsAreRefusedAndClientsThatLeaveDoNotHoldTheHost)
{
    std::promise<bool> hostFreed;
    ScriptedHost host([&hostFreed](ScriptedHost::Connection &connection) {
        const auto request = connection.next();
        if (!request)
            return;
        if (request->line().find("/endless") != std::string::npos) {
            for (int i = 0; i < 1000000 && connection.send("HTTP/1.1 100 Continue\r\n\r\n"); ++i) {
            }
            return;
        }
        if (request->line().find("/switch") != std::string::npos) {
            connection.send("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n");
            return;
        }
        // Never answers: the proxy must let go when its client does.
        hostFreed.set_value(connection.waitForClose(kPatience));
    });
    // The interim answers are passed on, as a client may want each, up to a bound; then the refusal.
    RawSocket endless;
    ASSERT_TRUE(endless.connect(m_proxyPort));
    ASSERT_TRUE(endless.send(request(host, "GET", "/endless")));
    std::string interims;
    EXPECT_TRUE(endless.readToEnd(interims, kPatience));
    const auto refusal = interims.find("HTTP/1.1 502");
    ASSERT_NE(refusal, std::string::npos) << interims.substr(0, 400);
    std::size_t relayed = 0;
    for (auto at = interims.find("HTTP/1.1 100 Continue\r\n"); at < refusal; at = interims.find("HTTP/1.1 100 Continue\r\n", at + 1))
        ++relayed;
    EXPECT_GT(relayed, 0u);
    EXPECT_LE(relayed, 16u);
    EXPECT_NE(interims.find("interim", refusal), std::string::npos) << interims.substr(refusal);
    // A switch to protocols the client never asked for is refused.
    const auto switched = proxyRequest(m_proxyPort, "GET", "http://" + origin(host) + "/switch");
    ASSERT_TRUE(switched);
    EXPECT_EQ(switched->status, 502);
    EXPECT_NE(switched->body.find("switched protocols"), std::string::npos) << switched->body;

    RawSocket client;
    ASSERT_TRUE(client.connect(m_proxyPort));
    ASSERT_TRUE(client.send(request(host, "GET", "/silent")));
    ASSERT_TRUE(testsupport::waitFor([&] { return host.connections() == 3; }));
    client.close();
    auto freed = hostFreed.get_future();
    ASSERT_EQ(freed.wait_for(kPatience * 2), std::future_status::ready);
    EXPECT_TRUE(freed.get());
    bool recorded = false;
    EXPECT_TRUE(testsupport::waitFor([&] {
        for (const auto &record : history())
            recorded = recorded || (record.path == "/silent" && record.status == 499);
        return recorded;
    }));
}

TEST_F(Forwarding, FramingFieldsNamedInConnectionAreRefusedNotDropped)
{
    ScriptedHost host([](ScriptedHost::Connection &connection) {
        while (connection.next())
            connection.send(answer("poisoned", "Connection: Content-Length\r\n"));
    });
    const std::string smuggled = "GET http://" + origin(host) + "/smuggled HTTP/1.1\r\nHost: " + origin(host) + "\r\n\r\n";
    for (const std::string &fields : {std::string("Connection: Content-Length\r\nContent-Length: 5\r\n"),
                                      std::string("Connection: keep-alive, transfer-encoding\r\n"
                                                  "Transfer-Encoding: chunked\r\n")}) {
        RawSocket client;
        ASSERT_TRUE(client.connect(m_proxyPort));
        const std::string body = fields.find("chunked") != std::string::npos ? chunked({"hello"}) : "hello";
        client.send(request(host, "POST", "/upload", fields) + body + smuggled);
        std::string reply;
        EXPECT_TRUE(client.readToEnd(reply, kPatience)) << fields;
        EXPECT_EQ(statusOf(reply), 400) << fields << reply;
        EXPECT_EQ(reply.find("HTTP/1.1", 5), std::string::npos) << "a second answer: " << reply;
    }
    EXPECT_EQ(host.connections(), 0);

    const auto fromHost = proxyRequest(m_proxyPort, "GET", "http://" + origin(host) + "/framed");
    ASSERT_TRUE(fromHost);
    EXPECT_EQ(fromHost->status, 502);
    EXPECT_NE(fromHost->body.find("Content-Length"), std::string::npos) << fromHost->body;
}

TEST_F(Forwarding, BytesAfterAnAnswerCloseTheKeptHostConnection)
{
    for (const std::string method : {"GET", "HEAD"}) {
        std::promise<void> strayNow;
        std::promise<void> straySent;
        ScriptedHost host([&](ScriptedHost::Connection &connection) {
            if (connection.index() > 0) {
                while (connection.next())
                    connection.send(answer("fresh"));
                return;
            }
            if (!connection.next())
                return;
            // A HEAD answer whose body follows anyway, or a GET answer with more after it.
            connection.send(method == "HEAD" ? "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\n" : answer("first"));
            strayNow.get_future().wait_for(kPatience);
            connection.send(method == "HEAD" ? "poisoned" : answer("poisoned")); // a body, or a whole answer
            straySent.set_value();
            while (connection.next())
                connection.send(answer("reused"));
        });
        HttpClient client("127.0.0.1", m_proxyPort);
        client.set_keep_alive(true);
        const auto first = method == "HEAD" ? client.send("HEAD", "http://" + origin(host) + "/a", {}, {}, {})
                                            : client.Get("http://" + origin(host) + "/a");
        ASSERT_TRUE(first) << method;
        EXPECT_EQ(first->status, 200) << method;
        strayNow.set_value();
        ASSERT_EQ(straySent.get_future().wait_for(kPatience), std::future_status::ready);
        const auto second = client.Post("http://" + origin(host) + "/b", "payload", "text/plain");
        ASSERT_TRUE(second) << method;
        EXPECT_EQ(second->status, 200) << method << " " << second->body;
        EXPECT_EQ(second->body, "fresh") << method;
    }
}

// Many clients wait on a slow host at once, on every I/O thread, and leave in an order of their own,
// some at once and some after their watch is armed: each host connection is let go and each exchange is
// recorded as gone, while the one client that stays still gets its answer.
TEST_F(Forwarding, ClientsThatLeaveASlowHostInAnyOrderEachLetGoOfTheirHostConnection)
{
    constexpr int kLeaving = 16;
    std::atomic<int> freed {0};
    std::promise<void> othersGone;
    std::shared_future<void> othersLeft = othersGone.get_future().share();
    ScriptedHost host([&](ScriptedHost::Connection &connection) {
        const auto request = connection.next();
        if (!request)
            return;
        if (request->line().find("/stays") != std::string::npos) {
            othersLeft.wait_for(kPatience * 2);
            connection.send(answer("still here"));
            connection.waitForClose(kPatience);
            return;
        }
        if (connection.waitForClose(kPatience * 2))
            ++freed;
    });
    RawSocket staying;
    ASSERT_TRUE(staying.connect(m_proxyPort));
    ASSERT_TRUE(staying.send(request(host, "GET", "/stays")));
    std::vector<std::unique_ptr<RawSocket>> leaving;
    for (int i = 0; i < 12; ++i) {
        leaving.push_back(std::make_unique<RawSocket>());
        ASSERT_TRUE(leaving.back()->connect(m_proxyPort));
        ASSERT_TRUE(leaving.back()->send(request(host, "GET", "/slow/" + std::to_string(i))));
    }
    ASSERT_TRUE(testsupport::waitFor([&] { return host.connections() == 13; }));
    for (const int i : {5, 0, 11, 3, 8, 1}) // before their watches are armed
        leaving[static_cast<std::size_t>(i)]->close();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (const int i : {2, 10, 4, 9, 7, 6})
        leaving[static_cast<std::size_t>(i)]->close();
    // A second wave, come after every watch of the first was armed.
    for (int i = 12; i < kLeaving; ++i) {
        leaving.push_back(std::make_unique<RawSocket>());
        ASSERT_TRUE(leaving.back()->connect(m_proxyPort));
        ASSERT_TRUE(leaving.back()->send(request(host, "GET", "/slow/" + std::to_string(i))));
    }
    ASSERT_TRUE(testsupport::waitFor([&] { return host.connections() == kLeaving + 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (int i = kLeaving - 1; i >= 12; --i)
        leaving[static_cast<std::size_t>(i)]->close();
    EXPECT_TRUE(testsupport::waitFor([&] { return freed == kLeaving; })) << freed;
    othersGone.set_value();
    const std::string stayed = readAnswer(staying);
    EXPECT_EQ(statusOf(stayed), 200) << stayed;
    EXPECT_EQ(bodyOf(stayed), "still here");
    EXPECT_TRUE(testsupport::waitFor([&] {
        int gone = 0;
        for (const auto &record : history())
            gone += record.path.rfind("/slow/", 0) == 0 && record.status == 499 ? 1 : 0;
        return gone == kLeaving;
    }));
}
