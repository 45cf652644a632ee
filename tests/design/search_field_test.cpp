// The search box: typing writes the text, the clear button appears with text and empties it.
#include "design/search_field.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

TEST(SearchField, ClearButtonFollowsTheText)
{
    SearchField field;
    field.setPlaceholder(QStringLiteral("Filter endpoints…"));
    field.resize(340, 32);
    field.show();
    EXPECT_EQ(field.height(), 32);
    EXPECT_FALSE(field.clearButtonVisible());

    QSignalSpy edits(&field, &SearchField::textEdited);
    QTest::keyClicks(field.lineEdit(), QStringLiteral("u"));
    ASSERT_EQ(edits.count(), 1);
    EXPECT_EQ(edits.last().at(0).toString(), QStringLiteral("u"));
    EXPECT_TRUE(field.clearButtonVisible());

    QTest::mouseClick(&field, Qt::LeftButton, {}, field.clearButtonRect().center());
    EXPECT_EQ(field.text(), QString());
    ASSERT_EQ(edits.count(), 2);
    EXPECT_EQ(edits.last().at(0).toString(), QString());
    EXPECT_FALSE(field.clearButtonVisible());
}

TEST(SearchField, FillingFromTheModelEmitsNothing)
{
    SearchField field;
    QSignalSpy edits(&field, &SearchField::textEdited);
    field.setText(QStringLiteral("users"));
    EXPECT_EQ(field.text(), QStringLiteral("users"));
    EXPECT_TRUE(field.clearButtonVisible());
    EXPECT_EQ(edits.count(), 0);
}

TEST(SearchField, ClickingBesideTheClearButtonKeepsTheText)
{
    SearchField field;
    field.resize(300, 32);
    field.setText(QStringLiteral("abc"));
    field.show();
    QTest::mouseClick(&field, Qt::LeftButton, {}, QPoint(12, 16)); // on the magnifier
    EXPECT_EQ(field.text(), QStringLiteral("abc"));
}
