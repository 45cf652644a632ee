// Activity strip: levels, colours, cell geometry, and out-of-range column counts.
#include "design/activity_graph.h"

#include "design/palette.h"

#include <QImage>
#include <QWidget>

#include <climits>

#include <gtest/gtest.h>

TEST(ActivityCells, ShortListsPadWithEmptyCells)
{
    const QList<int> values = {1, 2, 3};
    EXPECT_EQ(ActivityCells::level(values, 0), 1);
    EXPECT_EQ(ActivityCells::level(values, 2), 3);
    EXPECT_EQ(ActivityCells::level(values, 3), 0);
    EXPECT_EQ(ActivityCells::level(values, 4), 0);
    EXPECT_EQ(ActivityCells::level({}, 0), 0);
}

TEST(ActivityCells, LevelColours)
{
    const Palette &p = Palette::dark();
    EXPECT_EQ(ActivityCells::color(-1, p), p.muted);
    EXPECT_EQ(ActivityCells::color(0, p), p.muted);
    EXPECT_NEAR(ActivityCells::color(1, p).alphaF(), 0.35, 0.005);
    EXPECT_NEAR(ActivityCells::color(2, p).alphaF(), 0.6, 0.005);
    EXPECT_NEAR(ActivityCells::color(3, p).alphaF(), 0.85, 0.005);
    EXPECT_EQ(ActivityCells::color(4, p), Palette::mint());
    EXPECT_EQ(ActivityCells::color(9, p), Palette::mint());
    EXPECT_EQ(ActivityCells::color(2, p).rgb(), Palette::mint().rgb());
    EXPECT_EQ(ActivityCells::color(0, Palette::light()), Palette::light().muted);
}

TEST(ActivityCells, CellsShareTheWidthAndStaySquare)
{
    // 24 cells, 23 gaps of 3: (285 - 69) / 24 = 9 each.
    const QList<QRectF> cells = ActivityCells::rects(285, 9, 24);
    ASSERT_EQ(cells.size(), 24);
    for (const QRectF &cell : cells) {
        EXPECT_DOUBLE_EQ(cell.width(), 9);
        EXPECT_DOUBLE_EQ(cell.height(), 9);
    }
    EXPECT_DOUBLE_EQ(cells.first().left(), 0);
    EXPECT_DOUBLE_EQ(cells.last().right(), 285);
    EXPECT_DOUBLE_EQ(cells[1].left() - cells[0].right(), 3);
}

TEST(ActivityCells, TallRowsCentreTheSquaresVertically)
{
    const QList<QRectF> cells = ActivityCells::rects(285, 29, 24);
    ASSERT_EQ(cells.size(), 24);
    EXPECT_DOUBLE_EQ(cells.first().top(), 10);
    EXPECT_DOUBLE_EQ(cells.first().height(), 9);
}

TEST(ActivityCells, ZeroNegativeAndHugeColumnCountsAreSafe)
{
    EXPECT_TRUE(ActivityCells::rects(300, 10, 0).isEmpty());
    EXPECT_TRUE(ActivityCells::rects(300, 10, -4).isEmpty());
    EXPECT_TRUE(ActivityCells::rects(300, 10, INT_MIN).isEmpty());
    // More columns than pixels: nothing fits, and nothing is allocated per column.
    EXPECT_TRUE(ActivityCells::rects(300, 10, INT_MAX).isEmpty());
    EXPECT_LE(ActivityCells::rects(300, 10, 99).size(), 99);
}

TEST(ActivityGraph, ZeroOrNegativeColumnsDrawAnEmptyRow)
{
    QWidget host;
    auto *graph = new ActivityGraph({4, 4, 4}, 0, &host);
    graph->resize(200, 20);
    EXPECT_EQ(graph->heightForWidth(200), 0);
    EXPECT_FALSE(graph->grab().isNull());
    graph->setColumns(-3);
    EXPECT_EQ(graph->heightForWidth(200), 0);
    EXPECT_FALSE(graph->grab().isNull());
    graph->setColumns(INT_MAX);
    EXPECT_EQ(graph->heightForWidth(200), 0);
    EXPECT_FALSE(graph->grab().isNull());
}

TEST(ActivityGraph, HeightFollowsTheCellWidth)
{
    ActivityGraph graph({}, 24);
    EXPECT_EQ(graph.heightForWidth(285), 9);
    EXPECT_TRUE(graph.hasHeightForWidth());
}

TEST(ActivityGraph, ValuesBeyondColumnsAreNotShown)
{
    QWidget host;
    PaletteHost::set(&host, Palette::light());
    auto *graph = new ActivityGraph({0, 0, 4, 4, 4}, 3, &host);
    graph->resize(63, 19); // cells of 19 x 19
    const QImage image = graph->grab().toImage();
    // Third cell is full mint; nothing is drawn past the row.
    EXPECT_EQ(QColor(image.pixel(54, 9)).rgb(), Palette::mint().rgb());
    EXPECT_NE(QColor(image.pixel(10, 9)).rgb(), Palette::mint().rgb());
}
