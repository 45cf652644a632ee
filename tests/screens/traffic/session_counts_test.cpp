// The request counts the dashboard and the info panel show go on past the 300 entries the live list keeps.
#include "dashboard_test_support.h"

#include "app/right_info_panel.h"
#include "design/card.h"
#include "design/activity_graph.h"
#include "screens/traffic/dashboard_widgets.h"
#include "support/fake_control_server.h"
#include "support/test_support.h"

using namespace dashtest;

namespace {

// The event stream body: `count` request events; every other one (the even ones) answered by a route
// after i milliseconds, every fifth one with 503.
QByteArray requestEvents(int count)
{
    QByteArray body = "data: {\"type\":\"hello\",\"time\":\"2026-12-07T10:00:00Z\"}\n\n";
    for (int i = 0; i < count; ++i)
        body += "data: {\"type\":\"request\",\"time\":\"2026-12-07T10:00:00Z\",\"request\":{\"id\":\"t-"
                + QByteArray::number(i) + "\",\"time\":\"2026-12-07T10:00:00Z\",\"method\":\"GET\","
                "\"host\":\"api.test\",\"path\":\"/a\",\"status\":" + (i % 5 == 0 ? "503" : "200")
                + ",\"latencyMs\":" + QByteArray::number(i % 2 == 0 ? i : 3) + ",\"injected\":"
                + (i % 2 == 0 ? QByteArray("true") : QByteArray("false")) + "}}\n\n";
    return body;
}

QString valueAfter(const QStringList &texts, const QString &label)
{
    const qsizetype at = texts.indexOf(label);
    return at >= 0 ? texts.value(at + 1) : QString();
}

} // namespace

TEST_F(DashboardTest, FiveHundredRequestsReadFiveHundredEverywhere)
{
    FakeControlServer server;
    server.setResponder([](const RecordedRequest &request) {
        if (request.path() == "/events")
            return CannedReply::ok(requestEvents(500));
        if (request.path() == "/health")
            return CannedReply::held();
        if (request.path() == "/routes" && request.method == "GET")
            return CannedReply::ok(R"([{"id":"r-1","method":"GET","host":"api.test","path":"/a","status":200,)"
                                   R"("latencyMs":0,"active":true,"body":"","passThrough":false}])");
        return CannedReply{};
    });
    DashboardScreen &dashboard = screen();
    RightInfoPanel panel(AppContext{&state, &engine, nullptr, nullptr});
    engine.ingestOutput("KESTRION_CONTROL_PORT=" + QByteArray::number(server.port()) + "\n");
    ASSERT_TRUE(testsupport::waitFor([&] { return engine.sessionRequestCount() == 500 && engine.routesLoaded(); }));
    ASSERT_TRUE(testsupport::waitFor([&] { return engine.pendingTrafficCount() == 0; }));

    EXPECT_EQ(engine.traffic().size(), 300);
    EXPECT_EQ(engine.sessionInjectedCount(), 250);
    EXPECT_EQ(dashboard.statCards().front()->value(), "500");
    EXPECT_EQ(dashboard.statCards().at(2)->value(), "50%");
    EXPECT_EQ(dashboard.hitRateText()->text(), "50%");
    EXPECT_EQ(dashboard.servedText()->text(), "250 of 500 served from mocks");
    EXPECT_EQ(dashboard.interceptedTile()->value(), "500");
    // One base for the whole screen: errors, injected latency, the pulse and the setup step count the
    // session too, not the 300 entries the list keeps (60 errors, 349ms, a last pulse cell of 1).
    EXPECT_EQ(engine.sessionErrorCount(), 100);
    EXPECT_EQ(dashboard.errorTile()->value(), "100");
    EXPECT_EQ(dashboard.latencyTile()->value(), "249ms"); // (0 + 2 + ... + 498) / 250
    EXPECT_EQ(dashboard.pulseGraph()->values(), QList<int>(24, 4));
    ASSERT_TRUE(dashboard.setupCard()->isVisibleTo(&dashboard));
    EXPECT_EQ(dashboard.stepRows()[3]->step().detail, "500 requests intercepted");
    EXPECT_EQ(valueAfter(panel.shownTexts(), QStringLiteral("Intercepted")), "500");

    // Clearing empties the list and starts the counts again.
    engine.clearTraffic();
    EXPECT_EQ(engine.sessionRequestCount(), 0);
    EXPECT_EQ(engine.sessionInjectedCount(), 0);
    EXPECT_EQ(dashboard.statCards().front()->value(), "0");
    EXPECT_EQ(engine.sessionErrorCount(), 0);
    EXPECT_EQ(engine.sessionInjectedLatencyMs(), 0);
    EXPECT_EQ(valueAfter(panel.shownTexts(), QStringLiteral("Intercepted")), "0");
}
