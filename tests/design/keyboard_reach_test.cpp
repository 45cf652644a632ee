// The keyboard reaches every painted control: Tab order, presses by Space and Return, the focus ring.
#include "design/choice_chips.h"
#include "design/copy_button.h"
#include "design/keyboard_reach.h"
#include "design/keyboard_rows.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/shell_widgets.h"
#include "design/sidebar_row.h"
#include "design/snow_switch.h"
#include "support/test_support.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QStringListModel>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

// A window filled with the background of the palette in force, as the app's own are.
class Backdrop final : public QWidget
{
protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), Palette::of(this).background); }
};

// A window holding one control of each kind, in a row, after a text field.
struct Gallery
{
    Gallery()
    {
        window.resize(720, 120);
        auto *layout = new QHBoxLayout(&window);
        layout->setContentsMargins(16, 16, 16, 16);
        layout->setSpacing(12);
        field = new QLineEdit(&window);
        layout->addWidget(field);
        primary = new PrimaryButton(QStringLiteral("Create"), QStringLiteral("plus"), KSButton::Size::md, false, false,
                                    [this] { ++presses; }, &window);
        layout->addWidget(primary);
        disabled = new SecondaryButton(QStringLiteral("Later"), {}, false, KSButton::Size::md, false, true, {}, &window);
        layout->addWidget(disabled);
        toggle = new SnowSwitch(&window);
        layout->addWidget(toggle);
        chips = new ChoiceChips(&window);
        chips->setItems({{0, QStringLiteral("Off"), std::nullopt}, {1, QStringLiteral("Slow"), Palette::yellow()}});
        chips->setSelection(0);
        layout->addWidget(chips);
        row = new SidebarRow(QStringLiteral("History"), &window);
        row->setIcon(QStringLiteral("clock.arrow.circlepath"));
        row->setFixedWidth(140);
        layout->addWidget(row);
        QObject::connect(row, &SidebarRow::clicked, [this] { ++rowPresses; });
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        field->setFocus(Qt::OtherFocusReason);
    }

    Backdrop window;
    QLineEdit *field;
    PrimaryButton *primary;
    SecondaryButton *disabled;
    SnowSwitch *toggle;
    ChoiceChips *chips;
    SidebarRow *row;
    int presses = 0;
    int rowPresses = 0;
};

QWidget *tabTo(Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    EXPECT_TRUE(testsupport::pressKey(Qt::Key_Tab, modifiers));
    return QApplication::focusWidget();
}

// How many pixels of the image are near the colour.
int pixelsNear(const QImage &image, const QColor &colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += qAbs(c.red() - colour.red()) + qAbs(c.green() - colour.green()) + qAbs(c.blue() - colour.blue()) < 40
                         ? 1
                         : 0;
        }
    return count;
}

} // namespace

TEST(KeyboardReach, TabAndShiftTabVisitEveryControlInOrderAndSkipTheDisabled)
{
    Gallery g;
    ASSERT_EQ(QApplication::focusWidget(), g.field);
    EXPECT_EQ(tabTo(), g.primary);
    EXPECT_EQ(tabTo(), g.toggle) << "the disabled button is passed over";
    EXPECT_EQ(tabTo(), g.chips->chip(0));
    EXPECT_EQ(tabTo(), g.chips->chip(1));
    EXPECT_EQ(tabTo(), g.row);
    EXPECT_EQ(tabTo(Qt::ShiftModifier), g.chips->chip(1));
    EXPECT_EQ(tabTo(Qt::ShiftModifier), g.chips->chip(0));
    EXPECT_EQ(tabTo(Qt::ShiftModifier), g.toggle);
    EXPECT_EQ(tabTo(Qt::ShiftModifier), g.primary);
    EXPECT_EQ(tabTo(Qt::ShiftModifier), g.field);

    // Enabled again, the button is back in the order.
    g.disabled->setDisabled(false);
    tabTo();
    EXPECT_EQ(tabTo(), g.disabled);
}

TEST(KeyboardReach, SpaceAndReturnPressTheFocusedControl)
{
    Gallery g;
    tabTo();
    ASSERT_EQ(QApplication::focusWidget(), g.primary);
    testsupport::pressKey(Qt::Key_Space);
    testsupport::pressKey(Qt::Key_Return);
    testsupport::pressKey(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(g.presses, 3);
    // A key with a modifier is no press.
    testsupport::pressKey(Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(g.presses, 3);

    tabTo();
    testsupport::pressKey(Qt::Key_Space);
    EXPECT_TRUE(g.toggle->isOn());
    testsupport::pressKey(Qt::Key_Return);
    EXPECT_FALSE(g.toggle->isOn());

    tabTo();
    tabTo();
    ASSERT_EQ(QApplication::focusWidget(), g.chips->chip(1));
    testsupport::pressKey(Qt::Key_Space);
    EXPECT_EQ(g.chips->selection(), QVariant(1));

    tabTo();
    testsupport::pressKey(Qt::Key_Return);
    EXPECT_EQ(g.rowPresses, 1);
}

TEST(KeyboardReach, AClickLeavesTheFocusInTheField)
{
    Gallery g;
    QTest::mouseClick(g.primary, Qt::LeftButton, {}, g.primary->rect().center());
    EXPECT_EQ(g.presses, 1);
    EXPECT_EQ(QApplication::focusWidget(), g.field);
}

TEST(KeyboardReach, PlainAndCopyButtonsAreReachedAndPressed)
{
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    auto *plain = new PlainButton(&window);
    plain->setFixedSize(80, 24);
    auto *copy = new CopyButton(QStringLiteral("curl -x 127.0.0.1:9999"), 11, &window);
    layout->addWidget(plain);
    layout->addWidget(copy);
    int plainPresses = 0;
    QObject::connect(plain, &PlainButton::clicked, [&] { ++plainPresses; });
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    // Opening handed the first control the focus; the user's Tab and Shift+Tab make it theirs.
    copy->setFocus(Qt::TabFocusReason);
    plain->setFocus(Qt::BacktabFocusReason);
    testsupport::pressKey(Qt::Key_Space);
    EXPECT_EQ(plainPresses, 1);
    EXPECT_EQ(tabTo(), copy);
    testsupport::pressKey(Qt::Key_Return);
    EXPECT_TRUE(copy->isCopied());
}

TEST(KeyboardReach, TheRingShowsOnlyWithTheFocusInBothThemes)
{
    Gallery g;
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        PaletteHost::set(&g.window, *palette);
        const QString theme = palette->isDark ? QStringLiteral("dark") : QStringLiteral("light");
        const QColor ring = KeyboardReach::ringColor(*palette);
        for (QWidget *control : QList<QWidget *>{g.primary, g.toggle, g.chips->chip(1), g.row}) {
            g.field->setFocus(Qt::OtherFocusReason);
            QCoreApplication::processEvents();
            const QImage before = control->grab().toImage();
            control->setFocus(Qt::TabFocusReason);
            QCoreApplication::processEvents();
            const QImage after = control->grab().toImage();
            const std::string what = theme.toStdString() + " " + control->metaObject()->className();
            // The ring runs round the outline: its colour at the middle of the top edge, and changed
            // pixels all along the perimeter.
            const QColor top = after.pixelColor(after.width() / 2, 1);
            EXPECT_LT(qAbs(top.red() - ring.red()) + qAbs(top.green() - ring.green()) + qAbs(top.blue() - ring.blue()), 40)
                << what;
            int changed = 0;
            for (int y = 0; y < after.height(); ++y)
                for (int x = 0; x < after.width(); ++x)
                    changed += before.pixel(x, y) != after.pixel(x, y) ? 1 : 0;
            EXPECT_GT(changed, 2 * (after.width() + after.height())) << what;
            EXPECT_GT(pixelsNear(after, ring), after.width()) << what;
        }
        g.primary->setFocus(Qt::TabFocusReason);
        testsupport::saveRender(&g.window, QStringLiteral("design"), QStringLiteral("focus-ring-button-") + theme);
        g.chips->chip(1)->setFocus(Qt::TabFocusReason);
        testsupport::saveRender(&g.window, QStringLiteral("design"), QStringLiteral("focus-ring-chip-") + theme);
        g.row->setFocus(Qt::TabFocusReason);
        testsupport::saveRender(&g.window, QStringLiteral("design"), QStringLiteral("focus-ring-row-") + theme);
        g.toggle->setFocus(Qt::TabFocusReason);
        testsupport::saveRender(&g.window, QStringLiteral("design"), QStringLiteral("focus-ring-switch-") + theme);
    }
}

// WCAG's contrast ratio of two opaque colours, 1 to 21.
double contrast(const QColor &a, const QColor &b)
{
    auto luminance = [](const QColor &c) {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST(KeyboardReach, TheRingStandsApartFromThePrimaryFillAndTheGroundInBothThemes)
{
    Gallery g;
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        PaletteHost::set(&g.window, *palette);
        const std::string theme = palette->isDark ? "dark" : "light";
        const QColor ring = KeyboardReach::ringColor(*palette);
        EXPECT_GE(contrast(ring, palette->background), 4.5) << theme;
        EXPECT_GE(contrast(ring, Palette::primary()), 2.0) << theme;
        // Drawn in a colour the button did not already show, so the ring is more than its gap line.
        g.field->setFocus(Qt::OtherFocusReason);
        QCoreApplication::processEvents();
        const QImage before = g.primary->grab().toImage();
        g.primary->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        const QImage after = g.primary->grab().toImage();
        EXPECT_GT(pixelsNear(after, ring) - pixelsNear(before, ring), 2 * after.width()) << theme;
    }
}

TEST(KeyboardReach, TheFocusAWindowHandsOverOnOpeningShowsNoRingAndTakesNoKeys)
{
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    int presses = 0;
    auto *first = new PrimaryButton(QStringLiteral("Close"), {}, KSButton::Size::md, false, false, [&] { ++presses; });
    auto *second = new SecondaryButton(QStringLiteral("Keep"));
    layout->addWidget(first);
    layout->addWidget(second);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QCoreApplication::processEvents();
    // The window gave its first control the focus on its own.
    ASSERT_EQ(QApplication::focusWidget(), first);
    EXPECT_FALSE(KeyboardReach::showsRing(first));
    testsupport::pressKey(Qt::Key_Return);
    EXPECT_EQ(presses, 0);
    // Once the user moves the focus, it is theirs.
    EXPECT_TRUE(testsupport::pressKey(Qt::Key_Tab));
    QWidget *now = QApplication::focusWidget();
    ASSERT_TRUE(now == first || now == second);
    EXPECT_TRUE(KeyboardReach::showsRing(now));
    first->setFocus(Qt::BacktabFocusReason);
    testsupport::pressKey(Qt::Key_Return);
    EXPECT_EQ(presses, 1);
}

TEST(KeyboardReach, TabInAWindowWithOneControlMakesItsFocusTheUsers)
{
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    int presses = 0;
    auto *only = new PrimaryButton(QStringLiteral("Close"), {}, KSButton::Size::md, false, false, [&] { ++presses; });
    layout->addWidget(only);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QCoreApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), only);
    ASSERT_FALSE(KeyboardReach::showsRing(only));
    // Tab has nowhere else to go: the focus stays, shown and taking the keys.
    EXPECT_TRUE(testsupport::pressKey(Qt::Key_Tab));
    EXPECT_EQ(QApplication::focusWidget(), only);
    EXPECT_TRUE(KeyboardReach::showsRing(only));
    testsupport::pressKey(Qt::Key_Return);
    EXPECT_EQ(presses, 1);
}

TEST(KeyboardRows, AClickOnARowOfAListThatKeepsTheFocusWhereItWasMovesTheKeysThere)
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *before = new PrimaryButton(QStringLiteral("New"), {}, KSButton::Size::md, false, false, [] {});
    layout->addWidget(before);
    QStringListModel model({QStringLiteral("Default"), QStringLiteral("Payments"), QStringLiteral("Search")});
    auto *list = new QListView;
    list->setModel(&model);
    list->setFocusPolicy(Qt::TabFocus);
    layout->addWidget(list);
    KeyboardRows *keys = KeyboardRows::install(list, {}, KeyboardRows::Click::keepsFocus);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    before->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Tab));
    ASSERT_EQ(QApplication::focusWidget(), list);
    ASSERT_EQ(keys->current().row(), 0);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(model.index(2, 0)).center());
    EXPECT_EQ(keys->current().row(), 2);
    EXPECT_TRUE(KeyboardRows::ringsRow(list, model.index(2, 0)));
    ASSERT_TRUE(testsupport::pressKey(Qt::Key_Up));
    EXPECT_EQ(keys->current().row(), 1) << "the arrows go on from the row clicked";
}
