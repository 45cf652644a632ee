// The copy button puts its text on the clipboard and confirms for a while.
#include "design/copy_button.h"
#include "design/palette.h"

#include "support/test_support.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTest>

#include <gtest/gtest.h>

TEST(CopyButton, ClickPutsTheTextOnTheClipboardAndShowsACheckmark)
{
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    CopyButton button(QStringLiteral("-----BEGIN CERTIFICATE-----\nMIIB\n"), 11);
    EXPECT_EQ(button.confirmationDuration(), 1600);
    button.setConfirmationDuration(60);
    button.show();
    EXPECT_EQ(button.symbol(), QStringLiteral("doc.on.doc"));
    QTest::mouseClick(&button, Qt::LeftButton, {}, button.rect().center());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("-----BEGIN CERTIFICATE-----\nMIIB\n"));
    EXPECT_TRUE(button.isCopied());
    EXPECT_EQ(button.symbol(), QStringLiteral("checkmark"));
    EXPECT_TRUE(testsupport::waitFor([&] { return !button.isCopied(); }));
    EXPECT_EQ(button.symbol(), QStringLiteral("doc.on.doc"));
}

TEST(CopyButton, EmptyTextStillReplacesTheClipboard)
{
    QGuiApplication::clipboard()->setText(QStringLiteral("old secret"));
    CopyButton button(QString(), 12);
    button.copy();
    EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty());
    EXPECT_TRUE(button.isCopied());
}

TEST(CopyButton, ConfirmationColours)
{
    EXPECT_EQ(CopyButton::symbolColor(Palette::light(), false), Palette::light().mutedForeground);
    EXPECT_EQ(CopyButton::symbolColor(Palette::dark(), false), Palette::dark().mutedForeground);
    EXPECT_EQ(CopyButton::symbolColor(Palette::dark(), true), Palette::green());
    EXPECT_EQ(CopyButton::symbolColor(Palette::light(), true), QColor(31, 138, 80));
}
