// Right-click menus: only a right press opens them, and the view never sees that press.
#include "design/snow_context_menu.h"
#include "design/snow_menu_list.h"
#include "design/snow_menu_popup.h"

#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class PressCounter final : public QWidget
{
public:
    using QWidget::QWidget;
    int left = 0;
    int right = 0;

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        (event->button() == Qt::RightButton ? right : left)++;
    }
};

} // namespace

TEST(SnowContextMenu, LeftClicksReachTheViewAndRightPressOpensTheMenu)
{
    PressCounter view;
    view.resize(300, 40);
    int replays = 0;
    SnowContextMenu *menu = SnowContextMenu::attach(
        &view, 190, {SnowMenuItem::entry(QStringLiteral("Replay request"), QStringLiteral("arrow.clockwise"),
                                         [&] { ++replays; })});
    view.show();

    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(view.left, 1);
    EXPECT_FALSE(menu->isOpen());

    QTest::mousePress(&view, Qt::RightButton, {}, QPoint(10, 10));
    EXPECT_EQ(view.right, 0);
    ASSERT_TRUE(menu->isOpen());
    SnowMenuPopup *popup = menu->menu()->popup();
    EXPECT_GE(popup->geometry().top(), view.mapToGlobal(QPoint(0, view.height())).y());
    EXPECT_EQ(popup->list()->width(), 190);

    SnowMenuList *list = popup->list();
    QTest::mouseClick(list, Qt::LeftButton, {}, list->itemRect(0).center());
    EXPECT_EQ(replays, 1);
    EXPECT_FALSE(menu->isOpen());
}

TEST(SnowContextMenu, RightPressOnAChildOpensTheMenuToo)
{
    QWidget view;
    view.resize(300, 40);
    auto *child = new PressCounter(&view);
    child->setGeometry(100, 5, 50, 30);
    SnowContextMenu *menu = SnowContextMenu::attach(&view, 190, {SnowMenuItem::entry(QStringLiteral("A"), {}, [] {})});
    auto *late = new PressCounter(&view); // added after the menu was attached
    late->setGeometry(200, 5, 50, 30);
    view.show();
    QTest::mousePress(child, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_TRUE(menu->isOpen());
    EXPECT_EQ(child->right, 0);
    menu->menu()->close();
    QTest::mousePress(late, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_TRUE(menu->isOpen());
    EXPECT_EQ(late->right, 0);
    menu->menu()->close();
}

TEST(SnowContextMenu, WithoutEntriesNothingIsAttached)
{
    PressCounter view;
    view.resize(200, 30);
    SnowContextMenu *menu = SnowContextMenu::attach(&view, 190, QList<SnowMenuItem>{});
    view.show();
    QTest::mousePress(&view, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_EQ(view.right, 1);
    EXPECT_FALSE(menu->isOpen());
}

TEST(SnowContextMenu, RowMenusAreBuiltForThePressedPlaceAndHangBelowIt)
{
    QWidget list;
    list.resize(300, 90);
    const auto rowAt = [](const QPoint &pos) { return pos.y() / 30; };
    int chosenRow = -1;
    SnowContextMenu *menu = SnowContextMenu::attach(&list, 190, [&](const QPoint &pos) {
        const int row = rowAt(pos);
        return QList<SnowMenuItem>{SnowMenuItem::entry(QStringLiteral("Replay request"), {},
                                                       [&chosenRow, row] { chosenRow = row; })};
    });
    menu->setAnchorProvider([&](const QPoint &pos) { return QRect(0, rowAt(pos) * 30, 300, 30); });
    list.show();
    QTest::mousePress(&list, Qt::RightButton, {}, QPoint(20, 45));
    SnowMenuPopup *popup = menu->menu()->popup();
    ASSERT_TRUE(menu->isOpen());
    EXPECT_EQ(popup->anchor().top(), list.mapToGlobal(QPoint(0, 30)).y());
    QTest::mouseClick(popup->list(), Qt::LeftButton, {}, popup->list()->itemRect(0).center());
    EXPECT_EQ(chosenRow, 1);
}

TEST(SnowContextMenu, AViewWithItsOwnMenuInsideKeepsItsRightClicks)
{
    QWidget sidebar;
    sidebar.resize(240, 200);
    SnowContextMenu *outer = SnowContextMenu::attach(&sidebar, 190, {SnowMenuItem::entry(QStringLiteral("Outer"), {}, [] {})});
    auto *header = new QWidget(&sidebar);
    header->setGeometry(0, 0, 240, 30);
    SnowContextMenu *inner =
        SnowContextMenu::attach(header, 190, {SnowMenuItem::entry(QStringLiteral("Rename group…"), {}, [] {})});
    sidebar.show();
    QTest::mousePress(header, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_TRUE(inner->isOpen());
    EXPECT_FALSE(outer->isOpen());
    inner->menu()->close();
    QTest::mousePress(&sidebar, Qt::RightButton, {}, QPoint(5, 100));
    EXPECT_TRUE(outer->isOpen());
    outer->menu()->close();
}
