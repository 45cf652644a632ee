// Dropdowns: opening below the control, live entries, the caller's palette, closing on choice.
#include "design/palette.h"
#include "design/snow_dropdown.h"
#include "design/snow_menu_list.h"
#include "design/snow_menu_popup.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

TEST(SnowDropdown, ClickOpensBelowAndASecondClickCloses)
{
    QWidget host;
    PaletteHost::set(&host, Palette::dark());
    auto *dropdown = new SnowDropdown(&host);
    dropdown->setGeometry(40, 20, 24, 24);
    dropdown->setMenuWidth(180);
    dropdown->setItems({SnowMenuItem::entry(QStringLiteral("Stop proxy"), QStringLiteral("stop.fill"), [] {})});
    host.resize(300, 200);
    host.show();

    QSignalSpy changes(dropdown, &SnowDropdown::openChanged);
    QTest::mouseClick(dropdown, Qt::LeftButton, {}, QPoint(12, 12));
    ASSERT_TRUE(dropdown->isOpen());
    SnowMenuPopup *popup = dropdown->menu()->popup();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible());
    EXPECT_GE(popup->geometry().top(), dropdown->mapToGlobal(QPoint(0, dropdown->height())).y());
    EXPECT_EQ(popup->list()->width(), 180);
    EXPECT_EQ(Palette::of(popup->list()), Palette::dark());

    QTest::mouseClick(dropdown, Qt::LeftButton, {}, QPoint(12, 12));
    EXPECT_FALSE(dropdown->isOpen());
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(changes.count(), 2);
}

TEST(SnowDropdown, RebuildsEntriesFromLiveStateEachTimeItOpens)
{
    SnowDropdown dropdown;
    dropdown.resize(24, 24);
    QString proxyState = QStringLiteral("Stop proxy");
    int builds = 0;
    dropdown.setItemsProvider([&] {
        ++builds;
        return QList<SnowMenuItem>{SnowMenuItem::entry(proxyState, {}, [] {})};
    });
    dropdown.show();
    dropdown.setOpen(true);
    EXPECT_EQ(dropdown.menu()->popup()->list()->items().first().title, QStringLiteral("Stop proxy"));
    dropdown.setOpen(false);
    proxyState = QStringLiteral("Start proxy");
    dropdown.setOpen(true);
    EXPECT_EQ(dropdown.menu()->popup()->list()->items().first().title, QStringLiteral("Start proxy"));
    EXPECT_EQ(builds, 2);
}

TEST(SnowDropdown, ChoosingAnEntryClosesTheMenuFirst)
{
    SnowDropdown dropdown;
    dropdown.resize(24, 24);
    bool openDuringAction = true;
    dropdown.setItems({SnowMenuItem::entry(QStringLiteral("Export profile…"), {}, [&] {
        openDuringAction = dropdown.isOpen();
    })});
    dropdown.show();
    dropdown.setOpen(true);
    SnowMenuList *list = dropdown.menu()->popup()->list();
    QTest::mouseClick(list, Qt::LeftButton, {}, list->itemRect(0).center());
    EXPECT_FALSE(openDuringAction);
    EXPECT_FALSE(dropdown.isOpen());
}

TEST(SnowDropdown, AnActionThatDestroysTheOwnerIsSafe)
{
    auto *dropdown = new SnowDropdown;
    dropdown->resize(24, 24);
    bool ran = false;
    dropdown->setItems({SnowMenuItem::entry(QStringLiteral("Close"), {}, [&] {
        ran = true;
        delete dropdown;
    })});
    dropdown->show();
    dropdown->setOpen(true);
    QPointer<SnowMenuPopup> popup = dropdown->menu()->popup();
    SnowMenuList *list = popup->list();
    QTest::mouseClick(list, Qt::LeftButton, {}, list->itemRect(0).center());
    EXPECT_TRUE(ran);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(popup.isNull());
}

TEST(SnowDropdown, ALabelMadeOfWidgetsLetsClicksThrough)
{
    SnowDropdown dropdown;
    auto *label = new QWidget;
    label->setFixedSize(80, 24);
    dropdown.setLabelWidget(label);
    dropdown.setItems({SnowMenuItem::entry(QStringLiteral("A"), {}, [] {})});
    dropdown.show();
    EXPECT_TRUE(label->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_EQ(dropdown.sizeHint(), QSize(80, 24));
    dropdown.setOpen(true);
    EXPECT_TRUE(dropdown.isOpen());
    dropdown.setOpen(false);
}
