// The tab bar: selection by value, the underline and the spacing between tabs.
#include "design/tab_bar.h"

#include "design/fonts.h"

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
    // Underline 3 below a 4 gap under the text.
    EXPECT_EQ(tabs.tab(0)->height(), QFontMetrics(Fonts::inter(13, QFont::DemiBold)).height() + 4 + 3);
    EXPECT_EQ(tabs.tab(1)->x() - tabs.tab(0)->geometry().right() - 1, 16);
}
