// Events as the stream delivers them, and the live traffic buffer they feed.
#include "engine/engine_client.h"
#include "platform/preferences.h"
#include "support/test_support.h"
#include "support/temp_preferences.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string requestEvent(const std::string &id, const std::string &method = "GET", bool injected = false,
                         const std::string &path = "/v1/items")
{
    return R"({"type":"request","time":"2026-12-07T10:00:00Z","request":{"id":")" + id
           + R"(","time":"2026-12-07T10:00:00Z","method":")" + method
           + R"(","host":"api.test","path":")" + path + R"(","status":201,"latencyMs":12,"injected":)"
           + (injected ? "true" : "false") + "}}";
}

const char HealthJson[] = R"({"status":"ok","version":"1.0","pid":42,"uptimeSeconds":3.5,"proxyRunning":false,)"
                          R"("proxyPort":8899,"controlPort":1234,"memoryBytes":9007199254740993,"goroutines":7,"routeCount":2})";

class EventHandling : public ::testing::Test
{
protected:
    // The fresh mark lasts FreshMs in the app; its length is checked against a shorter one here.
    static constexpr int TestFreshMs = 250;

    void SetUp() override
    {
        m_client.setTrafficFlushDelayMs(20);
        m_client.setTrafficFreshMs(TestFreshMs);
    }

    void sendRequests(int count, int firstId = 0)
    {
        for (int i = firstId; i < firstId + count; ++i)
            m_client.handleEvent(requestEvent("t" + std::to_string(i)));
    }

    // Before the client exists, which reads the proxy port from the preferences.
    testsupport::TemporaryPreferencesDir m_dir;
    EngineClient m_client;
};

} // namespace

TEST_F(EventHandling, RequestEventBecomesAFreshEntryAfterTheFlush)
{
    EXPECT_EQ(EngineClient().trafficFlushDelayMs(), 100);
    EXPECT_EQ(EngineClient().trafficFreshMs(), 800);
    m_client.handleEvent(requestEvent("t1", "patch", true));
    EXPECT_TRUE(m_client.traffic().isEmpty()); // buffered, not yet in the list
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.traffic().size() == 1; }, 1000));

    const TrafficEntry &entry = m_client.traffic().first();
    EXPECT_EQ(entry.id, "t1");
    EXPECT_EQ(entry.timestamp, "2026-12-07T10:00:00Z");
    EXPECT_EQ(entry.method, HTTPMethod::PATCH);
    EXPECT_EQ(entry.host, "api.test");
    EXPECT_EQ(entry.path, "/v1/items");
    EXPECT_EQ(entry.status, 201);
    EXPECT_EQ(entry.latency, 12);
    EXPECT_TRUE(entry.injected);
    EXPECT_TRUE(entry.fresh);
    EXPECT_TRUE(testsupport::waitFor([&] { return !m_client.traffic().first().fresh; }, 2000));
}

TEST_F(EventHandling, MethodOutsideTheSixBecomesGet)
{
    m_client.handleEvent(requestEvent("t1", "HEAD"));
    m_client.flushTraffic();
    ASSERT_EQ(m_client.traffic().size(), 1);
    EXPECT_EQ(m_client.traffic().first().method, HTTPMethod::GET);
}

TEST_F(EventHandling, EventsWithinOneBatchAreFlushedOnceInArrivalOrder)
{
    QSignalSpy flushed(&m_client, &EngineClient::trafficFlushed);
    sendRequests(3);
    ASSERT_TRUE(testsupport::waitFor([&] { return m_client.traffic().size() == 3; }, 1000));
    EXPECT_EQ(flushed.count(), 1);
    EXPECT_EQ(flushed.first().value(0).toInt(), 3);
    EXPECT_EQ(m_client.traffic()[0].id, "t0");
    EXPECT_EQ(m_client.traffic()[2].id, "t2");
}

TEST_F(EventHandling, KeepsNewest300AfterFlush)
{
    sendRequests(299);
    m_client.flushTraffic();
    ASSERT_EQ(m_client.traffic().size(), 299);

    QSignalSpy flushed(&m_client, &EngineClient::trafficFlushed);
    sendRequests(5, 299);
    m_client.flushTraffic();
    ASSERT_EQ(m_client.traffic().size(), 300);
    EXPECT_EQ(m_client.traffic().first().id, "t4"); // t0...t3 are gone
    EXPECT_EQ(m_client.traffic().last().id, "t303");
    ASSERT_EQ(flushed.count(), 1);
    EXPECT_EQ(flushed.first().value(0).toInt(), 5);
    EXPECT_EQ(flushed.first().value(1).toInt(), 4);
    EXPECT_EQ(m_client.pendingTrafficCount(), 0);
}

TEST_F(EventHandling, OneBatchLargerThanTheListKeepsItsNewest300)
{
    sendRequests(10);
    m_client.flushTraffic();
    sendRequests(301, 10);
    m_client.flushTraffic();
    ASSERT_EQ(m_client.traffic().size(), 300);
    EXPECT_EQ(m_client.traffic().first().id, "t11");
    EXPECT_EQ(m_client.traffic().last().id, "t310");
}

TEST_F(EventHandling, FreshMarkClearsForTheWholeBatchIncludingAnOlderEntryWithTheSameId)
{
    m_client.handleEvent(requestEvent("dup"));
    m_client.flushTraffic();
    // Let the first batch's mark clear, then bring back the same id.
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.traffic().first().fresh; }, 2000));
    m_client.handleEvent(requestEvent("x"));
    m_client.handleEvent(requestEvent("dup"));
    m_client.flushTraffic();
    ASSERT_EQ(m_client.traffic().size(), 3);
    EXPECT_TRUE(m_client.traffic()[1].fresh);
    EXPECT_TRUE(m_client.traffic()[2].fresh);

    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_client.traffic()[2].fresh; }, 2000));
    EXPECT_GE(clock.elapsed(), TestFreshMs - 100);
    EXPECT_FALSE(m_client.traffic()[1].fresh);
    EXPECT_FALSE(m_client.traffic()[0].fresh);
}

TEST_F(EventHandling, ClearTrafficWithoutEngineEmptiesListAndBuffer)
{
    sendRequests(2);
    m_client.flushTraffic();
    sendRequests(1, 2);
    m_client.clearTraffic();
    EXPECT_TRUE(m_client.traffic().isEmpty());
    EXPECT_EQ(m_client.pendingTrafficCount(), 0);
    m_client.flushTraffic();
    EXPECT_TRUE(m_client.traffic().isEmpty());
    EXPECT_TRUE(m_client.log().isEmpty()); // nothing was sent, so nothing failed
}

TEST_F(EventHandling, ProxyEventsFlipTheFlagAndLogBullets)
{
    m_client.handleEvent(R"({"type":"hello","time":"t"})");
    m_client.handleEvent(R"({"type":"proxy_started","time":"t"})");
    EXPECT_TRUE(m_client.proxyRunning());
    m_client.handleEvent(R"({"type":"proxy_stopped","time":"t"})");
    EXPECT_FALSE(m_client.proxyRunning());
    EXPECT_EQ(m_client.log(), (QStringList{QStringLiteral("\u2022 events connected"),
                                           QStringLiteral("\u2022 proxy started"),
                                           QStringLiteral("\u2022 proxy stopped")}));
}

TEST_F(EventHandling, HealthRecordOfAnEventIsAppliedLast)
{
    m_client.handleEvent(std::string(R"({"type":"proxy_started","time":"t","health":)") + HealthJson + "}");
    EXPECT_FALSE(m_client.proxyRunning());
    ASSERT_TRUE(m_client.health().has_value());
    EXPECT_EQ(m_client.health()->memoryBytes, 9007199254740993);
    EXPECT_EQ(m_client.log(), QStringList{QStringLiteral("\u2022 proxy started")});
    // An event's health record changes neither the status nor the proxy port.
    EXPECT_EQ(m_client.status(), EngineStatus::stopped());
    EXPECT_EQ(m_client.proxyPort(), Preferences::proxyPort());
}

TEST_F(EventHandling, UnknownTypeWithHealthUpdatesHealthOnly)
{
    m_client.setProxyRunning(true);
    m_client.handleEvent(std::string(R"({"type":"tick","time":"t","health":)") + HealthJson + "}");
    EXPECT_FALSE(m_client.proxyRunning());
    EXPECT_EQ(m_client.health()->pid, 42);
    EXPECT_TRUE(m_client.log().isEmpty());
    EXPECT_EQ(m_client.pendingTrafficCount(), 0);
}

TEST_F(EventHandling, SchemaDriftIsRecordedNewestFirstWithTheEventTime)
{
    const std::string drift = R"({"type":"schema_drift","time":"T9","drift":{"key":"GET api.test/a","trafficId":"tr1",)"
                              R"("breaking":2,"changes":[{"path":"$.id","kind":"type_changed","severity":"breaking"}]}})";
    m_client.handleEvent(R"({"type":"schema_drift","time":"T1"})"); // no finding: nothing happens
    EXPECT_TRUE(m_client.schemaDrifts().isEmpty());
    m_client.handleEvent(drift);
    ASSERT_EQ(m_client.schemaDrifts().size(), 1);
    EXPECT_EQ(m_client.schemaDrifts().first().time, "T9");
    EXPECT_EQ(m_client.schemaDrifts().first().trafficId, "tr1");
    EXPECT_EQ(m_client.unseenDrift(), 1);
    EXPECT_EQ(m_client.log().last(), QStringLiteral("\u26A0\uFE0E schema drift GET api.test/a \u2014 2 breaking"));

    for (int i = 0; i < 200; ++i)
        m_client.handleEvent(drift);
    EXPECT_EQ(m_client.schemaDrifts().size(), 200);
    EXPECT_EQ(m_client.unseenDrift(), 201);
}

TEST_F(EventHandling, MalformedEventsChangeNothing)
{
    QSignalSpy anyLog(&m_client, &EngineClient::logChanged);
    QSignalSpy anyProxy(&m_client, &EngineClient::proxyRunningChanged);
    for (const char *payload : {
             "", "not json", "{", "[]", R"({"time":"t"})", R"({"type":"hello"})",
             R"({"type":"request","time":"t","request":{"id":"x"}})",
             R"({"type":"request","time":"t","request":{"id":"x","time":"t","method":"GET","host":"h","path":"/","status":"200","latencyMs":1,"injected":false}})",
             R"({"type":"proxy_started","time":"t","health":{"status":"ok"}})",
             R"({"type":"proxy_started","time":1})",
         }) {
        m_client.handleEvent(payload);
    }
    m_client.flushTraffic();
    EXPECT_TRUE(m_client.traffic().isEmpty());
    EXPECT_EQ(anyLog.count(), 0);
    EXPECT_EQ(anyProxy.count(), 0);
    EXPECT_FALSE(m_client.health().has_value());
}

TEST_F(EventHandling, StreamLinesReachTheHandlerWholeWhateverTheChunking)
{
    const std::string event = requestEvent("s1");
    const QByteArray stream = QByteArray("event: message\r\n: comment\r\ndata:") + event.c_str()
                              + "\r\n\r\ndata: \t" + requestEvent("s2").c_str() + " \n\nid: 7\n";
    for (qsizetype i = 0; i < stream.size(); i += 7)
        m_client.ingestEventStream(QByteArrayView(stream).sliced(i, std::min<qsizetype>(7, stream.size() - i)));
    m_client.flushTraffic();
    ASSERT_EQ(m_client.traffic().size(), 2);
    EXPECT_EQ(m_client.traffic()[0].id, "s1");
    EXPECT_EQ(m_client.traffic()[1].id, "s2");
}

TEST_F(EventHandling, DataLineWithUnicodeSeparatorsInsideItsJsonArrivesWhole)
{
    // The engine writes NEL, LS and PS unescaped inside JSON strings; they do not end an event line.
    const std::string path = "/a\xC2\x85" "b\xE2\x80\xA8" "c\xE2\x80\xA9" "d";
    const QByteArray stream = QByteArray("data: ") + requestEvent("u1", "GET", false, path).c_str() + "\n\n";
    m_client.ingestEventStream(stream);
    m_client.flushTraffic();
    ASSERT_EQ(m_client.traffic().size(), 1);
    EXPECT_EQ(m_client.traffic().first().path, path);
}
