// Against the real stand-in engine: requests sent through its proxy become live rows and history
// records whose detail holds the exchange.
#include "design/code_text_view.h"
#include "screens/traffic/history_detail_panel.h"
#include "screens/traffic/history_model.h"
#include "screens/traffic/history_screen.h"
#include "screens/traffic/live_traffic_model.h"
#include "screens/traffic/live_traffic_screen.h"

#include "engine/link/ops_test_support.h"
#include "traffic_test_support.h"

using opstest::route;

TEST_F(EngineOpsTest, ProxiedRequestsShowAsLiveRowsAndHistoryRecords)
{
    ASSERT_TRUE(bootLoaded(true));
    ASSERT_TRUE(testsupport::waitFor([&] { return client().proxyRunning(); }));
    Endpoint users = route("r-users", "/users", R"({"id":1,"name":"Ada"})");
    client().setEndpoints({users});
    client().pushRoutes();
    client().flushPendingPushes(); // not after the debounce: the seed is not under test
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().routePushPending(); }));

    traffictest::Host liveHost;
    auto *live = liveHost.show(new LiveTrafficScreen(AppContext{nullptr, &client(), nullptr, nullptr}));
    EXPECT_EQ(live->body(), LiveTrafficScreen::Body::waiting);
    ASSERT_EQ(proxyGet(QStringLiteral("api.test"), QStringLiteral("/users")), 200);
    ASSERT_EQ(proxyGet(QStringLiteral("api.test"), QStringLiteral("/users")), 200);
    ASSERT_TRUE(testsupport::waitFor([&] { return live->shownCount() == 2; }));
    const TrafficEntry &row = live->model()->entry(1);
    EXPECT_EQ(row.host, "api.test");
    EXPECT_EQ(row.path, "/users");
    EXPECT_EQ(row.status, 200);
    EXPECT_TRUE(row.injected);
    traffictest::render(&liveHost, QStringLiteral("live-standin-light"));

    traffictest::Host historyHost;
    auto *history = historyHost.show(new HistoryScreen(AppContext{nullptr, &client(), nullptr, nullptr}));
    ASSERT_TRUE(testsupport::waitFor([&] { return history->model()->records().size() == 2; }));
    EXPECT_EQ(history->body(), HistoryScreen::Body::list);
    const QString id = QString::fromStdString(history->model()->records().front().id);
    history->select(id);
    ASSERT_TRUE(testsupport::waitFor([&] { return !history->loadingDetail(); }));
    ASSERT_TRUE(history->detail().has_value());
    EXPECT_EQ(history->detailPanel()->urlView()->text(), QStringLiteral("http://api.test/users"));
    EXPECT_EQ(history->detailPanel()->responseBody()->text(), QStringLiteral(R"({"id":1,"name":"Ada"})"));
    traffictest::render(&historyHost, QStringLiteral("history-standin-light"));
    historyHost.setTheme(Palette::dark());
    traffictest::render(&historyHost, QStringLiteral("history-standin-dark"));

    // Clear on the history screen empties the engine's store: the reload after the delete shows nothing.
    history->clear();
    ASSERT_TRUE(testsupport::waitFor([&] { return history->body() == HistoryScreen::Body::empty; }));
    EXPECT_EQ(live->shownCount(), 0);
}
