// Button looks by variant and palette, sizes, and which presses reach the action.
#include "design/ks_button.h"

#include "design/hover_animation.h"
#include "design/palette.h"
#include "support/test_support.h"

#include <QEnterEvent>
#include <QHBoxLayout>
#include <QTest>

#include <gtest/gtest.h>

namespace {

void enter(QWidget *w)
{
    const QPointF centre = QRectF(w->rect()).center();
    QEnterEvent event(centre, w->mapToGlobal(centre), w->mapToGlobal(centre));
    QCoreApplication::sendEvent(w, &event);
}

void leave(QWidget *w)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(w, &event);
}

} // namespace

TEST(KSButtonLook, SizeTable)
{
    using S = KSButton::Size;
    const auto sm = KSButton::metrics(S::sm);
    const auto md = KSButton::metrics(S::md);
    const auto lg = KSButton::metrics(S::lg);
    EXPECT_EQ((std::array{sm.horizontalPadding, sm.height, sm.cornerRadius, sm.loaderSize, sm.fontSize}),
              (std::array<qreal, 5>{10, 28, 8, 14, 12}));
    EXPECT_EQ((std::array{md.horizontalPadding, md.height, md.cornerRadius, md.loaderSize, md.fontSize}),
              (std::array<qreal, 5>{16, 36, 12, 15, 13}));
    EXPECT_EQ((std::array{lg.horizontalPadding, lg.height, lg.cornerRadius, lg.loaderSize, lg.fontSize}),
              (std::array<qreal, 5>{24, 44, 16, 16, 14}));
}

TEST(KSButtonLook, PrimaryFollowsThePalette)
{
    const auto dark = KSButton::look(KSButton::Variant::primary, KSButton::Size::md, Palette::dark());
    EXPECT_EQ(dark.fill, QColor(0x9F, 0x9F, 0xF8));
    EXPECT_EQ(dark.hoverFill, QColor(0x5F, 0x5F, 0x95));
    EXPECT_EQ(dark.label, QColor(0, 0, 0));
    const auto light = KSButton::look(KSButton::Variant::primary, KSButton::Size::md, Palette::light());
    EXPECT_EQ(light.fill, QColor(0, 0, 0));
    EXPECT_EQ(light.hoverFill, QColor(0x66, 0x66, 0x66));
    EXPECT_EQ(light.label, QColor(0xFF, 0xFF, 0xFF));
}

TEST(KSButtonLook, VariantsTable)
{
    using V = KSButton::Variant;
    const Palette &p = Palette::light();
    const auto secondary = KSButton::look(V::secondary, KSButton::Size::sm, p);
    EXPECT_EQ(secondary.fill, p.muted);
    EXPECT_EQ(secondary.hoverFill, p.mutedStrong);
    EXPECT_EQ(secondary.label, p.foreground);
    const auto ghost = KSButton::look(V::ghost, KSButton::Size::sm, p);
    EXPECT_EQ(ghost.fill.alpha(), 0);
    EXPECT_EQ(ghost.hoverFill, p.muted);
    const auto destructive = KSButton::look(V::destructive, KSButton::Size::sm, p);
    EXPECT_EQ(destructive.fill, Palette::red());
    EXPECT_EQ(destructive.hoverFill, QColor(0xE0, 0x31, 0x31));
    EXPECT_EQ(destructive.label, QColor(Qt::white));
    const auto violet = KSButton::look(V::violet, KSButton::Size::sm, p);
    EXPECT_EQ(violet.fill, Palette::indigo());
    EXPECT_NEAR(violet.hoverFill.alphaF(), 0.85, 0.01);
    EXPECT_NEAR(violet.label.alphaF(), 0.8, 0.01);
}

TEST(KSButtonLook, TextVariantIsIndigoOnDarkAndBlackOnLight)
{
    EXPECT_EQ(KSButton::look(KSButton::Variant::text, KSButton::Size::md, Palette::dark()).label, Palette::indigo());
    EXPECT_EQ(KSButton::look(KSButton::Variant::text, KSButton::Size::md, Palette::light()).label, QColor(0, 0, 0));
}

TEST(KSButtonLook, ButtonReadsThePaletteOfItsHost)
{
    QWidget host;
    PaletteHost::set(&host, Palette::dark());
    KSButton button(QStringLiteral("Start"), {}, KSButton::Variant::primary, KSButton::Size::md, false, false,
                    false, {}, &host);
    EXPECT_EQ(button.currentLook().fill, Palette::dark().brand);
}

TEST(SecondaryButton, DestructiveLargeIsAsTallAsMedium)
{
    SecondaryButton lg(QStringLiteral("Clear"), QStringLiteral("trash"), true, KSButton::Size::lg);
    SecondaryButton md(QStringLiteral("Clear"), QStringLiteral("trash"), true, KSButton::Size::md);
    EXPECT_EQ(lg.height(), 36);
    EXPECT_EQ(lg.sizeHint(), md.sizeHint());
    const auto look = SecondaryButton::destructiveLook(KSButton::Size::sm, Palette::dark());
    EXPECT_EQ(look.label, QColor(0xFF, 0x6B, 0x6B));
    EXPECT_EQ(look.metrics.loaderSize, 14);
    EXPECT_NEAR(look.fill.alphaF(), 0.1, 0.01);
    EXPECT_NEAR(look.hoverFill.alphaF(), 0.18, 0.01);
    EXPECT_EQ(SecondaryButton::destructiveLook(KSButton::Size::lg, Palette::light()).label, QColor(0xE0, 0x31, 0x31));
}

TEST(SecondaryButton, NonDestructiveIsTheSecondaryVariant)
{
    SecondaryButton button(QStringLiteral("Cancel"), {}, false, KSButton::Size::lg);
    EXPECT_EQ(button.variant(), KSButton::Variant::secondary);
    EXPECT_EQ(button.height(), 44);
}

TEST(KSButton, PressCallsTheActionOnce)
{
    int calls = 0;
    KSButton button(QStringLiteral("Save"), {}, KSButton::Variant::primary, KSButton::Size::md, false, false, false,
                    [&] { ++calls; });
    int signals_ = 0;
    QObject::connect(&button, &SnowButtonBase::clicked, [&] { ++signals_; });
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(signals_, 1);
    QTest::mouseClick(&button, Qt::RightButton);
    EXPECT_EQ(calls, 1) << "only the primary button presses";
}

TEST(KSButton, DisabledOrLoadingIgnoresPresses)
{
    int calls = 0;
    KSButton button(QStringLiteral("Save"), QStringLiteral("checkmark"), KSButton::Variant::primary,
                    KSButton::Size::md, false, true, false, [&] { ++calls; });
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(calls, 0) << "loading";
    button.setLoading(false);
    button.setDisabled(true);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(calls, 0) << "disabled";
    button.setDisabled(false);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(calls, 1);
}

TEST(KSButton, ShortcutTriggerIsIgnoredWhileDisabledOrLoading)
{
    int calls = 0;
    PrimaryButton button(QStringLiteral("Save"), {}, KSButton::Size::md, false, true, [&] { ++calls; });
    EXPECT_FALSE(button.trigger()) << "disabled";
    button.setDisabled(false);
    button.setLoading(true);
    EXPECT_FALSE(button.trigger()) << "loading";
    EXPECT_EQ(calls, 0);
    button.setLoading(false);
    EXPECT_TRUE(button.trigger());
    EXPECT_EQ(calls, 1);
    int ghostCalls = 0;
    GhostIconButton ghost(QStringLiteral("xmark"), 26, 13, std::nullopt, [&] { ++ghostCalls; });
    EXPECT_TRUE(ghost.trigger()) << "no disabled state";
    EXPECT_EQ(ghostCalls, 1);
}

TEST(KSButton, ReleaseOutsideDoesNotFire)
{
    int calls = 0;
    KSButton button(QStringLiteral("Save"), {}, KSButton::Variant::primary, KSButton::Size::md, false, false, false,
                    [&] { ++calls; });
    button.show();
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(-20, 10));
    EXPECT_EQ(calls, 0);
}

TEST(KSButton, LoadingButtonTakesNoHoverAndKeepsItsLastHover)
{
    KSButton button(QStringLiteral("Go"), {}, KSButton::Variant::primary, KSButton::Size::md, false, true, false);
    button.show();
    enter(&button);
    EXPECT_FALSE(button.hovered());
    leave(&button);

    button.setLoading(false);
    enter(&button);
    EXPECT_TRUE(button.hovered());
    // Becoming disabled under the pointer keeps the hover until the pointer leaves.
    button.setDisabled(true);
    EXPECT_TRUE(button.hovered());
    leave(&button);
    EXPECT_FALSE(button.hovered());
}

TEST(KSButton, HoverFadesInOverAFewFrames)
{
    KSButton button(QStringLiteral("Go"));
    button.show();
    enter(&button);
    EXPECT_LT(button.hoverAnimation()->progress(), 1.0);
    EXPECT_TRUE(testsupport::waitFor([&] { return button.hoverAnimation()->progress() == 1.0; }, 2000));
}

TEST(KSButton, FullWidthStretchesInItsRow)
{
    QWidget host;
    auto *layout = new QHBoxLayout(&host);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *wide = new KSButton(QStringLiteral("Continue"), {}, KSButton::Variant::primary, KSButton::Size::lg, true);
    layout->addWidget(wide);
    host.resize(400, 60);
    host.show();
    EXPECT_EQ(wide->width(), 400);
    EXPECT_EQ(wide->height(), 44);

    KSButton narrow(QStringLiteral("Continue"), {}, KSButton::Variant::primary, KSButton::Size::lg, false);
    EXPECT_LT(narrow.sizeHint().width(), 400);
    EXPECT_EQ(narrow.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
}

TEST(KSButton, ActionMayDeleteTheButton)
{
    QWidget host;
    auto *button = new KSButton(QStringLiteral("Close"), {}, KSButton::Variant::ghost, KSButton::Size::sm, false,
                                false, false, {}, &host);
    button->setAction([button] { delete button; });
    host.show();
    QPointer<KSButton> watch(button);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(watch.isNull());
}

TEST(PressStyle, ScalesDownWhilePressed)
{
    KSButton button(QStringLiteral("Go"));
    button.show();
    QTest::mousePress(&button, Qt::LeftButton);
    EXPECT_TRUE(button.pressStyle()->pressed());
    EXPECT_TRUE(testsupport::waitFor([&] { return button.pressStyle()->scale() == SnowPressStyle::PressedScale; }));
    QTest::mouseRelease(&button, Qt::LeftButton);
    EXPECT_FALSE(button.pressStyle()->pressed());
    EXPECT_TRUE(testsupport::waitFor([&] { return button.pressStyle()->scale() == 1.0; }));
}

TEST(PressStyle, DisabledButtonShowsNoPress)
{
    KSButton button(QStringLiteral("Go"), {}, KSButton::Variant::primary, KSButton::Size::md, false, false, true);
    button.show();
    QTest::mousePress(&button, Qt::LeftButton);
    EXPECT_FALSE(button.pressStyle()->pressed());
    QTest::mouseRelease(&button, Qt::LeftButton);
}

TEST(GhostIconButton, MutedSymbolWithoutTintAndAlwaysPresses)
{
    QWidget host;
    PaletteHost::set(&host, Palette::dark());
    int calls = 0;
    auto *button = new GhostIconButton(QStringLiteral("trash"), 24, 12, std::nullopt, [&] { ++calls; }, &host);
    EXPECT_EQ(button->symbolColor(), Palette::dark().mutedForeground);
    button->setTint(Palette::red());
    EXPECT_EQ(button->symbolColor(), Palette::red());
    EXPECT_EQ(button->size(), QSize(24, 24));
    host.show();
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(calls, 1);
}

TEST(CircleIconButton, ZeroBadgeIsShownAndNoBadgeIsNot)
{
    QWidget host;
    auto *layout = new QHBoxLayout(&host);
    auto *withBadge = new CircleIconButton(QStringLiteral("bolt.fill"), 28, false, 0);
    auto *without = new CircleIconButton(QStringLiteral("bolt.fill"), 28, false, std::nullopt);
    layout->addWidget(withBadge);
    layout->addWidget(without);
    host.show();
    const auto siblings = host.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    EXPECT_EQ(siblings.size(), 3) << "one overlay for the one badge";
    withBadge->setBadge(std::nullopt);
    EXPECT_TRUE(testsupport::waitFor(
        [&] { return host.findChildren<QWidget *>(Qt::FindDirectChildrenOnly).size() == 2; }, 1000));

    const QRectF badge = CircleIconButton::badgeRect(QRectF(0, 0, 28, 28), QStringLiteral("0"));
    EXPECT_EQ(badge.width(), 15);
    EXPECT_EQ(badge.right(), 28 + 4);
    EXPECT_EQ(badge.top(), -4);
}

TEST(KSButton, DisabledThroughTheBaseWidgetCountsAsDisabled)
{
    int calls = 0;
    KSButton button(QStringLiteral("Save"), {}, KSButton::Variant::primary, KSButton::Size::md, false, false, false,
                    [&] { ++calls; });
    button.show();
    button.QWidget::setEnabled(false);
    EXPECT_TRUE(button.disabled());
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(calls, 0);
}
