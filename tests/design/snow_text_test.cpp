// Palette text: which text is painted for each elision and when wrapped.
#include "design/fonts.h"
#include "design/snow_text.h"

#include <gtest/gtest.h>

namespace {

const QString Long = QStringLiteral("/v2/users/:id/profile/settings/notifications");

} // namespace

TEST(SnowText, ElisionFollowsTheModeAtNarrowWidths)
{
    SnowText text(Long, Fonts::inter(13), {});
    text.resize(90, text.sizeHint().height());

    const QString right = text.shownText();
    EXPECT_TRUE(right.endsWith(QChar(0x2026))) << right.toStdString();
    EXPECT_TRUE(right.startsWith(QStringLiteral("/v2"))) << right.toStdString();

    text.setElideMode(Qt::ElideMiddle);
    const QString middle = text.shownText();
    EXPECT_TRUE(middle.startsWith(QStringLiteral("/v2"))) << middle.toStdString();
    EXPECT_TRUE(middle.endsWith(QStringLiteral("ions"))) << middle.toStdString();
    EXPECT_TRUE(middle.contains(QChar(0x2026)));
    EXPECT_LT(middle.size(), Long.size());

    text.setElideMode(Qt::ElideNone);
    EXPECT_EQ(text.shownText(), Long);
}

TEST(SnowText, WrappedTextIsShownWholeWhateverTheElision)
{
    SnowText text(Long, Fonts::inter(13), {});
    text.setWrap(true);
    text.resize(90, 200);
    EXPECT_TRUE(text.wraps());
    EXPECT_EQ(text.shownText(), Long);
    EXPECT_GT(text.heightForWidth(90), text.fontMetrics().height());
}
