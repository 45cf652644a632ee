// The dashboard screen on an engine link that is not booted: which sections show in each state,
// the texts they carry, what the buttons do, and that values change in place without new widgets.
#include "dashboard_test_support.h"
#include "screens/settle_test_support.h"

#include "design/activity_graph.h"
#include "design/badges.h"
#include "design/card.h"
#include "design/indicators.h"
#include "design/keyboard_reach.h"
#include "design/shell_widgets.h"
#include "design/snow_progress_bar.h"
#include "design/snow_select.h"
#include "app/shell_registry.h"
#include "engine/records/mock_data.h"
#include "screens/traffic/traffic_catalog.h"
#include "screens/traffic/dashboard_widgets.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QPointer>
#include <QSet>
#include <QTest>

using namespace dashtest;

namespace {

QStringList statValues(DashboardScreen &screen)
{
    QStringList values;
    for (StatCard *card : screen.statCards())
        values.append(card->value());
    return values;
}

bool shown(QWidget *widget, QWidget *screen)
{
    return widget->isVisibleTo(screen);
}

} // namespace

TEST_F(DashboardTest, WithoutRoutesOnlyTheFirstRunPanelShows)
{
    engine.setTraffic(traffic(10));
    engine.setChaosPresets(standardPresets());
    engine.setActiveChaosId(QStringLiteral("slow-3g"));
    engine.setProxyRunning(true);
    DashboardScreen &s = screen();
    EXPECT_TRUE(shown(s.firstRunPanel(), &s));
    for (QWidget *section : {s.statRow(), s.ctaStrip(), static_cast<QWidget *>(s.setupCard()),
                             static_cast<QWidget *>(s.attentionCard()), static_cast<QWidget *>(s.sessionCard()),
                             static_cast<QWidget *>(s.simulateCard())})
        EXPECT_FALSE(shown(section, &s));

    // "Load demo" installs the demo set and the full layout replaces the panel at once.
    QPointer<QWidget> panel = s.firstRunPanel();
    auto *demo = s.firstRunPanel()->findChildren<SecondaryButton *>().value(0);
    ASSERT_TRUE(demo && demo->title() == "Load demo");
    ASSERT_TRUE(demo->trigger());
    EXPECT_EQ(engine.endpoints(), QList<Endpoint>(MockData::endpoints().begin(), MockData::endpoints().end()));
    EXPECT_FALSE(shown(s.firstRunPanel(), &s));
    EXPECT_TRUE(shown(s.statRow(), &s));
    EXPECT_EQ(panel.data(), s.firstRunPanel()); // hidden, not rebuilt

    // Deleting the last route brings it back.
    engine.setEndpoints({});
    EXPECT_TRUE(shown(s.firstRunPanel(), &s));
}

TEST_F(DashboardTest, NewRouteButtonOpensTheSheet)
{
    auto *button = screen().firstRunPanel()->findChildren<SecondaryButton *>().value(1);
    ASSERT_TRUE(button && button->title() == "New route");
    button->trigger();
    EXPECT_TRUE(state.showNewRoute());
}

TEST_F(DashboardTest, RoutesWithoutTrafficProxyStopped)
{
    engine.setEndpoints({route("a"), route("b"), route("c", false)});
    DashboardScreen &s = screen();
    EXPECT_EQ(statValues(s), QStringList({"0", "2", "0%", "Off"}));
    EXPECT_EQ(s.primaryButton()->title(), "Start proxy");
    EXPECT_EQ(s.primaryButton()->icon(), "bolt.fill");
    EXPECT_FALSE(shown(s.restartButton(), &s));
    EXPECT_FALSE(shown(s.stopButton(), &s));
    EXPECT_FALSE(shown(s.chaosTag(), &s));
    EXPECT_EQ(s.statusText()->text(), "3 routes ready \u00b7 start to intercept on :9999");
    EXPECT_FALSE(s.statusDot()->pulse());
    EXPECT_EQ(s.statusDot()->color(), Palette::light().mutedForeground);
    EXPECT_TRUE(shown(s.setupCard(), &s));
    EXPECT_EQ(s.setupCount()->text(), "1 of 4");
    EXPECT_DOUBLE_EQ(s.setupProgress()->value(), 0.25);
    EXPECT_FALSE(shown(s.sessionCard(), &s));
    EXPECT_FALSE(shown(s.simulateCard(), &s)); // no presets
    // The disabled route is the only alert.
    ASSERT_EQ(s.shownAlerts().size(), 1);
    EXPECT_EQ(s.shownAlerts()[0]->item().title, "1 route disabled");
    EXPECT_EQ(s.shownAlertDividers(), 0);

    engine.setEndpoints({route("only")});
    EXPECT_EQ(s.statusText()->text(), "1 route ready \u00b7 start to intercept on :9999");
    EXPECT_FALSE(shown(s.attentionCard(), &s));
}

TEST_F(DashboardTest, ProxyRunningThenTrafficArrives)
{
    engine.setEndpoints({route("a"), route("b")});
    engine.setProxyRunning(true);
    DashboardScreen &s = screen();
    EXPECT_EQ(s.primaryButton()->title(), "Connect a device");
    EXPECT_TRUE(shown(s.restartButton(), &s));
    EXPECT_TRUE(shown(s.stopButton(), &s));
    EXPECT_TRUE(s.statusDot()->pulse());
    EXPECT_EQ(s.statusDot()->color(), QColor(0x1F, 0x8A, 0x50));
    EXPECT_EQ(s.statusText()->text(), "Intercepting requests \u00b7 2 routes armed");
    EXPECT_TRUE(shown(s.setupCard(), &s));
    EXPECT_EQ(s.setupCount()->text(), "2 of 4");

    // "Connect a device" leads to the devices screen, the dashboard on the back stack.
    s.primaryButton()->trigger();
    EXPECT_EQ(state.nav(), NavItem::devices);
    EXPECT_EQ(state.backStack(), QList<NavItem>({NavItem::dashboard}));
    state.goBack();

    // 23 of 40 served: 57.5 % reads 58.
    QList<TrafficEntry> list;
    for (int i = 0; i < 40; ++i)
        list.append(entry(i, i < 3 ? 404 : 200, i < 23, i < 23 ? 100 + (i % 2) : 5));
    engine.setTraffic(list);
    EXPECT_EQ(s.primaryButton()->title(), "View live traffic");
    EXPECT_EQ(s.primaryButton()->icon(), "waveform.path.ecg");
    EXPECT_FALSE(shown(s.setupCard(), &s));
    EXPECT_TRUE(shown(s.sessionCard(), &s));
    EXPECT_EQ(statValues(s), QStringList({"40", "2", "58%", "Off"}));
    EXPECT_EQ(s.hitRateText()->text(), "58%");
    EXPECT_EQ(s.servedText()->text(), "23 of 40 served from mocks");
    EXPECT_DOUBLE_EQ(s.servedBar()->value(), 23.0 / 40);
    EXPECT_EQ(s.interceptedTile()->value(), "40");
    EXPECT_EQ(s.errorTile()->value(), "3");
    EXPECT_EQ(s.errorTile()->tint(), QColor(0x9A, 0x6B, 0x1F));
    EXPECT_EQ(s.latencyTile()->value(), "100ms"); // 11 of 101 and 12 of 100, truncated
    EXPECT_EQ(s.pulseGraph()->values(), QList<int>({2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 0, 0, 0, 0}));

    const QList<RecentRow *> recent = s.shownRecentRows();
    ASSERT_EQ(recent.size(), 5);
    EXPECT_EQ(recent[0]->hostPath(), "api.acme.dev/v1/items/39");
    EXPECT_EQ(recent[4]->hostPath(), "api.acme.dev/v1/items/35");
    EXPECT_EQ(recent[0]->timestamp(), "10:00:39");

    // Any recent row opens live traffic.
    recent[2]->click();
    EXPECT_EQ(state.nav(), NavItem::liveTraffic);
    EXPECT_EQ(state.backStack().last(), NavItem::dashboard);

    // No errors: the value loses its tint; a cleared list brings the setup card back.
    engine.setTraffic({entry(0, 399, false)});
    EXPECT_EQ(s.errorTile()->value(), "0");
    EXPECT_FALSE(s.errorTile()->tint().has_value());
    EXPECT_EQ(s.latencyTile()->value(), "\u2014");
    EXPECT_EQ(s.hitRateText()->text(), "0%");
    EXPECT_EQ(s.shownRecentRows().size(), 1);
    engine.setTraffic({});
    EXPECT_TRUE(shown(s.setupCard(), &s));
    EXPECT_FALSE(shown(s.sessionCard(), &s));
}

TEST_F(DashboardTest, ValuesChangeInPlaceUnderTraffic)
{
    engine.setEndpoints({route("a"), route("b", false)});
    engine.setProxyRunning(true);
    engine.setChaosPresets(standardPresets());
    engine.setTraffic(traffic(5));
    DashboardScreen &s = screen();
    s.show();
    const QList<QWidget *> before = s.findChildren<QWidget *>();
    const QSet<QWidget *> beforeSet(before.begin(), before.end());

    for (int n = 6; n <= 306; n += 10) {
        QList<TrafficEntry> list = traffic(n, 3);
        if (list.size() > 300)
            list = list.mid(list.size() - 300);
        engine.setTraffic(list);
        engine.setActiveChaosId(n % 20 == 6 ? QStringLiteral("slow-3g") : QString());
    }
    QApplication::processEvents();
    const QList<QWidget *> after = s.findChildren<QWidget *>();
    EXPECT_EQ(QSet<QWidget *>(after.begin(), after.end()), beforeSet) << "a refresh built or deleted widgets";
    EXPECT_EQ(s.statCards()[0]->value(), "300");
    EXPECT_EQ(s.shownRecentRows().first()->hostPath(), "api.acme.dev/v1/items/305");
}

TEST_F(DashboardTest, EnvironmentSelectAndMenu)
{
    engine.setEndpoints({route("a")});
    DashboardScreen &s = screen();
    EXPECT_EQ(s.envSelect()->value(), "No environment");
    QList<SnowMenuItem> items = s.envItems();
    ASSERT_EQ(items.size(), 1); // no divider without environments
    EXPECT_EQ(items[0].title, "Manage environments\u2026");
    EXPECT_EQ(items[0].icon, "slider.horizontal.3");
    items[0].action();
    EXPECT_TRUE(state.showManageEnvironments());

    engine.setEnvironments({{"e1", "Dev", {}}, {"e2", "Staging", {}}});
    engine.setActiveEnvID(QStringLiteral("gone"));
    EXPECT_EQ(s.envSelect()->value(), "No environment");
    items = s.envItems();
    ASSERT_EQ(items.size(), 4);
    EXPECT_FALSE(items[0].checked);
    EXPECT_FALSE(items[1].checked);
    EXPECT_TRUE(items[2].isDivider);

    items[1].action();
    EXPECT_EQ(engine.activeEnvID(), "e2");
    EXPECT_EQ(s.envSelect()->value(), "Staging");
    EXPECT_TRUE(engine.environmentPushPending());
    EXPECT_TRUE(s.envItems()[1].checked);
    EXPECT_FALSE(s.envItems()[0].checked);
}

TEST_F(DashboardTest, ChaosChipsTagTileAndAlert)
{
    engine.setEndpoints({route("a")});
    QList<ChaosPreset> presets = standardPresets();
    presets.append(preset("custom", "Custom"));
    engine.setChaosPresets(presets);
    DashboardScreen &s = screen();
    s.resize(1000, 1400);
    s.show();
    QApplication::processEvents();
    ASSERT_TRUE(shown(s.simulateCard(), &s));
    ChipGrid *grid = s.chipGrid();
    ASSERT_EQ(grid->count(), 5);
    EXPECT_EQ(grid->columns(), 4);
    EXPECT_EQ(grid->chip(4)->icon(), "bolt.trianglebadge.exclamationmark");
    EXPECT_EQ(grid->chip(4)->summary(), "");
    EXPECT_EQ(grid->chip(0)->summary(), "+200\u20131200ms \u00b7 drop @ 10%");
    EXPECT_EQ(grid->chip(4)->y(), ChaosChip::Height + 12); // fifth chip on the second row
    EXPECT_TRUE(shown(s.chaosOffText(), &s));
    EXPECT_FALSE(shown(s.injectingTag(), &s));

    // A tap selects (the link flips the id at once, engine or not).
    grid->chip(1)->trigger();
    EXPECT_EQ(engine.activeChaosId(), "broken-backend");
    EXPECT_TRUE(grid->chip(1)->selected());
    EXPECT_FALSE(grid->chip(0)->selected());
    EXPECT_TRUE(shown(s.injectingTag(), &s));
    EXPECT_EQ(s.statCards()[3]->value(), "Broken backend");
    EXPECT_TRUE(shown(s.chaosTag(), &s));
    EXPECT_EQ(s.chaosTag()->text(), "Chaos: Broken backend");
    ASSERT_FALSE(s.shownAlerts().isEmpty());
    EXPECT_EQ(s.shownAlerts()[0]->item().title, "Chaos injection active \u2014 Broken backend");

    // Another chip moves the selection; the alert's Stop switches chaos off.
    grid->chip(3)->trigger();
    EXPECT_EQ(engine.activeChaosId(), "slow-3g");
    s.shownAlerts()[0]->button()->trigger();
    EXPECT_EQ(engine.activeChaosId(), "");
    EXPECT_TRUE(shown(s.chaosOffText(), &s));
    EXPECT_FALSE(shown(s.attentionCard(), &s));

    // The keyboard reaches the chips in their order, and Space presses the one it is on.
    s.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&s));
    grid->chip(0)->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab));
    EXPECT_EQ(QApplication::focusWidget(), grid->chip(1));
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Space));
    EXPECT_EQ(engine.activeChaosId(), "broken-backend");
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Space));
    EXPECT_EQ(engine.activeChaosId(), "");

    // Tapping the selected chip clears it.
    grid->chip(2)->trigger();
    grid->chip(2)->trigger();
    EXPECT_EQ(engine.activeChaosId(), "");
    EXPECT_FALSE(grid->chip(2)->selected());

    // An active id outside the list: header says Injecting, nothing else knows it.
    engine.setActiveChaosId(QStringLiteral("vanished"));
    EXPECT_TRUE(shown(s.injectingTag(), &s));
    for (int i = 0; i < grid->count(); ++i)
        EXPECT_FALSE(grid->chip(i)->selected());
    EXPECT_EQ(s.statCards()[3]->value(), "Off");
    EXPECT_FALSE(shown(s.chaosTag(), &s));
    EXPECT_FALSE(shown(s.attentionCard(), &s));

    // Fewer presets hide chips; an empty list removes the card.
    engine.setChaosPresets(presets.mid(0, 2));
    EXPECT_EQ(grid->count(), 2);
    EXPECT_FALSE(grid->chip(2)->isVisibleTo(grid));
    engine.setChaosPresets({});
    EXPECT_FALSE(shown(s.simulateCard(), &s));
}

TEST_F(DashboardTest, AllFourAlertsInOrderWithThreeDividers)
{
    engine.setEndpoints({route("a", false, ErrorOverride::serverError), route("b")});
    engine.setChaosPresets(standardPresets());
    engine.setActiveChaosId(QStringLiteral("rate-limited"));
    engine.setSchemaDrifts({drift("t1", 2)});
    engine.setUnseenDrift(5);
    DashboardScreen &s = screen();
    const QList<AlertRow *> rows = s.shownAlerts();
    ASSERT_EQ(rows.size(), 4);
    QStringList ids;
    for (AlertRow *row : rows)
        ids.append(row->item().id);
    EXPECT_EQ(ids, QStringList({"chaos", "drift", "forced", "disabled"}));
    EXPECT_EQ(s.shownAlertDividers(), 3);
    EXPECT_EQ(rows[1]->item().title, "Schema drift detected \u2014 5 changes");
    EXPECT_EQ(rows[0]->iconColor(), QColor(0xE0, 0x31, 0x31));
    EXPECT_EQ(rows[1]->iconColor(), QColor(0x9A, 0x6B, 0x1F));

    rows[1]->button()->trigger();
    EXPECT_EQ(state.nav(), NavItem::schema);
    rows[2]->button()->trigger();
    EXPECT_EQ(state.nav(), NavItem::endpoints);

    // The schema screen resetting unseenDrift leaves the breaking changes counted.
    engine.setUnseenDrift(0);
    EXPECT_EQ(s.shownAlerts()[1]->item().title, "Schema drift detected \u2014 2 changes");
    engine.setSchemaDrifts({});
    EXPECT_EQ(s.shownAlerts().size(), 3);
    EXPECT_EQ(s.shownAlertDividers(), 2);
}

TEST_F(DashboardTest, SetupStepButtonsAndChecks)
{
    engine.setEndpoints({route("a")});
    engine.setCaInfo(CAInfo{false, "", "", "", "", ""});
    DashboardScreen &s = screen();
    const auto &rows = s.stepRows();
    EXPECT_TRUE(rows[0]->step().done);
    EXPECT_FALSE(shown(rows[0]->button(), &s));
    EXPECT_TRUE(shown(rows[0]->check(), &s));
    EXPECT_EQ(rows[2]->button()->title(), "Generate"); // a record that is not generated counts as none
    EXPECT_EQ(rows[2]->detail(), "Generate a root CA for HTTPS");
    rows[3]->button()->trigger();
    EXPECT_EQ(state.nav(), NavItem::devices);

    engine.setCaInfo(CAInfo{true, "FP", "2030", "CA", "", "/tmp/ca.pem"});
    EXPECT_EQ(rows[2]->button()->title(), "Trust");
    engine.setCaTrustedOnMac(true);
    EXPECT_FALSE(shown(rows[2]->button(), &s));
    EXPECT_TRUE(shown(rows[2]->check(), &s));
    EXPECT_EQ(rows[2]->detail(), "Root CA trusted on this computer");
    EXPECT_EQ(s.setupCount()->text(), "2 of 4");

    engine.setProxyRunning(true);
    EXPECT_EQ(s.setupCount()->text(), "3 of 4");
    EXPECT_EQ(rows[1]->detail(), "Live on :9999");
    EXPECT_TRUE(shown(rows[3]->button(), &s));

    // One request while the proxy is stopped: step 3 done, step 1 offers Start again.
    engine.setProxyRunning(false);
    engine.setTraffic({entry(1)});
    EXPECT_TRUE(shown(s.setupCard(), &s));
    EXPECT_EQ(rows[3]->detail(), "1 request intercepted");
    EXPECT_TRUE(shown(rows[1]->button(), &s));
    EXPECT_EQ(rows[1]->button()->title(), "Start");
}

TEST_F(DashboardTest, StatusDotFollowsTheScheme)
{
    engine.setEndpoints({route("a")});
    engine.setProxyRunning(true);
    DashboardScreen &s = screen();
    EXPECT_EQ(s.statusDot()->color(), QColor(0x1F, 0x8A, 0x50));
    PaletteHost::set(&s, Palette::dark());
    EXPECT_EQ(s.statusDot()->color(), Palette::green());
    engine.setProxyRunning(false);
    EXPECT_EQ(s.statusDot()->color(), Palette::dark().mutedForeground);
}

TEST_F(DashboardTest, CatalogBuildsTheDashboardForItsNavItem)
{
    ShellRegistry registry;
    installTrafficScreens(registry);
    const ShellRegistry::ScreenFactory *factory = registry.screen(NavItem::dashboard);
    ASSERT_NE(factory, nullptr);
    std::unique_ptr<QWidget> built((*factory)(AppContext{&state, &engine, nullptr, nullptr}, nullptr));
    EXPECT_NE(qobject_cast<DashboardScreen *>(built.get()), nullptr);
}

TEST_F(DashboardTest, EveryTabStopShowsARingAndThePageItselfIsNone)
{
    engine.setEndpoints({route("a")});
    engine.setEnvironments({{"e1", "Dev", {}}, {"e2", "Staging", {}}});
    engine.setChaosPresets(standardPresets());
    engine.setProxyRunning(true);
    DashboardScreen &s = screen();
    PaletteHost::set(&s, Palette::light());
    s.resize(1000, 700);
    s.show();
    s.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&s));
    ASSERT_TRUE(screenstest::settle(&s));
    const QColor ring = KeyboardReach::ringColor(Palette::light());

    // Round the whole order once, from the first stop.
    QWidget *first = nullptr;
    for (QWidget *w = s.nextInFocusChain(); w != &s && !first; w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && w->isVisible() && w->isEnabled())
            first = w;
    ASSERT_NE(first, nullptr);
    QTest::mouseClick(&s, Qt::LeftButton, {}, QPoint(2, 2));
    first->setFocus(Qt::OtherFocusReason);
    QList<QWidget *> seen;
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab));
        QWidget *at = QApplication::focusWidget();
        ASSERT_NE(at, nullptr);
        if (seen.contains(at))
            break;
        seen.append(at);
        EXPECT_EQ(qobject_cast<QAbstractScrollArea *>(at), nullptr) << "a stop that shows nothing";
        s.scrollArea()->ensureWidgetVisible(at);
        QCoreApplication::processEvents();
        EXPECT_GT(testsupport::pixelsOfColor(at->grab().toImage(), at->rect(), ring), 20)
            << at->metaObject()->className() << " " << i;
    }
    EXPECT_GE(seen.size(), 8);
    EXPECT_TRUE(seen.contains(s.envSelect()));
}
