// Row texts and colours of the routes table, and the middle-shortened address.
#include "design/fonts.h"
#include "design/palette.h"
#include "screens/routes/routes_logic.h"

#include <QFontMetricsF>

#include <gtest/gtest.h>

TEST(RoutesLogic, LatencyTextAndItsHighlightFrom1001)
{
    EXPECT_EQ(RoutesLogic::latencyText(0), QStringLiteral("0ms"));
    EXPECT_EQ(RoutesLogic::latencyText(250), QStringLiteral("250ms"));
    EXPECT_EQ(RoutesLogic::latencyText(12000), QStringLiteral("12000ms"));
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        EXPECT_EQ(RoutesLogic::latencyColor(1000, *palette), palette->mutedForeground);
        EXPECT_EQ(RoutesLogic::latencyColor(0, *palette), palette->mutedForeground);
    }
    EXPECT_EQ(RoutesLogic::latencyColor(1001, Palette::dark()), Palette::yellow());
    EXPECT_EQ(RoutesLogic::latencyColor(1001, Palette::light()), QColor(154, 107, 31));
}

TEST(RoutesLogic, NoMatchTitleQuotesTheFilterAsTyped)
{
    EXPECT_EQ(RoutesLogic::noMatchTitle(QStringLiteral(" /V2 ")), QStringLiteral("No routes match “ /V2 ”"));
}

TEST(RoutesLogic, AddressKeepsTheStartOfTheHostAndTheEndOfThePath)
{
    const QFont host = Fonts::inter(12);
    const QFont path = Fonts::inter(13, QFont::Medium);
    const QString longHost = QStringLiteral("a-very-long-host-name.internal.example.com");
    const QString longPath = QStringLiteral("/v2/organisations/:orgId/projects/:projectId/variables");

    // Room enough: nothing is dropped.
    const auto whole = RoutesLogic::elideAddress(QStringLiteral("api.dev"), host, QStringLiteral("/v1"), path, 400);
    EXPECT_FALSE(whole.elided);
    EXPECT_EQ(whole.hostStart + whole.pathStart, QStringLiteral("api.dev/v1"));

    const qreal width = 220;
    const auto cut = RoutesLogic::elideAddress(longHost, host, longPath, path, width);
    ASSERT_TRUE(cut.elided);
    EXPECT_TRUE(longHost.startsWith(cut.hostStart));
    EXPECT_FALSE(cut.hostStart.isEmpty());
    EXPECT_TRUE(longPath.endsWith(cut.pathEnd));
    EXPECT_TRUE(cut.pathEnd.endsWith(QStringLiteral("variables")));
    const qreal drawn = QFontMetricsF(host).horizontalAdvance(cut.hostStart + cut.hostEnd)
                        + QFontMetricsF(path).horizontalAdvance(cut.pathStart + QStringLiteral("…") + cut.pathEnd);
    EXPECT_LE(drawn, width + 1); // per-character advances, so kerning may differ by a fraction

    // No host: the path alone, from the column's edge.
    const auto pathOnly = RoutesLogic::elideAddress(QString(), host, QStringLiteral("/health"), path, 300);
    EXPECT_EQ(pathOnly.hostStart, QString());
    EXPECT_EQ(pathOnly.pathStart, QStringLiteral("/health"));

    // Characters outside the basic plane are never split.
    const QString emoji = QStringLiteral("/😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀");
    const auto split = RoutesLogic::elideAddress(QStringLiteral("h"), host, emoji, path, 80);
    for (const QString &part : {split.pathStart, split.pathEnd}) {
        if (!part.isEmpty()) {
            EXPECT_FALSE(part.back().isHighSurrogate());
            EXPECT_FALSE(part.front().isLowSurrogate());
        }
    }
}
