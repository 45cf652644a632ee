// The proxy port and the traffic requests against a real stand-in engine process.
#include "core/engine_options.h"
#include "standin-engine/engine_process.h"
#include "standin-engine/test_upstream.h"

#include "support/test_support.h"

#include "engine/records/engine_records.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

using standintest::EngineProcess;
using standintest::EventReader;
using standintest::proxyRequest;

namespace {

std::string routeJson(const std::string &id, const std::string &method, const std::string &path, int status,
                      const std::string &body, int latency = 0, bool active = true)
{
    return encodeRecord(standintest::mockRoute(id, method, path, status, body, latency, active));
}

std::vector<TrafficRecord> history(EngineProcess &engine, const std::string &query)
{
    const auto reply = engine.client()->Get("/traffic" + query);
    EXPECT_TRUE(reply);
    auto records = decodeRecord<std::vector<TrafficRecord>>(reply ? reply->body : "");
    EXPECT_TRUE(records) << (reply ? reply->body : "");
    return records.value_or(std::vector<TrafficRecord> {});
}

class RunningProxy : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_engine = std::make_unique<EngineProcess>(m_dir.path(), QStringList {"--autostart"});
        m_engine->setEnvironment(standin::kTestSavePeriodVariable, "20");
        ASSERT_TRUE(m_engine->start());
        const std::string routes = "[" + routeJson("r-users", "GET", "/v2/users/:id/profile", 200,
                                                   R"({"id":"usr_01"})", 40)
                                   + "," + routeJson("r-off", "GET", "/v2/off", 200, "{}", 0, false) + ","
                                   + routeJson("r-make", "POST", "/v2/users", 201, R"({"created":true})") + "]";
        ASSERT_TRUE(m_engine->client()->Post("/routes", routes, "application/json"));
        m_proxyPort = m_engine->proxyPort();
        ASSERT_GT(m_proxyPort, 0);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<EngineProcess> m_engine;
    int m_proxyPort = 0;
};

} // namespace

TEST_F(RunningProxy, ParamRouteAnswersWithItsStatusBodyAndLatency)
{
    const auto started = std::chrono::steady_clock::now();
    const auto reply = proxyRequest(m_proxyPort, "GET", "http://api.test/v2/users/usr_42/profile");
    const auto elapsed = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->body, R"({"id":"usr_01"})");
    EXPECT_EQ(reply->get_header_value("Content-Type"), "application/json");
    EXPECT_GE(elapsed, std::chrono::milliseconds(40));

    const auto records = history(*m_engine, "?limit=10");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].injected);
    EXPECT_EQ(records[0].method, "GET");
    EXPECT_EQ(records[0].host, "api.test");
    EXPECT_EQ(records[0].path, "/v2/users/usr_42/profile");
    EXPECT_GE(records[0].latencyMs, 40);
}

TEST_F(RunningProxy, UnmatchedInactiveAndWrongMethodGoToTheRealHostNotToAMock)
{
    // api.test and other.test resolve nowhere, so the real host's side fails with a 502.
    for (const auto &[method, url] : std::vector<std::pair<std::string, std::string>> {
             {"GET", "http://api.test/v2/off"},
             {"GET", "http://api.test/v2/users/7"}, // one segment short of the :id/profile route
             {"DELETE", "http://api.test/v2/users"},
             {"GET", "http://other.test/v2/users/7/profile"}}) {
        const auto reply = proxyRequest(m_proxyPort, method, url);
        ASSERT_TRUE(reply) << url;
        EXPECT_EQ(reply->status, 502) << url;
        EXPECT_TRUE(decodeRecord<ErrorReply>(reply->body)) << reply->body;
    }
    standintest::TestUpstream upstream([](const standintest::TestUpstream::Request &request,
                                          standintest::TestUpstream::Reply &reply) {
        reply.body = R"({"real":")" + request.method + " " + request.target + R"("})";
        reply.headers = {{"Content-Type", "application/json"}};
    });
    const std::string host = "localhost:" + std::to_string(upstream.port());
    const auto real = proxyRequest(m_proxyPort, "GET", "http://" + host + "/v2/users/7?x=1");
    ASSERT_TRUE(real);
    EXPECT_EQ(real->status, 200);
    EXPECT_EQ(real->body, R"({"real":"GET /v2/users/7?x=1"})");
    EXPECT_EQ(upstream.requests(), 1);

    const auto records = history(*m_engine, "?limit=10");
    ASSERT_EQ(records.size(), 5u);
    for (const auto &record : records)
        EXPECT_FALSE(record.injected);
    EXPECT_EQ(records[0].host, host);
    EXPECT_EQ(records[0].status, 200);
    EXPECT_EQ(records[0].respBody.value_or(""), real->body);
}

TEST_F(RunningProxy, BinaryBodiesAreRecordedAsAsciiAndRealTextStaysWhole)
{
    std::string binary = "\x89PNG\r\n\x1A\n";
    std::uint32_t seed = 7;
    while (binary.size() < 4096) {
        seed = seed * 1664525u + 1013904223u;
        binary.push_back(static_cast<char>(seed >> 24));
    }
    const std::string text = R"({"name":"\xE0\xA4\xA8\xE0\xA4\xAE\xE0\xA4\xB8\xE0\xA5\x8D\xE0\xA4\xA4\xE0\xA5\x87 \xF0\x9F\x98\x80"})";
    standintest::TestUpstream upstream([&](const standintest::TestUpstream::Request &request,
                                           standintest::TestUpstream::Reply &reply) {
        reply.body = request.target == "/logo.png" ? binary : text;
    });
    const std::string base = "http://localhost:" + std::to_string(upstream.port());
    const auto image = proxyRequest(m_proxyPort, "POST", base + "/logo.png", binary);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->body, binary);
    const auto named = proxyRequest(m_proxyPort, "POST", base + "/name", text);
    ASSERT_TRUE(named);

    const auto records = history(*m_engine, "?limit=10");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].reqBody.value_or(""), text);
    EXPECT_EQ(records[0].respBody.value_or(""), text);
    const std::string replacement = "\xEF\xBF\xBD";
    for (const auto &body : {records[1].reqBody.value_or(""), records[1].respBody.value_or("")}) {
        EXPECT_EQ(body.substr(0, 6), replacement + "PNG");
        size_t replaced = 0;
        for (size_t i = 0; i < body.size(); ++i) {
            if (static_cast<unsigned char>(body[i]) < 0x80)
                continue;
            ASSERT_EQ(body.compare(i, 3, replacement), 0) << "a character other than U+FFFD at " << i;
            ++replaced;
            i += 2;
        }
        // Each byte of the original is one character of the record.
        EXPECT_EQ(body.size() - 2 * replaced, binary.size());
    }
}

TEST_F(RunningProxy, TimeoutStepClosesTheConnectionUnanswered)
{
    WireRoute route;
    route.id = "r-gone";
    route.method = "GET";
    route.host = "api.test";
    route.path = "/gone";
    WireStep step;
    step.override = "timeout";
    route.sequence = std::vector<WireStep> {step};
    ASSERT_EQ(m_engine->client()->Post("/routes", encodeRecord(std::vector<WireRoute> {route}), "application/json")->status,
              200);
    standintest::RawSocket socket;
    ASSERT_TRUE(socket.connect(m_proxyPort));
    socket.send("GET http://api.test/gone HTTP/1.1\r\nHost: api.test\r\n\r\n");
    std::string answer;
    // Closed by the engine, long before a held request would have been answered.
    EXPECT_TRUE(socket.readToEnd(answer, std::chrono::seconds(5)));
    EXPECT_EQ(answer, "");
    const auto records = history(*m_engine, "?limit=1");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].path, "/gone");
    EXPECT_EQ(records[0].status, 502);
}

TEST_F(RunningProxy, RefusesToProxyToItsOwnControlPort)
{
    const std::string url = "http://127.0.0.1:" + std::to_string(m_engine->controlPort()) + "/control/shutdown";
    const auto reply = proxyRequest(m_proxyPort, "POST", url);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 403);
    EXPECT_TRUE(m_engine->client()->Get("/health")); // still alive
    EXPECT_EQ(m_engine->process().state(), QProcess::Running);
}

TEST_F(RunningProxy, HistoryPagesFiltersFetchesClearsAndReplays)
{
    for (int i = 1; i <= 5; ++i)
        ASSERT_TRUE(proxyRequest(m_proxyPort, "GET", "http://api.test/v2/users/u" + std::to_string(i) + "/profile"));
    ASSERT_TRUE(proxyRequest(m_proxyPort, "POST", "http://api.test/v2/users", R"({"name":"x"})"));

    const auto newest = history(*m_engine, "?limit=2");
    ASSERT_EQ(newest.size(), 2u);
    EXPECT_EQ(newest[0].method, "POST"); // newest first
    EXPECT_EQ(newest[1].path, "/v2/users/u5/profile");

    const auto older = history(*m_engine, "?limit=2&before=" + newest[1].id);
    ASSERT_EQ(older.size(), 2u);
    EXPECT_EQ(older[0].path, "/v2/users/u4/profile");
    EXPECT_EQ(older[1].path, "/v2/users/u3/profile");

    const auto filtered = history(*m_engine, "?limit=100&filter=U2%2Fprofile");
    ASSERT_EQ(filtered.size(), 1u);
    EXPECT_EQ(filtered[0].path, "/v2/users/u2/profile");
    EXPECT_TRUE(history(*m_engine, "?limit=100&before=t-does-not-exist").empty());

    const auto one = m_engine->client()->Get("/traffic/" + newest[0].id);
    ASSERT_TRUE(one);
    const auto record = decodeRecord<TrafficRecord>(one->body);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->reqBody.value_or(""), R"({"name":"x"})");
    EXPECT_EQ(record->respBody.value_or(""), R"({"created":true})");
    EXPECT_EQ(m_engine->client()->Get("/traffic/t-999999")->status, 404);

    EventReader events(*m_engine);
    ASSERT_TRUE(events.waitForPayload("\"hello\""));
    const auto replayed = m_engine->client()->Post("/replay/" + newest[1].id);
    ASSERT_TRUE(replayed);
    EXPECT_EQ(replayed->status, 200);
    ASSERT_TRUE(events.waitForPayload("/v2/users/u5/profile"));
    EXPECT_EQ(history(*m_engine, "?limit=100").size(), 7u);
    EXPECT_EQ(m_engine->client()->Post("/replay/t-999999")->status, 404);

    const auto cleared = m_engine->client()->Delete("/traffic");
    ASSERT_TRUE(cleared);
    EXPECT_EQ(cleared->status / 100, 2);
    EXPECT_TRUE(history(*m_engine, "?limit=100").empty());
}

TEST_F(RunningProxy, ReplayStreamsALargeAnswerLikeTheProxyDid)
{
    const std::string large(5 * 1024 * 1024, 'x'); // past any limit on a body held whole
    standintest::TestUpstream upstream([&large](const standintest::TestUpstream::Request &request,
                                                standintest::TestUpstream::Reply &reply) {
        reply.body = request.header("X-Replay-Mark") + large;
    });
    const std::string url = "http://localhost:" + std::to_string(upstream.port()) + "/large";
    standintest::HttpClient client("127.0.0.1", m_proxyPort);
    const auto first = client.Get(url, standintest::Headers {{"X-Replay-Mark", "m:"}});
    ASSERT_TRUE(first);
    ASSERT_EQ(first->body.size(), large.size() + 2);
    const auto records = history(*m_engine, "?limit=1");
    ASSERT_EQ(records.size(), 1u);

    const auto replayed = m_engine->client()->Post("/replay/" + records[0].id);
    ASSERT_TRUE(replayed);
    ASSERT_EQ(replayed->status, 200) << replayed->body;
    const auto again = decodeRecord<TrafficRecord>(replayed->body);
    ASSERT_TRUE(again) << replayed->body;
    EXPECT_EQ(again->status, 200);
    EXPECT_FALSE(again->injected);
    EXPECT_EQ(again->respBody.value_or("").substr(0, 4), "m:xx"); // the recorded header went along
    EXPECT_EQ(upstream.requests(), 2);
}

TEST_F(RunningProxy, TimesAreShortLocalTextsWhileTheFileKeepsIsoTimes)
{
    EventReader events(*m_engine);
    ASSERT_TRUE(events.waitForPayload("\"hello\""));
    ASSERT_TRUE(proxyRequest(m_proxyPort, "GET", "http://api.test/v2/users/u1/profile"));
    ASSERT_TRUE(events.waitForPayload("/v2/users/u1/profile"));

    const std::regex clock(R"(\d\d:\d\d:\d\d\.\d\d\d)");
    std::optional<EngineEvent> request;
    for (const auto &payload : events.payloads()) {
        const auto event = decodeRecord<EngineEvent>(payload);
        ASSERT_TRUE(event) << payload;
        EXPECT_TRUE(std::regex_match(event->time, clock)) << event->time;
        if (event->type == "request")
            request = event;
    }
    ASSERT_TRUE(request && request->request);
    EXPECT_EQ(request->request->time, request->time);

    const auto records = history(*m_engine, "?limit=10");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].time, request->time); // today: the same clock time
    const auto one = m_engine->client()->Get("/traffic/" + records[0].id);
    ASSERT_TRUE(one);
    EXPECT_EQ(decodeRecord<TrafficRecord>(one->body).value_or(TrafficRecord {}).time, request->time);

    // The file keeps the full time, so that another day can still be told.
    const std::string file = m_dir.filePath("history.json").toStdString();
    std::string saved;
    ASSERT_TRUE(testsupport::waitFor([&] {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        saved = text.str();
        return saved.find(records[0].id) != std::string::npos;
    }));
    const auto stored = decodeRecord<TrafficRecord>(saved.substr(0, saved.find('\n')));
    ASSERT_TRUE(stored) << saved;
    EXPECT_TRUE(std::regex_match(stored->time, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
        << stored->time;
}

TEST(StoredHistory, RecordsOfOtherDaysFromAnEarlierRunSayTheirDayAndStillPage)
{
    QTemporaryDir dir;
    // Written by an earlier engine: oldest first, ISO times.
    {
        std::ofstream out(dir.filePath("history.json").toStdString());
        out << R"({"id":"t-1","time":"2024-03-05T10:20:30.000Z","method":"GET","host":"a.test","path":"/one",)"
               R"("status":200,"latencyMs":3,"injected":true})" "\n"
            << R"({"id":"t-2","time":"2024-03-06T10:20:30.000Z","method":"GET","host":"a.test","path":"/two",)"
               R"("status":200,"latencyMs":3,"injected":true})" "\n"
            << R"({"id":"t-3","time":"not a time","method":"GET","host":"a.test","path":"/three",)"
               R"("status":200,"latencyMs":3,"injected":true})" "\n";
    }
    // The date of noon UTC on 2024-03-05 and 2024-03-06 in this machine's zone.
    const auto localDate = [](std::time_t utc) {
        std::tm fields {};
        localtime_r(&utc, &fields);
        char text[16];
        std::strftime(text, sizeof text, "%Y-%m-%d", &fields);
        return std::string(text);
    };
    EngineProcess engine(dir.path());
    ASSERT_TRUE(engine.start());
    const auto newest = history(engine, "?limit=2");
    ASSERT_EQ(newest.size(), 2u);
    EXPECT_EQ(newest[0].time, "not a time");
    EXPECT_EQ(newest[1].time, localDate(1709720430)); // 2024-03-06T10:20:30Z
    const auto older = history(engine, "?limit=2&before=" + newest[1].id);
    ASSERT_EQ(older.size(), 1u);
    EXPECT_EQ(older[0].id, "t-1");
    EXPECT_EQ(older[0].time, localDate(1709634030)); // 2024-03-05T10:20:30Z
}

TEST_F(RunningProxy, StopAndStartMoveTheProxyFlag)
{
    auto client = m_engine->client();
    ASSERT_EQ(client->Post("/control/stop")->status, 200);
    EXPECT_FALSE(decodeRecord<EngineHealth>(client->Get("/health")->body)->proxyRunning);
    EXPECT_FALSE(proxyRequest(m_proxyPort, "GET", "http://api.test/v2/users/1/profile"));
    ASSERT_EQ(client->Post("/control/start")->status, 200);
    const auto health = decodeRecord<EngineHealth>(client->Get("/health")->body);
    EXPECT_TRUE(health->proxyRunning);
    EXPECT_EQ(health->proxyPort, m_proxyPort); // the port the app was told stays the same
    EXPECT_TRUE(proxyRequest(m_proxyPort, "GET", "http://api.test/v2/users/1/profile"));
}

TEST_F(RunningProxy, PassThroughRoutesForwardToTheRealHost)
{
    standintest::TestUpstream upstream([](const standintest::TestUpstream::Request &req,
                                          standintest::TestUpstream::Reply &reply) {
        if (req.target == "/empty") {
            reply.status = 404;
            return;
        }
        const std::string query = req.target.substr(req.target.find('?') + 1);
        reply.body = "upstream saw " + req.target.substr(0, req.target.find('?')) + "?" + query.substr(2) + " "
                     + req.header("X-Probe");
        reply.headers.emplace_back("Content-Type", "text/plain");
    });
    const int upstreamPort = upstream.port();

    WireRoute forwarding;
    forwarding.id = "r-fwd";
    forwarding.method = "GET";
    forwarding.host = "127.0.0.1:" + std::to_string(upstreamPort);
    forwarding.path = "/real/:id";
    forwarding.passThrough = true;
    forwarding.body = "the mock body is not used";
    ASSERT_TRUE(m_engine->client()->Post("/routes", encodeRecord(std::vector<WireRoute> {forwarding}),
                                         "application/json"));

    standintest::HttpClient client("127.0.0.1", m_proxyPort);
    const auto reply = client.Get("http://127.0.0.1:" + std::to_string(upstreamPort) + "/real/7?q=1",
                                  {{"X-Probe", "yes"}});
    forwarding.path = "/empty";
    ASSERT_TRUE(m_engine->client()->Post("/routes", encodeRecord(std::vector<WireRoute> {forwarding}),
                                         "application/json"));
    const auto empty = client.Get("http://127.0.0.1:" + std::to_string(upstreamPort) + "/empty");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->body, "upstream saw /real/7?1 yes");
    EXPECT_EQ(reply->get_header_value("Content-Type"), "text/plain");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->status, 404);
    EXPECT_EQ(empty->body, ""); // the upstream's own answer, not one of ours
    const auto records = history(*m_engine, "?limit=2");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_FALSE(records[1].injected);
    EXPECT_EQ(records[1].query.value_or(""), "q=1");
}

TEST_F(RunningProxy, ActiveChaosPresetInjectsItsFaults)
{
    // A profile may carry presets of its own; these two always fire.
    const std::string profile = R"({"kestrionProfile":1,"routes":[)"
                                + routeJson("r-a", "GET", "/a", 200, "fine") + "," + routeJson("r-b", "GET", "/b", 200, "fine")
                                + R"(],"chaos":{"presets":[
        {"id":"down","name":"Down","faults":[{"kind":"status","probability":1,"status":503,"body":"chaos!"}]},
        {"id":"gone","name":"Gone","faults":[{"kind":"drop","probability":1}]}],"activeId":"down"}})";
    ASSERT_EQ(m_engine->client()->Post("/profile", profile, "application/json")->status, 200);
    const auto down = proxyRequest(m_proxyPort, "GET", "http://api.test/a");
    ASSERT_TRUE(down);
    EXPECT_EQ(down->status, 503);
    EXPECT_EQ(down->body, "chaos!");

    ASSERT_EQ(m_engine->client()->Post("/chaos/active?id=gone")->status, 200);
    // A dropped connection is cut without an answer; the history still shows the exchange.
    EXPECT_FALSE(proxyRequest(m_proxyPort, "GET", "http://api.test/b"));
    const auto records = history(*m_engine, "?limit=1");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].path, "/b");
    EXPECT_EQ(records[0].status, 502);
}

namespace {

std::string routesFor(const std::string &host, const std::vector<std::pair<std::string, std::string>> &methodsAndPaths)
{
    std::vector<WireRoute> routes;
    for (const auto &[method, path] : methodsAndPaths) {
        WireRoute route;
        route.id = "r-" + std::to_string(routes.size());
        route.method = method;
        route.host = host;
        route.path = path;
        route.body = "from the mock";
        routes.push_back(route);
    }
    return encodeRecord(routes);
}

} // namespace

TEST_F(RunningProxy, ReplaySendsExactlyWhatTheClientSentOrNothing)
{
    std::mutex mutex;
    std::vector<standintest::TestUpstream::Request> received;
    standintest::TestUpstream upstream([&](const standintest::TestUpstream::Request &request,
                                           standintest::TestUpstream::Reply &reply) {
        std::lock_guard lock(mutex);
        received.push_back(request);
        reply.body = "ok";
    });
    const auto receivedCount = [&] {
        std::lock_guard lock(mutex);
        return received.size();
    };
    const std::string host = "localhost:" + std::to_string(upstream.port());
    const auto newestId = [&] { return history(*m_engine, "?limit=1").at(0).id; };

    // Bytes that are no text, and a header given twice, passed through to the host.
    const std::string binary("\x89PNG\r\n\x1a\n\x00\xff\xfe", 11);
    standintest::RawSocket client;
    ASSERT_TRUE(client.connect(m_proxyPort));
    ASSERT_TRUE(client.send("POST http://" + host + "/upload?x=1 HTTP/1.1\r\nHost: " + host
                            + "\r\nX-Tag: one\r\nContent-Type: application/octet-stream\r\nX-Tag: two\r\n"
                              "Content-Length: 11\r\nConnection: close\r\n\r\n" + binary));
    std::string answer;
    ASSERT_TRUE(client.readToEnd(answer, std::chrono::seconds(10)));
    ASSERT_EQ(receivedCount(), 1u);
    const std::string binaryId = newestId();
    const auto replayed = m_engine->client()->Post("/replay/" + binaryId);
    ASSERT_TRUE(replayed);
    ASSERT_EQ(replayed->status, 200) << replayed->body;
    ASSERT_EQ(receivedCount(), 2u);
    const auto sameAsFirst = [&](size_t index) {
        std::lock_guard lock(mutex);
        EXPECT_EQ(received[index].method, received[0].method);
        EXPECT_EQ(received[index].target, "/upload?x=1");
        // The Via entry is this engine's own mark, new in each run, not the client's.
        const auto clients = [](auto headers) {
            std::erase_if(headers, [](const auto &field) { return field.first == "Via"; });
            return headers;
        };
        EXPECT_EQ(clients(received[index].headers), clients(received[0].headers));
        EXPECT_EQ(received[index].body, binary);
        EXPECT_EQ(received[index].count("X-Tag"), 2);
    };
    sameAsFirst(1);

    // A body larger than the history shows, taken whole by a mock, reaches the host whole once no
    // route answers it.
    const std::string json = "{\"items\":\"" + std::string(31200, 'j') + "\"}";
    ASSERT_EQ(m_engine->client()->Post("/routes", routesFor(host, {{"POST", "/big"}}), "application/json")->status, 200);
    standintest::HttpClient proxied("127.0.0.1", m_proxyPort);
    const auto mocked = proxied.Post("http://" + host + "/big", json, "application/json");
    ASSERT_TRUE(mocked);
    EXPECT_EQ(mocked->body, "from the mock");
    const std::string jsonId = newestId();
    ASSERT_EQ(m_engine->client()->Post("/routes", "[]", "application/json")->status, 200);
    ASSERT_EQ(m_engine->client()->Post("/replay/" + jsonId)->status, 200);
    ASSERT_EQ(receivedCount(), 3u);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(received[2].body, json);
        EXPECT_EQ(received[2].header("Content-Type"), "application/json");
    }

    // The same body passed through to the host is kept whole for a replay too.
    ASSERT_EQ(proxied.Post("http://" + host + "/streamed", json, "application/json")->status, 200);
    ASSERT_EQ(receivedCount(), 4u);
    ASSERT_EQ(m_engine->client()->Post("/replay/" + newestId())->status, 200);
    ASSERT_EQ(receivedCount(), 5u);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(received[4].body, json);
    }

    // A body streamed on to the host past what a replay keeps, and one too large to keep: refused,
    // nothing sent.
    ASSERT_EQ(proxied.Post("http://" + host + "/streamed", std::string(1536 * 1024, 's'), "text/plain")->status, 200);
    ASSERT_EQ(receivedCount(), 6u);
    const auto streamed = m_engine->client()->Post("/replay/" + newestId());
    ASSERT_TRUE(streamed);
    EXPECT_EQ(streamed->status, 409);
    EXPECT_NE(streamed->body.find("was not held whole"), std::string::npos) << streamed->body;
    ASSERT_EQ(m_engine->client()->Post("/routes", routesFor(host, {{"POST", "/huge"}}), "application/json")->status, 200);
    ASSERT_TRUE(proxied.Post("http://" + host + "/huge", std::string(1536 * 1024, 'h'), "text/plain"));
    const auto huge = m_engine->client()->Post("/replay/" + newestId());
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->status, 409);
    EXPECT_NE(huge->body.find("more than the 1 MB kept for a replay"), std::string::npos) << huge->body;
    EXPECT_EQ(receivedCount(), 6u);

    // Kept on disk: a new engine on the same data sends the same bytes again.
    m_engine.reset();
    m_engine = std::make_unique<EngineProcess>(m_dir.path(), QStringList {"--autostart"});
    ASSERT_TRUE(m_engine->start());
    ASSERT_EQ(m_engine->client()->Post("/routes", "[]", "application/json")->status, 200);
    const auto again = m_engine->client()->Post("/replay/" + binaryId);
    ASSERT_TRUE(again);
    ASSERT_EQ(again->status, 200) << again->body;
    ASSERT_EQ(receivedCount(), 7u);
    sameAsFirst(6);

    // Cleared traffic takes the kept requests with it.
    ASSERT_EQ(m_engine->client()->Delete("/traffic")->status / 100, 2);
    std::error_code ec;
    size_t keptFiles = 0;
    for (const auto &entry : std::filesystem::directory_iterator(m_dir.path().toStdString() + "/replay", ec))
        keptFiles += std::filesystem::file_size(entry.path()) > 0 ? 1 : 0;
    EXPECT_EQ(keptFiles, 0u);
}

TEST_F(RunningProxy, ReplaysToAHostThatNeverAnswersLeaveTheControlPortFree)
{
    // Takes connections into its backlog and never reads or answers them.
    boost::asio::io_context context;
    auto silent = std::make_unique<boost::asio::ip::tcp::acceptor>(
        context, boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
    const std::string host = "localhost:" + std::to_string(silent->local_endpoint().port());
    ASSERT_EQ(m_engine->client()->Post("/routes", routesFor(host, {{"GET", "/slow"}}), "application/json")->status, 200);
    ASSERT_TRUE(proxyRequest(m_proxyPort, "GET", "http://" + host + "/slow"));
    const std::string id = history(*m_engine, "?limit=1").at(0).id;
    ASSERT_EQ(m_engine->client()->Post("/routes", "[]", "application/json")->status, 200);

    constexpr int kReplays = 24;
    std::atomic<int> refused {0};
    std::atomic<int> answered {0};
    std::vector<std::thread> replays;
    for (int i = 0; i < kReplays; ++i) {
        replays.emplace_back([&] {
            auto client = m_engine->client();
            client->set_read_timeout(90, 0);
            const auto reply = client->Post("/replay/" + id);
            if (reply && reply->status == 503 && reply->body.find("too many replays") != std::string::npos)
                ++refused;
            else if (reply && reply->status == 200)
                ++answered;
        });
    }
    EXPECT_TRUE(testsupport::waitFor([&] { return refused == kReplays - 4; }, 10000)) << refused;
    // The replays that run hold none of the control workers.
    for (int i = 0; i < 20; ++i) {
        const auto routes = m_engine->client()->Get("/routes");
        ASSERT_TRUE(routes);
        EXPECT_EQ(routes->status, 200);
        ASSERT_TRUE(m_engine->client()->Post("/routes", "[]", "application/json"));
    }
    EXPECT_EQ(answered, 0);

    silent.reset(); // the host goes: the waiting replays end
    for (auto &replay : replays)
        replay.join();
    EXPECT_EQ(answered, 4);
    EXPECT_EQ(m_engine->client()->Post("/replay/" + id)->status, 200); // places are free again
}
