// Activity buckets, flagged routes and the texts of the info panel.
#include "app/info_panel_logic.h"

#include "design/palette.h"

#include "app/qt_printers.h"

#include <gtest/gtest.h>

using Levels = std::array<int, 17>;

TEST(ActivityBuckets, EmptyFiveAndEighteenEntries)
{
    EXPECT_EQ(InfoPanel::activityLevels(0), Levels{});
    EXPECT_EQ(InfoPanel::activityLevels(5), (Levels{1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(InfoPanel::activityLevels(18), (Levels{2, 2, 2, 2, 2, 2, 2, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(ActivityBuckets, PartialLastBucketAndFullStrips)
{
    // 35: size 3; cells 0-10 hold 3, cell 11 holds 2 (both level 2), the rest empty.
    EXPECT_EQ(InfoPanel::activityLevels(35), (Levels{2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 0, 0, 0, 0, 0}));
    // 103: size 7; cells 0-13 at 4, cell 14 holds 5 (level 3).
    EXPECT_EQ(InfoPanel::activityLevels(103), (Levels{4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 3, 0, 0}));
    Levels full;
    full.fill(4);
    EXPECT_EQ(InfoPanel::activityLevels(300), full);
    Levels ones;
    ones.fill(1);
    EXPECT_EQ(InfoPanel::activityLevels(17), ones);
}

TEST(ActivityBuckets, LevelThresholds)
{
    const int expected[] = {0, 1, 2, 2, 3, 3, 3, 4, 4};
    for (int c = 0; c < 9; ++c)
        EXPECT_EQ(InfoPanel::activityLevel(c), expected[c]) << c;
}

TEST(FlaggedRoutes, StatusFourHundredIsFlaggedAndThreeNinetyNineIsNot)
{
    Endpoint plain;
    plain.status = 399;
    EXPECT_FALSE(InfoPanel::isFlagged(plain));
    Endpoint bad = plain;
    bad.status = 400;
    EXPECT_TRUE(InfoPanel::isFlagged(bad));
}

TEST(FlaggedRoutes, OverrideSequenceOrDisabledFlagInListOrder)
{
    Endpoint a;
    a.id = "a";
    Endpoint b;
    b.id = "b";
    b.override = ErrorOverride::notFound;
    Endpoint c;
    c.id = "c";
    c.sequence.push_back(MockStep::make());
    Endpoint d;
    d.id = "d";
    d.active = false;
    Endpoint e;
    e.id = "e";
    e.status = 503;
    const auto result = InfoPanel::flagged({a, b, c, d, e});
    ASSERT_EQ(result.size(), 4);
    EXPECT_EQ(result[0].id, "b");
    EXPECT_EQ(result[1].id, "c");
    EXPECT_EQ(result[2].id, "d");
    EXPECT_EQ(result[3].id, "e");
    EXPECT_TRUE(InfoPanel::flagged({}).isEmpty());
}

TEST(InfoEngineRow, LiveWinsOverStatusButTheDotFollowsStatus)
{
    const auto error = EngineStatus::error("boom");
    EXPECT_EQ(InfoPanel::engineText(error, true), "Live");
    EXPECT_EQ(InfoPanel::engineDotColor(error), Palette::danger());
    EXPECT_EQ(InfoPanel::engineText(error, false), "Error");
    EXPECT_EQ(InfoPanel::engineText(EngineStatus::stopped(), false), "Stopped");
    EXPECT_EQ(InfoPanel::engineText(EngineStatus::starting(), false), QString::fromUtf8("Starting\u2026"));
    EXPECT_EQ(InfoPanel::engineText(EngineStatus::healthy(), false), "Healthy");
    EXPECT_EQ(InfoPanel::engineDotColor(EngineStatus::starting()), Palette::amber());
    EXPECT_EQ(InfoPanel::engineDotColor(EngineStatus::healthy()), Palette::success());
}

TEST(InfoChaosValue, FirstMatchingPresetOrNone)
{
    ChaosPreset one{"p1", "Flaky", {}};
    ChaosPreset two{"p1", "Second", {}};
    EXPECT_EQ(InfoPanel::activeChaosName({one, two}, "p1"), std::optional<QString>("Flaky"));
    EXPECT_FALSE(InfoPanel::activeChaosName({one}, "p2").has_value());
    EXPECT_FALSE(InfoPanel::activeChaosName({}, "").has_value());
}

TEST(LinksTab, ProxyCommandKeepsPlaceholdersAndHostLinkIsExact)
{
    EXPECT_EQ(InfoPanel::proxyCommand(9999), "curl -x localhost:9999 http://<host>/<path>");
    EXPECT_EQ(InfoPanel::proxyCommand(8080), "curl -x localhost:8080 http://<host>/<path>");
    EXPECT_EQ(InfoPanel::hostLink("API.Example.com"), "http://API.Example.com");
    EXPECT_EQ(InfoPanel::hostLink(""), "http://");
}
