// The request counts the dashboard and the info panel show go on past the 300 entries the live list keeps.
#include "dashboard_test_support.h"

#include "app/right_info_panel.h"
#include "screens/traffic/dashboard_widgets.h"
#include "support/fake_control_server.h"
#include "support/test_support.h"

using namespace dashtest;

namespace {

// The event stream body: `count` request events, every other one answered by a route.
QByteArray requestEvents(int count)
{
    QByteArray body = "data: {\"type\":\"hello\",\"time\":\"2026-12-07T10:00:00Z\"}\n\n";
    for (int i = 0; i < count; ++i)
        body += "data: {\"type\":\"request\",\"time\":\"2026-12-07T10:00:00Z\",\"request\":{\"id\":\"t-"
                + QByteArray::number(i) + "\",\"time\":\"2026-12-07T10:00:00Z\",\"method\":\"GET\","
                "\"host\":\"api.test\",\"path\":\"/a\",\"status\":200,\"latencyMs\":3,\"injected\":"
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
    EXPECT_EQ(valueAfter(panel.shownTexts(), QStringLiteral("Intercepted")), "500");

    // Clearing empties the list and starts the counts again.
    engine.clearTraffic();
    EXPECT_EQ(engine.sessionRequestCount(), 0);
    EXPECT_EQ(engine.sessionInjectedCount(), 0);
    EXPECT_EQ(dashboard.statCards().front()->value(), "0");
    EXPECT_EQ(valueAfter(panel.shownTexts(), QStringLiteral("Intercepted")), "0");
}
