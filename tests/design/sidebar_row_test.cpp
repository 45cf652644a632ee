// Sidebar rows and count pills: sizes, fills, hover and clicks.
#include "design/badges.h"
#include "design/fonts.h"
#include "design/palette.h"
#include "design/sidebar_row.h"

#include <QFontMetrics>
#include <QtMath>

#include <QEnterEvent>
#include <QLayout>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

TEST(SidebarRow, NestedAndTopLevelSizesAndFills)
{
    SidebarRow nested(QStringLiteral("/v2/users"));
    nested.setIndent(12);
    nested.setActive(true);
    EXPECT_EQ(nested.height(), 26);
    EXPECT_EQ(nested.layout()->contentsMargins().left(), 20);
    SidebarRow top(QStringLiteral("Dashboard"));
    top.setIcon(QStringLiteral("house"));
    EXPECT_EQ(top.height(), 30);
    EXPECT_EQ(top.layout()->contentsMargins().left(), 8);

    const Palette &p = Palette::dark();
    EXPECT_EQ(SidebarRow::rowFill(p, true, 12, false), p.subtle);
    EXPECT_EQ(SidebarRow::rowFill(p, true, 0, false), p.mutedStrong);
    EXPECT_EQ(SidebarRow::rowFill(p, true, 0, true), p.mutedStrong); // an active row ignores hover
    EXPECT_EQ(SidebarRow::rowFill(p, false, 0, true), p.muted);
    EXPECT_EQ(SidebarRow::rowFill(p, false, 0, false), QColor(Qt::transparent));
}

TEST(SidebarRow, ClickRunsTheActionAndHoverFollowsThePointer)
{
    SidebarRow row(QStringLiteral("Live traffic"));
    row.setTrailing(new SidebarCount(12, true));
    row.resize(220, 30);
    row.show();
    QSignalSpy clicks(&row, &SidebarRow::clicked);
    QTest::mouseClick(&row, Qt::LeftButton, {}, QPoint(20, 15));
    EXPECT_EQ(clicks.count(), 1);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&row, &enter);
    EXPECT_TRUE(row.isHovered());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&row, &leave);
    EXPECT_FALSE(row.isHovered());
}

TEST(SidebarCount, PlainDigitsAndTheEmphasisedPill)
{
    EXPECT_EQ(SidebarCount(0).text(), QStringLiteral("0"));
    EXPECT_EQ(SidebarCount(1234).text(), QStringLiteral("1234"));
    SidebarCount emphasised(3, true);
    EXPECT_GE(emphasised.sizeHint().width(), 18);
    EXPECT_GE(emphasised.sizeHint().height(), 18);
}

TEST(SidebarRow, NaturalWidthKeepsTheSpacingBeforeTheSpacer)
{
    // Leading pad 8, the label, the row's 8-point spacing, the spacer's 4 and the trailing pad 8.
    SidebarRow row(QStringLiteral("Routes"));
    const int label = QFontMetrics(Fonts::inter(13, QFont::Medium)).horizontalAdvance(QStringLiteral("Routes"));
    EXPECT_EQ(row.sizeHint().width(), 8 + label + 8 + 4 + 8);
}

TEST(SidebarCount, DigitsTakeEqualWidths)
{
    // "1111" is as wide as "8888": every digit takes the widest digit's cell.
    EXPECT_EQ(SidebarCount(1111).sizeHint().width(), SidebarCount(8888).sizeHint().width());
    EXPECT_DOUBLE_EQ(tabularTextWidth(QStringLiteral("1111"), Fonts::inter(11, QFont::Medium)),
                     tabularTextWidth(QStringLiteral("8888"), Fonts::inter(11, QFont::Medium)));
    // Not emphasised: 2 points each side, no minimum.
    const qreal text = tabularTextWidth(QStringLiteral("7"), Fonts::inter(11, QFont::Medium));
    EXPECT_EQ(SidebarCount(7).sizeHint().width(), qCeil(text) + 1 + 4);
}
