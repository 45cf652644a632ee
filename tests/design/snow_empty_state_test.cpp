// The empty state: tile sizes, tint opacity per palette, wrapping message.
#include "design/palette.h"
#include "design/snow_empty_state.h"
#include "design/snow_text.h"

#include <QFontMetrics>

#include <gtest/gtest.h>

TEST(SnowEmptyState, TileSizeAndTintOpacityPerVariantAndPalette)
{
    SnowEmptyState compact(QStringLiteral("curlybraces"), QStringLiteral("No environments yet"), std::nullopt,
                           Palette::primary(), true);
    EXPECT_EQ(compact.tile()->size(), QSize(52, 52));
    EXPECT_EQ(compact.messageText(), nullptr);
    EXPECT_EQ(compact.titleText()->font().pixelSize(), 13);
    SnowEmptyState full(QStringLiteral("square.and.arrow.down"), QStringLiteral("Create your first mocks"),
                        QStringLiteral("Drop a .har file."), Palette::primary(), false);
    EXPECT_EQ(full.tile()->size(), QSize(64, 64));
    EXPECT_EQ(full.titleText()->font().pixelSize(), 14);
    EXPECT_EQ(SnowEmptyState::tileOpacity(Palette::dark()), 0.25);
    EXPECT_EQ(SnowEmptyState::tileOpacity(Palette::light()), 0.35);
}

TEST(SnowEmptyState, LongMessageWrapsWithin340)
{
    const QString message = QStringLiteral("Drop a .har, Charles session, Postman, or .json file — Kestrion turns it "
                                           "into editable mock routes you can serve and tune instantly.");
    SnowEmptyState state(QStringLiteral("square.and.arrow.down"), QStringLiteral("Create your first mocks"), message,
                         Palette::primary(), false);
    state.resize(900, 400);
    state.show();
    SnowText *text = state.messageText();
    ASSERT_NE(text, nullptr);
    EXPECT_LE(text->width(), 340);
    EXPECT_GT(text->height(), 2 * QFontMetrics(text->font()).height() - 1);
    EXPECT_EQ(text->text(), message);
}
