// The two palettes, the accents, the derived colours and how a widget finds the palette in force.
#include "design/palette.h"

#include <QEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <utility>

namespace {

QColor black(qreal a) { return QColor::fromRgbF(0, 0, 0, float(a)); }
QColor white(qreal a) { return QColor::fromRgbF(1, 1, 1, float(a)); }

// Compares colours by their 8-bit components, which is what reaches the screen.
::testing::AssertionResult sameColor(const QColor &actual, const QColor &expected)
{
    if (actual.rgba() == expected.rgba())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual.name(QColor::HexArgb).toStdString() << " != "
                                         << expected.name(QColor::HexArgb).toStdString();
}

class CountingWidget final : public QWidget
{
public:
    using QWidget::QWidget;
    int paletteEvents = 0;

protected:
    bool event(QEvent *e) override
    {
        if (e->type() == PaletteHost::changedEventType())
            ++paletteEvents;
        return QWidget::event(e);
    }
};

} // namespace

TEST(Palette, LightHoldsTheTableValues)
{
    const Palette &p = Palette::light();
    EXPECT_TRUE(sameColor(p.background, QColor(0xFF, 0xFF, 0xFF)));
    EXPECT_TRUE(sameColor(p.content, QColor(0xFF, 0xFF, 0xFF)));
    EXPECT_TRUE(sameColor(p.card, QColor(0xF9, 0xF9, 0xFA)));
    EXPECT_TRUE(sameColor(p.elevated, QColor(0xFF, 0xFF, 0xFF)));
    EXPECT_TRUE(sameColor(p.muted, black(0.05)));
    EXPECT_TRUE(sameColor(p.mutedStrong, black(0.1)));
    EXPECT_TRUE(sameColor(p.subtle, black(0.04)));
    EXPECT_TRUE(sameColor(p.mutedForeground, black(0.4)));
    EXPECT_TRUE(sameColor(p.faint, black(0.2)));
    EXPECT_TRUE(sameColor(p.foreground, QColor(0, 0, 0)));
    EXPECT_TRUE(sameColor(p.border, black(0.1)));
    EXPECT_TRUE(sameColor(p.borderStrong, black(0.2)));
    EXPECT_TRUE(sameColor(p.inputBackground, black(0.04)));
    EXPECT_TRUE(sameColor(p.switchOff, black(0.2)));
    EXPECT_TRUE(sameColor(p.shadow, black(0.1)));
    EXPECT_TRUE(sameColor(p.pillActiveBg, black(0.1)));
    EXPECT_TRUE(sameColor(p.pillActiveText, QColor(0, 0, 0)));
    EXPECT_TRUE(sameColor(p.sidebarBg, QColor(0xFF, 0xFF, 0xFF)));
    EXPECT_TRUE(sameColor(p.railBg, QColor(0xFF, 0xFF, 0xFF)));
    EXPECT_EQ(p.tableHeader.alpha(), 0);
    EXPECT_TRUE(sameColor(p.brand, QColor(0, 0, 0)));
    EXPECT_TRUE(sameColor(p.brandHover, QColor(0x66, 0x66, 0x66)));
    EXPECT_TRUE(sameColor(p.onBrand, QColor(0xFF, 0xFF, 0xFF)));
    EXPECT_FALSE(p.isDark);
}

TEST(Palette, DarkHoldsTheTableValues)
{
    const Palette &p = Palette::dark();
    EXPECT_TRUE(sameColor(p.background, QColor(0x2A, 0x2A, 0x2A)));
    EXPECT_TRUE(sameColor(p.content, QColor(0x2A, 0x2A, 0x2A)));
    EXPECT_TRUE(sameColor(p.card, white(0.05)));
    EXPECT_TRUE(sameColor(p.elevated, QColor(0x38, 0x38, 0x38)));
    EXPECT_TRUE(sameColor(p.muted, white(0.05)));
    EXPECT_TRUE(sameColor(p.mutedStrong, white(0.1)));
    EXPECT_TRUE(sameColor(p.subtle, white(0.04)));
    EXPECT_TRUE(sameColor(p.mutedForeground, white(0.4)));
    EXPECT_TRUE(sameColor(p.faint, white(0.2)));
    EXPECT_TRUE(sameColor(p.foreground, QColor(0xFF, 0xFF, 0xFF)));
    EXPECT_TRUE(sameColor(p.border, white(0.1)));
    EXPECT_TRUE(sameColor(p.borderStrong, white(0.2)));
    EXPECT_TRUE(sameColor(p.inputBackground, white(0.04)));
    EXPECT_TRUE(sameColor(p.switchOff, white(0.2)));
    EXPECT_TRUE(sameColor(p.shadow, black(0.4)));
    EXPECT_TRUE(sameColor(p.pillActiveBg, white(0.1)));
    EXPECT_TRUE(sameColor(p.pillActiveText, QColor(0xFF, 0xFF, 0xFF)));
    EXPECT_TRUE(sameColor(p.sidebarBg, QColor(0x24, 0x24, 0x24)));
    EXPECT_TRUE(sameColor(p.railBg, QColor(0x2A, 0x2A, 0x2A)));
    EXPECT_EQ(p.tableHeader.alpha(), 0);
    EXPECT_TRUE(sameColor(p.brand, QColor(0x9F, 0x9F, 0xF8)));
    EXPECT_TRUE(sameColor(p.brandHover, QColor(0x5F, 0x5F, 0x95)));
    EXPECT_TRUE(sameColor(p.onBrand, QColor(0, 0, 0)));
    EXPECT_TRUE(p.isDark);
}

TEST(Palette, AccentsAndAliasesShareOneValue)
{
    EXPECT_TRUE(sameColor(Palette::purple(), QColor(0xC9, 0xB3, 0xED)));
    EXPECT_TRUE(sameColor(Palette::indigo(), QColor(0x9F, 0x9F, 0xF8)));
    EXPECT_TRUE(sameColor(Palette::blue(), QColor(0x92, 0xBF, 0xFF)));
    EXPECT_TRUE(sameColor(Palette::cyan(), QColor(0xAE, 0xC7, 0xED)));
    EXPECT_TRUE(sameColor(Palette::mint(), QColor(0x96, 0xE2, 0xD6)));
    EXPECT_TRUE(sameColor(Palette::green(), QColor(0x94, 0xE9, 0xB8)));
    EXPECT_TRUE(sameColor(Palette::yellow(), QColor(0xFF, 0xDB, 0x56)));
    EXPECT_TRUE(sameColor(Palette::orange(), QColor(0xFF, 0xB5, 0x5B)));
    EXPECT_TRUE(sameColor(Palette::red(), QColor(0xFF, 0x47, 0x47)));
    EXPECT_TRUE(sameColor(Palette::bg3(), QColor(0xE6, 0xF1, 0xFD)));
    EXPECT_TRUE(sameColor(Palette::bg4(), QColor(0xED, 0xEE, 0xFC)));
    EXPECT_EQ(Palette::primary(), Palette::indigo());
    EXPECT_EQ(Palette::amber(), Palette::yellow());
    EXPECT_EQ(Palette::danger(), Palette::red());
    EXPECT_EQ(Palette::success(), Palette::green());
    EXPECT_EQ(Palette::primary(), Palette::dark().brand);
}

TEST(Palette, DerivedColoursFollowIsDark)
{
    EXPECT_TRUE(sameColor(Palette::light().accentText(), QColor(0, 0, 0)));
    EXPECT_TRUE(sameColor(Palette::dark().accentText(), Palette::indigo()));
    EXPECT_TRUE(sameColor(Palette::light().errorRed(), QColor(0xE0, 0x31, 0x31)));
    EXPECT_TRUE(sameColor(Palette::dark().errorRed(), QColor(0xFF, 0x6B, 0x6B)));
    EXPECT_TRUE(sameColor(Palette::pastelInk(), black(0.75)));
}

TEST(PaletteOf, DefaultsToLightWithoutAHost)
{
    QWidget parent;
    QWidget child(&parent);
    EXPECT_EQ(Palette::of(&child), Palette::light());
    EXPECT_EQ(Palette::of(nullptr), Palette::light());
}

TEST(PaletteOf, TakesTheNearestHostUpTheParents)
{
    QWidget window;
    QWidget middle(&window);
    QWidget leaf(&middle);
    PaletteHost::set(&window, Palette::dark());
    EXPECT_TRUE(Palette::of(&leaf).isDark);

    // A nearer host wins over the window's.
    PaletteHost::set(&middle, Palette::light());
    EXPECT_FALSE(Palette::of(&leaf).isDark);
    EXPECT_TRUE(Palette::of(&window).isDark);

    PaletteHost::clear(&middle);
    EXPECT_TRUE(Palette::of(&leaf).isDark);
}

TEST(PaletteOf, PopupWindowsInheritFromTheirParent)
{
    QWidget window;
    PaletteHost::set(&window, Palette::dark());
    QWidget popup(&window, Qt::Popup);
    EXPECT_TRUE(Palette::of(&popup).isDark);
}

TEST(PaletteHost, SettingTellsEveryWidgetOfTheTree)
{
    CountingWidget window;
    auto *child = new CountingWidget(&window);
    auto *grandchild = new CountingWidget(child);
    PaletteHost::set(&window, Palette::dark());
    EXPECT_EQ(window.paletteEvents, 1);
    EXPECT_EQ(child->paletteEvents, 1);
    EXPECT_EQ(grandchild->paletteEvents, 1);
}

TEST(PaletteHost, AWidgetThatRebuildsItsChildrenWhileRestylingIsSafe)
{
    // Restyling deletes the sibling that comes after it in the tree walk.
    struct Rebuilder final : QWidget
    {
        using QWidget::QWidget;
        QWidget *doomed = nullptr;
        bool event(QEvent *e) override
        {
            if (e->type() == QEvent::Type(PaletteHost::changedEventType()))
                delete std::exchange(doomed, nullptr);
            return QWidget::event(e);
        }
    };
    QWidget host;
    auto *rebuilder = new Rebuilder(&host);
    rebuilder->doomed = new QWidget(&host);
    new QWidget(rebuilder->doomed);
    PaletteHost::set(&host, Palette::dark());
    EXPECT_EQ(rebuilder->doomed, nullptr);
    EXPECT_EQ(host.findChildren<QWidget *>().size(), 1);
}

TEST(BlendColors, MixesFromClearWithoutDarkening)
{
    const QColor half = blendColors(QColor(Qt::transparent), QColor(255, 255, 255, 255), 0.5);
    EXPECT_EQ(half.red(), 255);
    EXPECT_NEAR(half.alphaF(), 0.5, 0.01);
    EXPECT_EQ(blendColors(Qt::black, Qt::white, 0).rgba(), QColor(Qt::black).rgba());
    EXPECT_EQ(blendColors(Qt::black, Qt::white, 1).rgba(), QColor(Qt::white).rgba());
    // Out-of-range progress is clamped.
    EXPECT_EQ(blendColors(Qt::black, Qt::white, 7).rgba(), QColor(Qt::white).rgba());
}

TEST(WithOpacity, MultipliesTheExistingAlpha)
{
    EXPECT_NEAR(withOpacity(black(0.5), 0.5).alphaF(), 0.25, 0.005);
    EXPECT_NEAR(withOpacity(Palette::red(), 0.1).alphaF(), 0.1, 0.005);
}
