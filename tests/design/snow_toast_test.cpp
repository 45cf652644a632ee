// The toast: a surface that inverts the appearance, symbols that keep their tone.
#include "design/palette.h"
#include "design/snow_toast.h"
#include "support/test_support.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QToolTip>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

std::string withoutBlanks(QString text)
{
    text.remove(QLatin1Char(' '));
    return text.toStdString();
}

} // namespace

TEST(SnowToast, SurfaceInvertsTheAppearanceAndTheSymbolKeepsItsTone)
{
    EXPECT_EQ(SnowToast::textColor(Palette::dark()), QColor(Qt::black));
    EXPECT_EQ(SnowToast::textColor(Palette::light()), QColor(Qt::white));
    EXPECT_EQ(SnowToast::surfaceColor(Palette::dark()), QColor::fromRgbF(1, 1, 1, 0.85f));
    EXPECT_EQ(SnowToast::surfaceColor(Palette::light()), QColor::fromRgbF(0, 0, 0, 0.8f));
    EXPECT_EQ(SnowToast::symbol(SnowToast::Tone::success), QStringLiteral("checkmark.circle.fill"));
    EXPECT_EQ(SnowToast::symbol(SnowToast::Tone::error), QStringLiteral("exclamationmark.triangle.fill"));
    EXPECT_EQ(SnowToast::symbol(SnowToast::Tone::info), QStringLiteral("info.circle.fill"));
    EXPECT_EQ(SnowToast::symbolColor(SnowToast::Tone::success), Palette::green());
    EXPECT_EQ(SnowToast::symbolColor(SnowToast::Tone::error), Palette::red());
    EXPECT_EQ(SnowToast::symbolColor(SnowToast::Tone::info), Palette::indigo());
}

TEST(SnowToast, AToastHiddenBeforeItsWindowShowsLeavesNoShadowBehind)
{
    QWidget window;
    window.resize(400, 200);
    auto *layout = new QVBoxLayout(&window);
    auto *toast = new SnowToast(QStringLiteral("The authorization was denied."), SnowToast::Tone::error);
    layout->addWidget(toast);
    ASSERT_NE(toast->shadow(), nullptr);
    toast->hide();
    window.show();
    QCoreApplication::processEvents();
    EXPECT_FALSE(toast->shadow()->isVisible());

    toast->show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(toast->shadow()->isVisible());
    toast->hide();
    EXPECT_FALSE(toast->shadow()->isVisible());
}

TEST(SnowToast, AMessageWiderThanItsRoomWrapsAndGrowsDownwards)
{
    const QString message = QStringLiteral("Trust failed: An error was encountered processing the command "
                                           "(domain=com.apple.CoreSimulator.SimError, code=405)");
    SnowToast toast(message, SnowToast::Tone::error);
    const QSize oneLine = toast.sizeHint();
    EXPECT_EQ(toast.linesAt(oneLine.width()), QStringList{message});

    // Where only 300 are free the toast stays inside them and shows every word over more lines.
    const QSize bounded = toast.sizeFor(300);
    EXPECT_LE(bounded.width(), 300);
    const QStringList lines = toast.linesAt(bounded.width());
    EXPECT_GE(lines.size(), 2);
    // Every character is drawn; a word wider than the pill breaks inside itself.
    EXPECT_EQ(withoutBlanks(lines.join(QString())), withoutBlanks(message));
    EXPECT_GT(bounded.height(), oneLine.height());
    EXPECT_EQ(bounded.height(), toast.heightForWidth(bounded.width()));

    // Its own line breaks are kept; the width is that of the longer line.
    toast.setText(QStringLiteral("Could not trust the CA.\nThe keychain is locked."));
    EXPECT_EQ(toast.linesAt(toast.sizeHint().width()),
              (QStringList{QStringLiteral("Could not trust the CA."), QStringLiteral("The keychain is locked.")}));
    EXPECT_GT(toast.heightForWidth(toast.sizeHint().width()), oneLine.height());
}

TEST(SnowToast, PastItsBoundTheLastLineIsElidedAndTheHoverShowsTheWhole)
{
    QStringList many;
    for (int i = 1; i <= SnowToast::MaxLines + 3; ++i)
        many.append(QStringLiteral("line %1 of the engine's answer").arg(i));
    const QString message = many.join(QLatin1Char('\n'));
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *toast = new SnowToast(message, SnowToast::Tone::error);
    layout->addWidget(toast);
    window.resize(500, 400);
    window.show();
    QCoreApplication::processEvents();
    const QStringList lines = toast->linesAt(toast->width());
    ASSERT_EQ(lines.size(), SnowToast::MaxLines);
    EXPECT_EQ(lines.first(), many.first());
    EXPECT_TRUE(lines.last().endsWith(QChar(0x2026))) << lines.last().toStdString();
    EXPECT_TRUE(toast->isCut());
    EXPECT_EQ(toast->toolTip(), message);
    EXPECT_LT(toast->height(), 400);

    // A message that fits has no tooltip of its own.
    toast->setText(QStringLiteral("Kestrion CA trusted in iPhone 15."));
    QCoreApplication::processEvents();
    EXPECT_FALSE(toast->isCut());
    EXPECT_TRUE(toast->toolTip().isEmpty());
}

TEST(SnowToast, TheHoverTextWrapsInsideTheWindow)
{
    // One long line of an engine's error, as a failed import reports it.
    QString message = QStringLiteral("Import failed: ");
    for (int i = 0; message.size() < 900; ++i)
        message += QStringLiteral("operation %1 has no <responses> object; ").arg(i);
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(200, 20, 20, 20);
    auto *toast = new SnowToast(message, SnowToast::Tone::error);
    layout->addWidget(toast);
    window.resize(700, 300);
    window.show();
    QCoreApplication::processEvents();
    ASSERT_TRUE(toast->isCut());

    const QPoint at = toast->mapToGlobal(QPoint(toast->width() - 4, toast->height() / 2));
    QHelpEvent hover(QEvent::ToolTip, toast->mapFromGlobal(at), at);
    QCoreApplication::sendEvent(toast, &hover);
    QWidget *tip = nullptr;
    ASSERT_TRUE(testsupport::waitFor([&] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->inherits("QTipLabel") && w->isVisible())
                tip = w;
        return tip != nullptr;
    }));
    testsupport::saveRender(tip, QStringLiteral("design"), QStringLiteral("toast-hover-text"));
    const QRect windowArea(window.mapToGlobal(QPoint(0, 0)), window.size());
    EXPECT_TRUE(windowArea.contains(tip->geometry()))
        << tip->geometry().x() << "," << tip->geometry().y() << " " << tip->width() << "x" << tip->height() << " in "
        << windowArea.x() << "," << windowArea.y() << " " << windowArea.width() << "x" << windowArea.height();
    EXPECT_GE(tip->height(), 4 * tip->fontMetrics().height());
    // Every character is in the tip, the markup-looking ones as text.
    const QStringList lines = toast->hoverLines(window.width());
    EXPECT_GT(lines.size(), 3);
    EXPECT_EQ(withoutBlanks(lines.join(QString())), withoutBlanks(message));
    for (const QString &line : lines)
        EXPECT_LE(tip->fontMetrics().horizontalAdvance(line), tip->width()) << line.toStdString();
    QToolTip::hideText();
}

TEST(SnowToast, TwoLineMessagesRenderInBothThemes)
{
    QWidget window;
    window.resize(420, 150);
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(24, 24, 24, 24);
    auto *toast = new SnowToast(QStringLiteral("Trust failed: the keychain refused the certificate.\n"
                                               "Unlock the login keychain, then try again."),
                                SnowToast::Tone::error);
    layout->addWidget(toast, 0, Qt::AlignLeft);
    layout->addStretch(1);
    window.show();
    for (const Palette *palette : {&Palette::light(), &Palette::dark()}) {
        PaletteHost::set(&window, *palette);
        QCoreApplication::processEvents();
        const QImage image(testsupport::saveRender(&window, QStringLiteral("design"),
                                                   palette->isDark ? QStringLiteral("toast-two-lines-dark")
                                                                   : QStringLiteral("toast-two-lines-light")));
        ASSERT_EQ(toast->linesAt(toast->width()).size(), 2);
        // Ink of the text in the upper and the lower half of the pill.
        const QRect pill(toast->mapTo(&window, QPoint(0, 0)), toast->size());
        const QColor ink = SnowToast::textColor(*palette);
        for (const QRect half : {QRect(pill.left(), pill.top(), pill.width(), pill.height() / 2),
                                 QRect(pill.left(), pill.center().y(), pill.width(), pill.height() / 2)}) {
            int inked = 0;
            for (int y = half.top(); y <= half.bottom(); ++y)
                for (int x = half.left(); x <= half.right(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    inked += qAbs(c.lightness() - ink.lightness()) < 40 ? 1 : 0;
                }
            EXPECT_GT(inked, 60) << (palette->isDark ? "dark" : "light");
        }
    }
}
