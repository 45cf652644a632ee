// AppTheme's raw values in both directions.
#include "design/theme.h"

#include <gtest/gtest.h>

TEST(AppTheme, CasesInOrderWithTheirRawValues)
{
    const QList<AppTheme> all = AppThemes::all();
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(AppThemes::rawValue(all[0]), QStringLiteral("system"));
    EXPECT_EQ(AppThemes::rawValue(all[1]), QStringLiteral("light"));
    EXPECT_EQ(AppThemes::rawValue(all[2]), QStringLiteral("dark"));
}

TEST(AppTheme, FromTextMatchesExactlyOrGivesNothing)
{
    EXPECT_EQ(AppThemes::fromRawValue(QStringLiteral("dark")), AppTheme::dark);
    EXPECT_EQ(AppThemes::fromRawValue(QStringLiteral("system")), AppTheme::system);
    EXPECT_EQ(AppThemes::fromRawValue(QStringLiteral("light")), AppTheme::light);
    EXPECT_FALSE(AppThemes::fromRawValue(QStringLiteral("Dark")).has_value());
    EXPECT_FALSE(AppThemes::fromRawValue(QStringLiteral(" dark")).has_value());
    EXPECT_FALSE(AppThemes::fromRawValue(QStringLiteral("dark ")).has_value());
    EXPECT_FALSE(AppThemes::fromRawValue(QString()).has_value());
}
