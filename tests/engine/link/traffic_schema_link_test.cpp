// History pages that say when they failed, clear and relearn calls that report their answer, and schema
// fetches that neither undo a clear nor lose findings that arrived while they were in flight.
#include "ops_test_support.h"

namespace {

const QByteArray OnePage = R"([{"id":"h1","time":"t","method":"GET","host":"h","path":"/p","status":200,"latencyMs":3,"injected":false}])";

QByteArray driftEvent(const char *trafficId)
{
    return QByteArray(R"({"type":"schema_drift","time":"T","drift":{"key":"GET h/p","trafficId":")") + trafficId
           + R"(","breaking":1,"changes":[{"path":"$.id","kind":"type_changed","severity":"breaking"}]}})";
}

QByteArray snapshot(std::initializer_list<const char *> trafficIds)
{
    QByteArray drifts;
    for (const char *id : trafficIds) {
        if (!drifts.isEmpty())
            drifts += ',';
        drifts += QByteArray(R"({"key":"GET h/p","trafficId":")") + id + R"(","time":"T","changes":[]})";
    }
    return R"({"baselines":[{"key":"GET h/p","method":"GET","host":"h","path":"/p","locked":true,"samples":3}],"drifts":[)"
           + drifts + "]}";
}

QStringList driftIds(const EngineClient &client)
{
    QStringList ids;
    for (const SchemaDriftRecord &drift : client.schemaDrifts())
        ids.append(QString::fromStdString(drift.trafficId));
    return ids;
}

class TrafficSchemaLink : public FakeEngineTest
{
protected:
    struct Page
    {
        std::vector<TrafficRecord> records;
        bool failed = false;
    };

    std::optional<Page> fetchPage()
    {
        std::optional<Page> page;
        m_client.fetchHistoryPage({}, {}, 100, &m_client, [&](const std::vector<TrafficRecord> &records, bool failed) {
            page = Page{records, failed};
        });
        testsupport::waitFor([&] { return page.has_value(); });
        return page;
    }
};

} // namespace

TEST_F(TrafficSchemaLink, HistoryPageSaysWhenItFailed)
{
    // Without a control port nothing is sent and the page fails at once.
    std::optional<bool> offline;
    m_client.fetchHistoryPage({}, {}, 100, &m_client,
                              [&](const std::vector<TrafficRecord> &, bool failed) { offline = failed; });
    ASSERT_TRUE(offline.has_value());
    EXPECT_TRUE(*offline);

    QByteArray body = OnePage;
    int status = 200;
    bool cut = false;
    m_answer = [&](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() != "/traffic")
            return std::nullopt;
        CannedReply reply = answer(status, body);
        reply.cutMidBody = cut;
        return reply;
    };
    connectClient();

    auto page = fetchPage();
    ASSERT_TRUE(page);
    EXPECT_FALSE(page->failed);
    EXPECT_EQ(page->records.size(), 1u);

    body = "[]"; // an empty history is no failure
    page = fetchPage();
    ASSERT_TRUE(page);
    EXPECT_FALSE(page->failed);
    EXPECT_TRUE(page->records.empty());

    body = R"({"error":"boom"})";
    status = 500;
    page = fetchPage();
    ASSERT_TRUE(page);
    EXPECT_TRUE(page->failed);

    // The body counts whatever the status.
    body = OnePage;
    status = 503;
    page = fetchPage();
    ASSERT_TRUE(page);
    EXPECT_FALSE(page->failed);
    ASSERT_EQ(page->records.size(), 1u);
    EXPECT_EQ(page->records.front().id, "h1");

    status = 200;
    body = "[1,2]";
    page = fetchPage();
    ASSERT_TRUE(page);
    EXPECT_TRUE(page->failed);

    body = OnePage;
    cut = true; // the connection drops halfway through the body
    page = fetchPage();
    ASSERT_TRUE(page);
    EXPECT_TRUE(page->failed);
    EXPECT_TRUE(page->records.empty());
}

TEST_F(TrafficSchemaLink, ClearAndRelearnReportOnlyOnceTheEngineAnswered)
{
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/traffic" || request.path() == "/schema" || request.path() == "/schema/relearn")
            return CannedReply::held();
        return std::nullopt;
    };
    connectClient();

    bool trafficCleared = false;
    m_client.clearTraffic([&] { trafficCleared = true; });
    EXPECT_TRUE(m_client.traffic().isEmpty());
    ASSERT_TRUE(testsupport::waitFor([&] { return count("DELETE", "/traffic") == 1; }));
    opstest::settle(50);
    EXPECT_FALSE(trafficCleared);
    ASSERT_TRUE(m_server.release(m_server.lastIndexOf("DELETE", "/traffic"), answer(500)));
    ASSERT_TRUE(testsupport::waitFor([&] { return trafficCleared; })); // a failed answer also ends it

    bool relearnt = false;
    m_client.relearnSchema(QStringLiteral("GET h/p"), [&] { relearnt = true; });
    ASSERT_TRUE(testsupport::waitFor([&] { return count("POST", "/schema/relearn") == 1; }));
    bool schemaCleared = false;
    m_client.clearSchema([&] { schemaCleared = true; });
    ASSERT_TRUE(testsupport::waitFor([&] { return count("DELETE", "/schema") == 1; }));
    opstest::settle(50);
    EXPECT_FALSE(relearnt);
    EXPECT_FALSE(schemaCleared);
    ASSERT_TRUE(m_server.release(m_server.lastIndexOf("POST", "/schema/relearn"), answer(200)));
    ASSERT_TRUE(m_server.release(m_server.lastIndexOf("DELETE", "/schema"), answer(200)));
    ASSERT_TRUE(testsupport::waitFor([&] { return relearnt && schemaCleared; }));
}

TEST_F(TrafficSchemaLink, ClearWithoutAnEngineStillReports)
{
    bool cleared = false;
    m_client.clearTraffic([&] { cleared = true; });
    bool schemaCleared = false;
    m_client.clearSchema([&] { schemaCleared = true; });
    bool relearnt = false;
    m_client.relearnSchema(std::nullopt, [&] { relearnt = true; });
    EXPECT_TRUE(cleared && schemaCleared && relearnt);
}

TEST_F(TrafficSchemaLink, AStaleSchemaFetchDoesNotBringClearedFindingsBack)
{
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "GET" && request.path() == "/schema")
            return CannedReply::held();
        return std::nullopt;
    };
    connectClient();
    m_client.handleEvent(driftEvent("old").toStdString());

    std::optional<std::vector<SchemaBaseline>> stale;
    m_client.fetchSchema(&m_client, [&](const std::vector<SchemaBaseline> &b) { stale = b; });
    ASSERT_TRUE(testsupport::waitFor([&] { return count("GET", "/schema") == 1; }));
    m_client.clearSchema();
    ASSERT_TRUE(m_server.release(m_server.lastIndexOf("GET", "/schema"), answer(200, snapshot({"old"}))));
    ASSERT_TRUE(testsupport::waitFor([&] { return stale.has_value(); }));
    EXPECT_EQ(stale->size(), 1u); // the baselines still come back to the caller
    EXPECT_TRUE(m_client.schemaDrifts().isEmpty());

    // A fetch started after the clear writes as usual.
    std::optional<std::vector<SchemaBaseline>> fresh;
    m_client.fetchSchema(&m_client, [&](const std::vector<SchemaBaseline> &b) { fresh = b; });
    ASSERT_TRUE(testsupport::waitFor([&] { return count("GET", "/schema") == 2; }));
    ASSERT_TRUE(m_server.release(m_server.lastIndexOf("GET", "/schema"), answer(200, snapshot({"new"}))));
    ASSERT_TRUE(testsupport::waitFor([&] { return fresh.has_value(); }));
    EXPECT_EQ(driftIds(m_client), QStringList{QStringLiteral("new")});
}

TEST_F(TrafficSchemaLink, FindingsThatArriveDuringAFetchAreKeptOnce)
{
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "GET" && request.path() == "/schema")
            return CannedReply::held();
        return std::nullopt;
    };
    connectClient();

    const auto fetchWhile = [&](const std::function<void()> &during, const QByteArray &body) {
        bool done = false;
        const int before = count("GET", "/schema");
        m_client.fetchSchema(&m_client, [&](const std::vector<SchemaBaseline> &) { done = true; });
        EXPECT_TRUE(testsupport::waitFor([&] { return count("GET", "/schema") == before + 1; }));
        during();
        EXPECT_TRUE(m_server.release(m_server.lastIndexOf("GET", "/schema"), answer(200, body)));
        EXPECT_TRUE(testsupport::waitFor([&] { return done; }));
    };

    // The engine answered before it saw the new finding: the event's finding is not lost.
    fetchWhile([&] { m_client.handleEvent(driftEvent("d3").toStdString()); }, snapshot({"d2", "d1"}));
    EXPECT_EQ(driftIds(m_client), (QStringList{"d3", "d2", "d1"}));

    // The engine's answer already holds it: shown once.
    fetchWhile([&] { m_client.handleEvent(driftEvent("d4").toStdString()); }, snapshot({"d4", "d3", "d2", "d1"}));
    EXPECT_EQ(driftIds(m_client), (QStringList{"d4", "d3", "d2", "d1"}));

    // Nothing arrived meanwhile: the engine's list as it is.
    fetchWhile([] {}, snapshot({"d1"}));
    EXPECT_EQ(driftIds(m_client), QStringList{QStringLiteral("d1")});
}

TEST_F(TrafficSchemaLink, ALargeRecordIsDecodedAndReachesOnlyALiveReceiver)
{
    const QByteArray big(EngineClient::OffThreadDecodeBytes + 1000, 'x');
    const QByteArray record = R"({"id":"big","time":"t","method":"GET","host":"h","path":"/p","status":200,"latencyMs":1,)"
                              R"("injected":false,"respBody":")" + big + "\"}";
    m_answer = [&](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.path() == "/traffic/big")
            return answer(200, record);
        if (request.path() == "/traffic/held")
            return CannedReply::held();
        return std::nullopt;
    };
    connectClient();

    std::optional<std::optional<TrafficRecord>> got;
    m_client.fetchRecord(QStringLiteral("big"), &m_client, [&](const std::optional<TrafficRecord> &r) { got = r; });
    ASSERT_TRUE(testsupport::waitFor([&] { return got.has_value(); }));
    ASSERT_TRUE(got->has_value());
    EXPECT_EQ((*got)->respBody->size(), std::size_t(big.size()));

    // The receiver goes away while the record is on its way: nothing is delivered to it.
    auto receiver = std::make_unique<QObject>();
    bool delivered = false;
    m_client.fetchRecord(QStringLiteral("big"), receiver.get(), [&](const std::optional<TrafficRecord> &) { delivered = true; });
    ASSERT_TRUE(testsupport::waitFor([&] { return m_server.matching("GET", "/traffic/big").size() == 2; }));
    receiver.reset();
    opstest::settle(300);
    EXPECT_FALSE(delivered);
}

TEST_F(TrafficSchemaLink, AFetchFromBeforeAProjectSwitchLeavesTheNewProjectsFindingsAlone)
{
    m_answer = [](const RecordedRequest &request) -> std::optional<CannedReply> {
        if (request.method == "GET" && request.path() == "/schema")
            return CannedReply::held();
        return std::nullopt;
    };
    connectClient();
    std::optional<std::vector<SchemaBaseline>> stale;
    m_client.fetchSchema(&m_client, [&](const std::vector<SchemaBaseline> &b) { stale = b; });
    ASSERT_TRUE(testsupport::waitFor([&] { return count("GET", "/schema") == 1; }));
    ASSERT_TRUE(opstest::runToEnd([&](EngineClient::Done done) { m_client.reloadActiveProjectIntoUI(std::move(done)); }));
    ASSERT_TRUE(m_server.release(m_server.lastIndexOf("GET", "/schema"), answer(200, snapshot({"old-project"}))));
    ASSERT_TRUE(testsupport::waitFor([&] { return stale.has_value(); }));
    EXPECT_TRUE(m_client.schemaDrifts().isEmpty());
}
