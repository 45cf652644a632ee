// The select box: its sizes, its menu width, and showing the choice made in its menu.
#include "design/palette.h"
#include "design/snow_menu_list.h"
#include "design/snow_menu_popup.h"
#include "design/snow_select.h"
#include "support/test_support.h"

#include <QTest>

#include <gtest/gtest.h>

TEST(SnowSelect, HeightAndTextSizeFollowTheButtonSize)
{
    SnowSelect select;
    select.setSize(KSButton::Size::sm);
    EXPECT_EQ(select.sizeHint().height(), 28);
    EXPECT_EQ(SnowSelect::textSize(KSButton::Size::sm), 12);
    select.setSize(KSButton::Size::md);
    EXPECT_EQ(select.sizeHint().height(), 36);
    EXPECT_EQ(SnowSelect::textSize(KSButton::Size::md), 13);
    select.setSize(KSButton::Size::lg);
    EXPECT_EQ(select.sizeHint().height(), 44);
    EXPECT_EQ(SnowSelect::textSize(KSButton::Size::lg), 13);
    select.setBoxWidth(120);
    EXPECT_EQ(select.width(), 120);
}

TEST(SnowSelect, MenuIsAsWideAsTheMenuWidthOrTheFixedBoxWidth)
{
    EXPECT_EQ(SnowSelect::effectiveMenuWidth(200, 120), 200);
    EXPECT_EQ(SnowSelect::effectiveMenuWidth(200, 240), 240);
    EXPECT_EQ(SnowSelect::effectiveMenuWidth(200, std::nullopt), 200);

    SnowSelect select;
    select.setBoxWidth(240);
    select.setMenuWidth(200);
    select.show();
    select.setOpen(true);
    EXPECT_EQ(select.menu()->popup()->list()->width(), 240);
    select.setOpen(false);
}

TEST(SnowSelect, ShowsTheChoiceMadeInItsMenu)
{
    QWidget host;
    PaletteHost::set(&host, Palette::dark());
    auto *select = new SnowSelect(&host);
    select->setGeometry(10, 10, 200, 36);
    select->setValue(QStringLiteral("No environment"), true);
    const QStringList names{QStringLiteral("Staging"), QStringLiteral("Production")};
    select->setItemsProvider([&] {
        QList<SnowMenuItem> items;
        for (const QString &name : names) {
            items << SnowMenuItem::entry(name, {}, [select, name] { select->setValue(name); }, SnowMenuItem::Tone::normal,
                                         name == select->value());
        }
        return items;
    });
    host.resize(300, 100);
    host.show();

    QTest::mouseClick(select, Qt::LeftButton, {}, QPoint(50, 18));
    ASSERT_TRUE(select->isOpen());
    SnowMenuPopup *popup = select->menu()->popup();
    EXPECT_EQ(Palette::of(popup->list()), Palette::dark());
    EXPECT_GE(popup->geometry().top(), select->mapToGlobal(QPoint(0, select->height())).y());

    QTest::mouseClick(popup->list(), Qt::LeftButton, {}, popup->list()->itemRect(1).center());
    EXPECT_FALSE(select->isOpen());
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(select->value(), QStringLiteral("Production"));
    EXPECT_FALSE(select->isPlaceholder());

    // Opening again shows the current choice checked.
    select->setOpen(true);
    EXPECT_TRUE(popup->list()->items().at(1).checked);
    EXPECT_FALSE(popup->list()->items().at(0).checked);
    select->setOpen(false);
}

TEST(SnowSelect, AnEmptyListStillOpensAnEmptyMenu)
{
    SnowSelect select;
    select.show();
    QTest::mouseClick(&select, Qt::LeftButton, {}, QPoint(10, 10));
    ASSERT_TRUE(select.isOpen());
    EXPECT_TRUE(select.menu()->popup()->isVisible());
    EXPECT_TRUE(select.menu()->popup()->list()->items().isEmpty());
    QTest::mouseClick(&select, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_FALSE(select.isOpen());
}

// The open look lasts while the menu is open: closed again, a select that a click left with the focus
// looks as it did before it was pressed, in both themes.
TEST(SnowSelect, OpenLookEndsWithTheMenuThoughTheFocusStays)
{
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        QWidget host;
        PaletteHost::set(&host, *palette);
        auto *select = new SnowSelect(&host);
        select->setGeometry(10, 10, 200, 36);
        select->setValue(QStringLiteral("Staging"));
        select->setItemsProvider([select] {
            return QList<SnowMenuItem>{SnowMenuItem::entry(QStringLiteral("Staging"), {},
                                                           [select] { select->setValue(QStringLiteral("Staging")); })};
        });
        host.resize(300, 100);
        host.show();
        host.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
        // The window gave the box the focus as it opened: the box at rest is drawn without it.
        select->clearFocus();
        ASSERT_TRUE(testsupport::waitFor([&] { return testsupport::animationsSettled(&host); }));
        const QImage before = select->grab().toImage();

        // Opened with a click, closed by choosing.
        QTest::mouseClick(select, Qt::LeftButton, {}, QPoint(50, 18));
        ASSERT_TRUE(select->isOpen());
        SnowMenuPopup *popup = select->menu()->popup();
        QTest::mouseClick(popup->list(), Qt::LeftButton, {}, popup->list()->itemRect(0).center());
        ASSERT_FALSE(select->isOpen());
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(select, &leave);
        // The click leaves the focus on the box.
        select->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(select->hasFocus());
        ASSERT_TRUE(testsupport::waitFor([&] { return testsupport::animationsSettled(&host); }));
        EXPECT_EQ(select->grab().toImage(), before) << palette->isDark;
    }
}
