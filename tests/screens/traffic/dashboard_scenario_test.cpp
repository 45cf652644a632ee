// The dashboard against the real stand-in engine: first run, a dropped capture becomes routes,
// the proxy starts, requests through it fill the session card, and chaos goes on and off.
#include "engine/link/engine_fixture.h"

#include "app/app_state.h"
#include "app/file_actions.h"
#include "app/qt_printers.h"
#include "design/card.h"
#include "design/fonts.h"
#include "design/shell_widgets.h"
#include "screens/traffic/dashboard_screen.h"
#include "screens/traffic/dashboard_widgets.h"

#include <QApplication>
#include <QFile>
#include <QMimeData>
#include <QUrl>

namespace {

class DashboardScenario : public EngineFixture
{
protected:
    void TearDown() override
    {
        m_screen.reset();
        EngineFixture::TearDown();
    }

    DashboardScreen &screen()
    {
        if (!m_screen) {
            Fonts::registerApplicationFonts();
            m_screen = std::make_unique<DashboardScreen>(AppContext{&m_state, &client(), nullptr, nullptr});
            m_screen->resize(1000, 1200);
            m_screen->show();
        }
        return *m_screen;
    }

    bool shown(QWidget *widget) { return widget->isVisibleTo(m_screen.get()); }

    AppState m_state;
    std::unique_ptr<DashboardScreen> m_screen;
};

const QByteArray har = R"({"log":{"entries":[
  {"request":{"method":"GET","url":"http://api.scenario.test/v1/users"},
   "response":{"status":200,"content":{"text":"[{\"id\":1}]"}}},
  {"request":{"method":"POST","url":"http://api.scenario.test/v1/orders"},
   "response":{"status":201,"content":{"text":"{\"ok\":true}"}}}]}})";

} // namespace

TEST_F(DashboardScenario, FirstRunThenRoutesThenTraffic)
{
    // The strip follows the health record, so its polls come every 0.1 s rather than every 2 s.
    client().setHealthTiming(100, 2000);
    ASSERT_TRUE(bootHealthy(false));
    ASSERT_TRUE(testsupport::waitFor([&] { return client().chaosPresets().size() >= 2; }));
    ASSERT_TRUE(testsupport::waitFor([&] { return client().aiStatus() != AIStatus::initial(); }));
    ASSERT_TRUE(client().endpoints().isEmpty());
    DashboardScreen &s = screen();
    EXPECT_TRUE(shown(s.firstRunPanel()));
    EXPECT_FALSE(shown(s.statRow()));

    // A capture dropped on the panel becomes the project's routes.
    const QString path = m_dir.filePath(QStringLiteral("session.har"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(har);
    file.close();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    ASSERT_TRUE(s.handleDrop(&mime));
    ASSERT_TRUE(testsupport::waitFor([&] { return client().endpoints().size() == 2; }));
    EXPECT_FALSE(shown(s.firstRunPanel()));
    EXPECT_TRUE(shown(s.statRow()));
    EXPECT_EQ(s.statCards()[1]->value(), "2");
    EXPECT_EQ(s.primaryButton()->title(), "Start proxy");
    EXPECT_TRUE(s.statusText()->text().startsWith("2 routes ready \u00b7 start to intercept on :"));
    EXPECT_TRUE(shown(s.simulateCard()));

    // The strip's button starts the proxy.
    ASSERT_TRUE(s.primaryButton()->trigger());
    ASSERT_TRUE(testsupport::waitFor([&] { return client().proxyRunning(); }));
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return client().health() && client().health()->proxyRunning && client().proxyPort() > 0; }, 10000));
    EXPECT_EQ(s.primaryButton()->title(), "Connect a device");
    EXPECT_EQ(s.statusText()->text(), "Intercepting requests \u00b7 2 routes armed");
    EXPECT_EQ(s.setupCount()->text(), "2 of 4");

    // One request served by a mock, one that no route matches.
    EXPECT_EQ(proxyGet(QStringLiteral("api.scenario.test"), QStringLiteral("/v1/users")), 200);
    const int unmatched = proxyGet(QStringLiteral("api.scenario.test"), QStringLiteral("/v1/nothing"));
    EXPECT_NE(unmatched, 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return client().traffic().size() == 2; }));
    EXPECT_EQ(s.primaryButton()->title(), "View live traffic");
    EXPECT_FALSE(shown(s.setupCard()));
    EXPECT_TRUE(shown(s.sessionCard()));
    EXPECT_EQ(s.statCards()[0]->value(), "2");
    EXPECT_EQ(s.hitRateText()->text(), "50%");
    EXPECT_EQ(s.servedText()->text(), "1 of 2 served from mocks");
    const QList<RecentRow *> recent = s.shownRecentRows();
    ASSERT_EQ(recent.size(), 2);
    EXPECT_EQ(recent[0]->hostPath(), "api.scenario.test/v1/nothing");
    EXPECT_EQ(recent[1]->hostPath(), "api.scenario.test/v1/users");
    testsupport::saveRender(&s, QStringLiteral("traffic"), QStringLiteral("dashboard-scenario-live-light"));

    // A chip arms chaos in the engine; the alert's Stop disarms it.
    ChipGrid *grid = s.chipGrid();
    grid->chip(0)->trigger();
    const QString first = QString::fromStdString(client().chaosPresets().first().id);
    ASSERT_TRUE(waitForLog(QStringLiteral("\u2022 chaos: ") + first));
    EXPECT_TRUE(grid->chip(0)->selected());
    ASSERT_FALSE(s.shownAlerts().isEmpty());
    EXPECT_EQ(s.shownAlerts()[0]->item().id, "chaos");
    s.shownAlerts()[0]->button()->trigger();
    ASSERT_TRUE(waitForLog(QStringLiteral("\u2022 chaos off")));
    EXPECT_EQ(client().activeChaosId(), "");
    EXPECT_FALSE(grid->chip(0)->selected());

    // Quick taps across the grid: the engine ends on the last one.
    ASSERT_GE(grid->count(), 3);
    const QString third = QString::fromStdString(client().chaosPresets()[2].id);
    for (int index : {0, 1, 1, 2, 0, 2})
        grid->chip(index)->trigger();
    EXPECT_EQ(client().activeChaosId(), third); // 0, 1, off, 2, 0, 2
    ASSERT_TRUE(testsupport::waitFor([&] { return client().log().count(QStringLiteral("\u2022 chaos: ") + third) == 2; }));
    client().setActiveChaosId(QStringLiteral("stale"));
    bool reloaded = false;
    client().loadChaos([&reloaded] { reloaded = true; });
    ASSERT_TRUE(testsupport::waitFor([&] { return reloaded; }));
    EXPECT_EQ(client().activeChaosId(), third);
    EXPECT_TRUE(grid->chip(2)->selected());
    EXPECT_EQ(s.statCards()[3]->value(), QString::fromStdString(client().chaosPresets()[2].name));

    // Stop from the strip.
    s.stopButton()->trigger();
    ASSERT_TRUE(testsupport::waitFor([&] { return !client().proxyRunning(); }));
    EXPECT_EQ(s.primaryButton()->title(), "Start proxy");
    EXPECT_TRUE(shown(s.setupCard()));
}

// The size the file actions let through is the size the engine takes in one import.
TEST_F(DashboardScenario, ImportLimitIsTheEngines)
{
    ASSERT_TRUE(bootHealthy(false));
    auto postImport = [&](qint64 size) {
        std::optional<int> status;
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("format"), QStringLiteral("auto"));
        client().sendControl("POST", QStringLiteral("import"), query, QByteArray(size, ' '), 30000, &client(),
                             [&status](const ControlReply &reply) { status = reply.httpStatus; });
        EXPECT_TRUE(testsupport::waitFor([&] { return status.has_value(); }, 20000));
        return status.value_or(0);
    };
    const int atLimit = postImport(FileActions::MaxImportBytes);
    EXPECT_GE(atLimit, 400);
    EXPECT_NE(atLimit, 413); // refused for its content, not its size
    EXPECT_EQ(postImport(FileActions::MaxImportBytes + 1), 413);
}
