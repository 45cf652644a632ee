// The text field writes every keystroke, never a programmatic fill, and reports Return.
#include "design/fonts.h"
#include "design/snow_text_field.h"

#include <QFontInfo>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

TEST(SnowTextField, WritesEveryKeystrokeAndReportsReturn)
{
    SnowTextField field;
    field.setPlaceholder(QStringLiteral("/v2/users"));
    field.show();
    QSignalSpy edits(&field, &SnowTextField::textEdited);
    QSignalSpy submits(&field, &SnowTextField::submitted);
    QTest::keyClicks(field.lineEdit(), QStringLiteral("/v2"));
    EXPECT_EQ(edits.count(), 3);
    EXPECT_EQ(edits.last().at(0).toString(), QStringLiteral("/v2"));
    QTest::keyClick(field.lineEdit(), Qt::Key_Return);
    EXPECT_EQ(submits.count(), 1);
    EXPECT_EQ(field.placeholder(), QStringLiteral("/v2/users"));
}

TEST(SnowTextField, FillingFromTheModelEmitsNothing)
{
    SnowTextField field;
    QSignalSpy edits(&field, &SnowTextField::textEdited);
    field.setText(QStringLiteral("api.example.com"));
    EXPECT_EQ(field.text(), QStringLiteral("api.example.com"));
    EXPECT_EQ(edits.count(), 0);
}

TEST(SnowTextField, FixedHeightAndCodeFont)
{
    SnowTextField field;
    field.setMono(true);
    field.setBoxHeight(36);
    EXPECT_EQ(field.height(), 36);
    EXPECT_EQ(field.lineEdit()->font(), Fonts::ksCode());
    field.setMono(false);
    EXPECT_EQ(field.lineEdit()->font().family(), QStringLiteral("Inter"));
    EXPECT_EQ(field.lineEdit()->font().pixelSize(), 13);
    field.setBoxHeight(std::nullopt);
    EXPECT_GT(field.height(), 0);
    EXPECT_NE(field.height(), 36);
}
