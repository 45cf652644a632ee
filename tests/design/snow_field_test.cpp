// The form field: the error replaces the hint, and nothing shows below without either.
#include "design/palette.h"
#include "design/snow_field.h"
#include "design/snow_text.h"
#include "design/snow_text_field.h"

#include <gtest/gtest.h>

TEST(SnowField, ErrorReplacesTheHint)
{
    QWidget host;
    PaletteHost::set(&host, Palette::dark());
    auto *field = new SnowField(new SnowTextField, &host);
    field->setLabel(QStringLiteral("Path"));
    field->setHint(QStringLiteral("Use :param for wildcard segments — /v2/users/:id"));
    field->setError(QStringLiteral("Conflicts with GET /v2/users/:id"));
    host.show();
    EXPECT_TRUE(field->labelText()->isVisible());
    EXPECT_EQ(field->footer()->text(), QStringLiteral("Conflicts with GET /v2/users/:id"));
    EXPECT_EQ(field->footer()->color(), QColor(0xFF, 0x6B, 0x6B));
    EXPECT_EQ(field->footer()->font().weight(), QFont::Medium);

    PaletteHost::set(&host, Palette::light());
    EXPECT_EQ(field->footer()->color(), QColor(0xE0, 0x31, 0x31));

    field->setError(std::nullopt);
    EXPECT_EQ(field->footer()->text(), QStringLiteral("Use :param for wildcard segments — /v2/users/:id"));
    EXPECT_EQ(field->footer()->color(), Palette::light().mutedForeground);
}

TEST(SnowField, WithoutHintOrErrorOnlyLabelAndContent)
{
    QWidget host;
    auto *field = new SnowField(new SnowTextField, &host);
    field->setLabel(QStringLiteral("Host"));
    host.show();
    EXPECT_TRUE(field->labelText()->isVisible());
    EXPECT_TRUE(field->content()->isVisible());
    EXPECT_FALSE(field->footer()->isVisible());
    EXPECT_FALSE(field->footerText().has_value());
    field->setLabel(std::nullopt);
    EXPECT_FALSE(field->labelText()->isVisible());
}
