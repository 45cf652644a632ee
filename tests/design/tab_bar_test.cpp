// The tab bar: selection by value, the underline and the spacing between tabs.
#include "design/tab_bar.h"

#include "design/fonts.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "support/test_support.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

TEST(TabBar, UnmatchedSelectionShowsNoTabUntilOneIsTapped)
{
    TabBar tabs;
    tabs.setItems({{QStringLiteral("info"), QStringLiteral("Info")},
                   {QStringLiteral("pins"), QStringLiteral("Pins")},
                   {QStringLiteral("files"), QStringLiteral("Files")},
                   {QStringLiteral("links"), QStringLiteral("Links")}});
    tabs.setSelection(QStringLiteral("nowhere"));
    tabs.show();
    for (int i = 0; i < tabs.tabCount(); ++i)
        EXPECT_FALSE(tabs.tab(i)->isSelected());
    QSignalSpy spy(&tabs, &TabBar::selectionEdited);
    QTest::mouseClick(tabs.tab(1), Qt::LeftButton, {}, tabs.tab(1)->rect().center());
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.last().at(0).toString(), QStringLiteral("pins"));
    EXPECT_TRUE(tabs.tab(1)->isSelected());
    // Underline 3 below a 4 gap under the text, with the ring's room round both; the labels 16 apart.
    EXPECT_EQ(tabs.tab(0)->height(),
              QFontMetrics(Fonts::inter(13, QFont::DemiBold)).height() + 4 + 3 + 2 * TabBarTab::RingRoomY);
    EXPECT_EQ(tabs.tab(1)->x() - tabs.tab(0)->geometry().right() - 1 + 2 * TabBarTab::RingRoomX, 16);
}

TEST(TabBar, TheFocusRingLeavesTheLabelAndUnderlineWhole)
{
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    auto *field = new QLineEdit(&window);
    auto *tabs = new TabBar(&window);
    tabs->setItems({{QStringLiteral("Info"), QStringLiteral("Info")}, {QStringLiteral("Pins"), QStringLiteral("Pins")}});
    tabs->setSelection(QStringLiteral("Info"));
    layout->addWidget(field);
    layout->addWidget(tabs);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        PaletteHost::set(&window, *palette);
        TabBarTab *info = tabs->tab(0);
        field->setFocus(Qt::OtherFocusReason);
        QCoreApplication::processEvents();
        const QImage before = info->grab().toImage();
        ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab));
        ASSERT_EQ(QApplication::focusWidget(), info);
        QCoreApplication::processEvents();
        const QImage after = info->grab().toImage();
        ASSERT_TRUE(KeyboardReach::showsRing(info));
        // The ring changed the tab's edge, and not a pixel of what it holds: the text's whole line box and
        // the underline.
        const QRect content = info->rect().adjusted(TabBarTab::RingRoomX, TabBarTab::RingRoomY, -TabBarTab::RingRoomX,
                                                    -TabBarTab::RingRoomY);
        int edge = 0;
        int inside = 0;
        for (int y = 0; y < after.height(); ++y)
            for (int x = 0; x < after.width(); ++x) {
                const bool changed = before.pixel(x, y) != after.pixel(x, y);
                (content.contains(x, y) ? inside : edge) += changed ? 1 : 0;
            }
        EXPECT_GT(edge, after.width()) << palette->isDark;
        EXPECT_EQ(inside, 0) << palette->isDark;
        testsupport::saveRender(&window, QStringLiteral("design"),
                                QStringLiteral("focus-ring-tab-%1").arg(palette->isDark ? "dark" : "light"));
    }
}
