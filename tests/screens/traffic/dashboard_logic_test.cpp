// The dashboard's pure decisions: hit rate, pulse, metrics, strip texts, setup steps and alerts.
#include "engine/traffic_feed.h"
#include "screens/traffic/dashboard_logic.h"

#include "dashboard_test_support.h"
#include "design/palette.h"

#include <gtest/gtest.h>

using namespace DashboardLogic;

TEST(DashboardHitRate, RoundsHalvesUpInIntegerArithmetic)
{
    // 23/40 is 57.5 exactly; floating point gives 57.49999…, and half-to-even gives 12 for 1/8.
    EXPECT_EQ(hitRate(23, 40), 58);
    EXPECT_EQ(hitRate(1, 8), 13);
    EXPECT_EQ(hitRate(1, 40), 3);
    EXPECT_EQ(hitRate(1, 3), 33);
    EXPECT_EQ(hitRate(2, 3), 67);
    EXPECT_EQ(hitRate(3, 8), 38);
    EXPECT_EQ(hitRate(0, 3), 0);
    EXPECT_EQ(hitRate(300, 300), 100);
    EXPECT_EQ(hitRate(0, 0), 0);
    // Every fraction of up to 300 entries: r is the nearest whole percentage, halves going up,
    // i.e. r - 1/2 <= 100 * served / total < r + 1/2, checked without division.
    for (qint64 total = 1; total <= 300; ++total)
        for (qint64 served = 0; served <= total; ++served) {
            const qint64 r = hitRate(served, total);
            ASSERT_LE((2 * r - 1) * total, 200 * served) << served << "/" << total;
            ASSERT_LT(200 * served, (2 * r + 1) * total) << served << "/" << total;
        }
}

TEST(DashboardHitRate, ServedFractionForTheBar)
{
    EXPECT_DOUBLE_EQ(servedFraction(0, 0), 0.0);
    EXPECT_DOUBLE_EQ(servedFraction(0, 3), 0.0);
    EXPECT_DOUBLE_EQ(servedFraction(29, 58), 0.5);
}

TEST(DashboardPulse, LevelsAtTheListedSizes)
{
    const auto at = [](qint64 n) { return pulse(n); };
    std::array<int, PulseCells> expected{};
    EXPECT_EQ(at(0), expected);

    expected[0] = 1;
    EXPECT_EQ(at(1), expected);

    expected.fill(1);
    EXPECT_EQ(at(24), expected);

    expected.fill(2);
    EXPECT_EQ(at(48), expected);

    // c = 5: twenty full chunks of 5, then nothing.
    expected.fill(0);
    for (int i = 0; i < 20; ++i)
        expected[std::size_t(i)] = 3;
    EXPECT_EQ(at(100), expected);

    // c = 13: 23 chunks of 13 and one of 1.
    expected.fill(4);
    expected[23] = 1;
    EXPECT_EQ(at(300), expected);

    // 25 entries: c = 2, twelve chunks of 2 and a last one of 1.
    expected.fill(0);
    for (int i = 0; i < 12; ++i)
        expected[std::size_t(i)] = 2;
    expected[12] = 1;
    EXPECT_EQ(at(25), expected);
}

TEST(DashboardPulse, LevelBands)
{
    const int levels[] = {0, 1, 2, 2, 3, 3, 3, 4, 4};
    for (int d = 0; d < 9; ++d)
        EXPECT_EQ(pulseLevel(d), levels[d]) << d;
    EXPECT_EQ(pulseLevel(1000), 4);
}

// The metrics of a session that holds exactly these requests, counted as the engine link counts them.
static TrafficMetrics metricsOf(const QList<TrafficEntry> &list)
{
    TrafficFeed feed;
    feed.reset(list);
    return sessionMetrics(feed.sessionRequestCount(), feed.sessionInjectedCount(), feed.sessionErrorCount(),
                          feed.sessionInjectedLatencyMs());
}

TEST(DashboardMetrics, ErrorsLatencyAndRecent)
{
    using dashtest::entry;
    QList<TrafficEntry> list = {entry(0, 399, true, 100), entry(1, 400, false, 7), entry(2, 404, true, 101),
                                entry(3, 503, false), entry(4, 200, false)};
    const TrafficMetrics m = metricsOf(list);
    EXPECT_EQ(m.total, 5);
    EXPECT_EQ(m.served, 2);
    EXPECT_EQ(m.errors, 3); // 399 is not an error; 400, 404 and 503 are, injected or not
    EXPECT_EQ(m.avgInjectedLatency, 100); // (100 + 101) / 2, truncated
    EXPECT_EQ(latencyText(m.avgInjectedLatency), "100ms");
    EXPECT_EQ(latencyText(0), "\u2014");
    EXPECT_EQ(metricsOf({entry(0, 200, true, 0), entry(1, 200, true, 0)}).avgInjectedLatency, 0);
    EXPECT_EQ(metricsOf({entry(0, 200, false, 900)}).avgInjectedLatency, 0);
    EXPECT_EQ(servedText(0, 3), "0 of 3 served from mocks");

    EXPECT_EQ(recentEntries({}).size(), 0);
    const QList<TrafficEntry> three = recentEntries(list.mid(0, 3));
    ASSERT_EQ(three.size(), 3);
    EXPECT_EQ(three[0].id, "t2");
    EXPECT_EQ(three[2].id, "t0");
    list.append(entry(5));
    list.append(entry(6));
    const QList<TrafficEntry> five = recentEntries(list);
    ASSERT_EQ(five.size(), 5);
    EXPECT_EQ(five.first().id, "t6");
    EXPECT_EQ(five.last().id, "t2");
}

TEST(DashboardStrip, TextsAndPrimaryAction)
{
    EXPECT_EQ(statusSubline(true, 3, 9999), "Intercepting requests \u00b7 3 routes armed");
    EXPECT_EQ(statusSubline(true, 1, 9999), "Intercepting requests \u00b7 1 route armed");
    EXPECT_EQ(statusSubline(false, 1, 12345), "1 route ready \u00b7 start to intercept on :12345");
    EXPECT_EQ(statusSubline(false, 10000, 80), "10000 routes ready \u00b7 start to intercept on :80");

    EXPECT_EQ(primaryCTA(true, true), (CallToAction{"View live traffic", "waveform.path.ecg", Action::openLiveTraffic}));
    EXPECT_EQ(primaryCTA(true, false), (CallToAction{"Connect a device", "iphone", Action::openDevices}));
    EXPECT_EQ(primaryCTA(false, true), (CallToAction{"Start proxy", "bolt.fill", Action::startProxy}));
    EXPECT_EQ(primaryCTA(false, false).action, Action::startProxy);

    using dashtest::route;
    EXPECT_EQ(activeRouteCount({route("a"), route("b", false), route("c")}), 2);

    const QList<ChaosPreset> presets = dashtest::standardPresets();
    EXPECT_EQ(activeChaos(presets, "rate-limited")->name, "Rate limited");
    EXPECT_FALSE(activeChaos(presets, "gone"));
    EXPECT_FALSE(activeChaos(presets, ""));

    EXPECT_EQ(envEntries({}, "x").size(), 0);
    const QList<EnvEntry> entries = envEntries({{"e1", "Dev", {}}, {"e2", "Prod", {}}}, "e2");
    EXPECT_EQ(entries, (QList<EnvEntry>{{"e1", "Dev", false}, {"e2", "Prod", true}}));
    EXPECT_FALSE(envEntries({{"e1", "Dev", {}}}, "missing").first().checked);
}

TEST(DashboardSetup, FreshSessionHasOneOfFourDone)
{
    SetupState s;
    s.routeCount = 3;
    s.proxyPort = 9999;
    const auto steps = setupSteps(s);
    EXPECT_EQ(completedSteps(steps), 1);
    EXPECT_EQ(steps[0].detail, "3 routes armed");
    EXPECT_TRUE(steps[0].actionLabel.isEmpty());
    EXPECT_EQ(steps[1].detail, "Intercept traffic on :9999");
    EXPECT_EQ(steps[1].actionLabel, "Start");
    EXPECT_EQ(steps[1].action, Action::startProxy);
    EXPECT_EQ(steps[2].detail, "Generate a root CA for HTTPS");
    EXPECT_EQ(steps[2].actionLabel, "Generate");
    EXPECT_EQ(steps[2].action, Action::generateCA);
    EXPECT_EQ(steps[3].detail, "Route a device or simulator through :9999");
    EXPECT_EQ(steps[3].actionLabel, "Set up");
    EXPECT_EQ(steps[3].action, Action::openDevices);
}

TEST(DashboardSetup, StepsFollowProxyCaAndTraffic)
{
    SetupState s;
    s.routeCount = 1;
    s.proxyPort = 8080;
    s.caGenerated = true;
    auto steps = setupSteps(s);
    EXPECT_EQ(steps[0].detail, "1 route armed");
    EXPECT_EQ(steps[2].detail, "Trust the root CA to decrypt HTTPS");
    EXPECT_EQ(steps[2].actionLabel, "Trust");
    EXPECT_EQ(steps[2].action, Action::trustCA);

    // Trusted without a generated CA is not ready.
    s.caGenerated = false;
    s.caTrustedOnMac = true;
    EXPECT_FALSE(caReady(s));
    EXPECT_EQ(setupSteps(s)[2].actionLabel, "Generate");

    s.caGenerated = true;
    s.proxyRunning = true;
    steps = setupSteps(s);
    EXPECT_EQ(completedSteps(steps), 3);
    EXPECT_EQ(steps[1].detail, "Live on :8080");
    EXPECT_TRUE(steps[1].actionLabel.isEmpty());
    EXPECT_EQ(steps[2].detail, "Root CA trusted on this computer");
    EXPECT_TRUE(steps[2].actionLabel.isEmpty());
    EXPECT_FALSE(steps[3].actionLabel.isEmpty());

    // One request with the proxy stopped: step 3 done, step 1 offers Start again.
    s.proxyRunning = false;
    s.trafficCount = 1;
    steps = setupSteps(s);
    EXPECT_TRUE(steps[3].done);
    EXPECT_EQ(steps[3].detail, "1 request intercepted");
    EXPECT_EQ(steps[1].actionLabel, "Start");
    s.trafficCount = 2;
    EXPECT_EQ(setupSteps(s)[3].detail, "2 requests intercepted");
}

TEST(DashboardAlerts, OrderCountsAndConditions)
{
    using dashtest::drift;
    using dashtest::route;
    const QList<Endpoint> routes = {route("a"), route("b", false, ErrorOverride::timeout),
                                    route("c", true, ErrorOverride::notFound), route("d", false)};
    const std::optional<ChaosPreset> chaos = dashtest::preset("slow-3g", "Slow 3G");
    const QList<AttentionItem> all = alerts(alertState(chaos, {drift("t1", 2)}, 5, routes));
    ASSERT_EQ(all.size(), 4);
    EXPECT_EQ(all[0], (AttentionItem{"chaos", "tornado", SnowTag::Tone::error, "Chaos injection active \u2014 Slow 3G",
                                     "Stop", Action::stopChaos}));
    EXPECT_EQ(all[1], (AttentionItem{"drift", "arrow.triangle.branch", SnowTag::Tone::warning,
                                     "Schema drift detected \u2014 5 changes", "Review", Action::openSchema}));
    // "b" is both disabled and forced: it counts in both.
    EXPECT_EQ(all[2], (AttentionItem{"forced", "exclamationmark.triangle", SnowTag::Tone::warning,
                                     "2 routes forced to return errors", "Review", Action::openEndpoints}));
    EXPECT_EQ(all[3], (AttentionItem{"disabled", "pause.circle", SnowTag::Tone::neutral, "2 routes disabled", "Review",
                                     Action::openEndpoints}));

    // Breaking changes alone keep the drift alert after unseenDrift was reset.
    QList<AttentionItem> items = alerts(alertState(std::nullopt, {drift("t1", 1, 3)}, 0, {route("a")}));
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0].title, "Schema drift detected \u2014 1 change");
    // Only warnings and nothing unseen: no drift alert.
    EXPECT_TRUE(alerts(alertState(std::nullopt, {drift("t1", 0, 4)}, 0, {route("a")})).isEmpty());
    // Breaking changes summed over records; the larger of that and unseenDrift.
    items = alerts(alertState(std::nullopt, {drift("t1", 2), drift("t2", 3)}, 1, {}));
    EXPECT_EQ(items[0].title, "Schema drift detected \u2014 5 changes");
    items = alerts(alertState(std::nullopt, {}, 1, {route("x", false)}));
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].id, "drift");
    EXPECT_EQ(items[1].title, "1 route disabled");
}

TEST(DashboardColours, SchemeInks)
{
    EXPECT_EQ(successInk(Palette::dark()), Palette::green());
    EXPECT_EQ(successInk(Palette::light()), QColor(0x1F, 0x8A, 0x50));
    EXPECT_EQ(alertColor(SnowTag::Tone::warning, Palette::dark()), Palette::yellow());
    EXPECT_EQ(alertColor(SnowTag::Tone::warning, Palette::light()), QColor(0x9A, 0x6B, 0x1F));
    EXPECT_EQ(alertColor(SnowTag::Tone::error, Palette::dark()), QColor(0xFF, 0x6B, 0x6B));
    EXPECT_EQ(alertColor(SnowTag::Tone::error, Palette::light()), QColor(0xE0, 0x31, 0x31));
    EXPECT_EQ(alertColor(SnowTag::Tone::neutral, Palette::light()), Palette::light().mutedForeground);
    EXPECT_EQ(alertColor(SnowTag::Tone::info, Palette::dark()), Palette::dark().mutedForeground);
}

TEST(DashboardChaos, IconsAndColumns)
{
    EXPECT_EQ(chaosIcon("flaky-network"), "wifi.exclamationmark");
    EXPECT_EQ(chaosIcon("broken-backend"), "exclamationmark.triangle.fill");
    EXPECT_EQ(chaosIcon("rate-limited"), "gauge.with.dots.needle.33percent");
    EXPECT_EQ(chaosIcon("slow-3g"), "tortoise.fill");
    EXPECT_EQ(chaosIcon("Slow-3G"), "bolt.trianglebadge.exclamationmark");
    EXPECT_EQ(chaosIcon(""), "bolt.trianglebadge.exclamationmark");

    EXPECT_EQ(chaosColumns(0), 1);
    EXPECT_EQ(chaosColumns(209), 1);
    EXPECT_EQ(chaosColumns(431), 1);
    EXPECT_EQ(chaosColumns(432), 2); // 210 + 12 + 210
    EXPECT_EQ(chaosColumns(912), 4);
    EXPECT_EQ(chaosColumns(1097), 4);
    EXPECT_EQ(chaosColumns(1098), 5); // five of 210 and four gaps of 12
}
