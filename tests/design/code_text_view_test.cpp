// The line-painting code view: each line of the text takes ceil(length / columns) shown lines, and a mouse
// drag maps back to the right characters across wrapped and empty lines.
#include "design/code_text_view.h"
#include "design/palette.h"

#include <QFontMetricsF>
#include <QTest>
#include <QtMath>

#include <gtest/gtest.h>

TEST(CodeTextView, WrapsEachLineByItsOwnLengthAndSelectsAcrossShownLines)
{
    const QFont font(QStringLiteral("monospace"), 12);
    const QFontMetricsF metrics(font);
    const qreal charWidth = metrics.horizontalAdvance(QLatin1Char('M'));
    const qreal lineHeight = metrics.lineSpacing();
    CodeTextView view(font, {}, false);
    view.setFixedWidth(qCeil(4 * charWidth) + 1); // four columns
    // Lines of 2, 10, 0, 4 and 5 characters: 1 + 3 + 1 + 1 + 2 shown lines.
    view.setText(QStringLiteral("ab\n0123456789\n\nwxyz\nlast!"));
    EXPECT_EQ(view.lineCount(), 8);
    EXPECT_EQ(view.heightForWidth(view.width()), qCeil(8 * lineHeight));
    // Wider than every line: one shown line per line of the text.
    EXPECT_EQ(view.heightForWidth(qCeil(20 * charWidth) + 1), qCeil(5 * lineHeight));
    view.show();

    // From the start of the fourth shown line ("89") to two characters into the seventh ("la").
    const auto at = [&](int column, int line) {
        return QPoint(qRound(column * charWidth), qRound((line + 0.5) * lineHeight));
    };
    QTest::mousePress(&view, Qt::LeftButton, {}, at(0, 3));
    QTest::mouseMove(&view, at(2, 6));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, at(2, 6));
    EXPECT_EQ(view.selectedText(), QStringLiteral("89\n\nwxyz\nla"));

    // A new text forgets the old lines.
    view.setText(QStringLiteral("x"));
    EXPECT_EQ(view.lineCount(), 1);
    EXPECT_EQ(view.selectedText(), QString());
}
