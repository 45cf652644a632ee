// Line ends kept aside while an editor holds a body with one line feed per line end, and long lines found.
#include "design/line_ends.h"

#include <gtest/gtest.h>

namespace {

// Applies an edit to the editor's text and its line ends together, as the body section does.
void edit(QString &text, LineEnds &ends, qsizetype at, qsizetype removed, const QString &inserted)
{
    ends.edit(text, at, removed, inserted);
    text.replace(at, removed, inserted);
}

} // namespace

TEST(LineEnds, SplitJoinsBackByteForByte)
{
    for (const QString &body : {QStringLiteral(""), QStringLiteral("one line"), QStringLiteral("a\nb\n"),
                                QStringLiteral("a\r\nb\r\n"), QStringLiteral("{\r\n \"a\": 1,\n \"b\": 2\r\n}"),
                                QStringLiteral("old\rmac\r\nwin\nunix\r"), QStringLiteral("\r\r\n\n")}) {
        auto [text, ends] = LineEnds::split(body);
        EXPECT_FALSE(text.contains(QLatin1Char('\r'))) << body.toStdString();
        EXPECT_EQ(ends.join(text), body);
    }
}

TEST(LineEnds, NewLinesTakeTheEndOfTheLineTheySplit)
{
    auto [text, ends] = LineEnds::split(QStringLiteral("crlf\r\nlf\nlast"));
    edit(text, ends, 2, 0, QStringLiteral("\n"));          // in the CRLF line
    EXPECT_EQ(ends.join(text), "cr\r\nlf\r\nlf\nlast");
    edit(text, ends, text.indexOf(QStringLiteral("lf\nlast")) + 1, 0, QStringLiteral("\n\n")); // the LF line
    EXPECT_EQ(ends.join(text), "cr\r\nlf\r\nl\n\nf\nlast");
    edit(text, ends, text.size(), 0, QStringLiteral("\n")); // the last line has none: the one before's
    EXPECT_EQ(ends.join(text), "cr\r\nlf\r\nl\n\nf\nlast\n");
    // Joining two lines keeps the end of the second; replacing everything starts over with line feeds.
    edit(text, ends, 2, 1, {});
    EXPECT_EQ(ends.join(text), "crlf\r\nl\n\nf\nlast\n");
    edit(text, ends, 0, text.size(), QStringLiteral("x\ny"));
    EXPECT_EQ(ends.join(text), "x\ny");
}

TEST(LineEnds, LongLinesAreFoundWhereverTheyLie)
{
    EXPECT_FALSE(hasLineLongerThan(QStringLiteral("ab\ncd"), 2));
    EXPECT_TRUE(hasLineLongerThan(QStringLiteral("ab\ncde"), 2));
    EXPECT_TRUE(hasLineLongerThan(QStringLiteral("abc\nd"), 2));
    EXPECT_TRUE(hasLineLongerThan(QStringLiteral("a\nbcd\ne"), 2));
    EXPECT_FALSE(hasLineLongerThan(QString(), 0));
}

// A part of the text comes out with its own ends and goes back in with them, also into a body that had only
// line feeds; positions in the body count the CR of each CRLF before them.
TEST(LineEnds, APartTakenOutGoesBackWithItsOwnEnds)
{
    const QString body = QStringLiteral("a\r\nb\rc\nd");
    auto [text, ends] = LineEnds::split(body);
    EXPECT_EQ(ends.join(text, 1, 4), "\r\nb\rc");
    EXPECT_EQ(ends.bodyPosition(text, 2), 3);
    EXPECT_EQ(ends.bodyPosition(text, text.size()), body.size());
    const LineEnds part = ends.slice(text, 1, 4);
    const QString cut = text.mid(1, 4);
    ends.edit(text, 1, 4, {}, LineEnds());
    text.remove(1, 4);
    EXPECT_EQ(ends.join(text), "a\nd");
    ends.edit(text, 1, 0, cut, part);
    text.insert(1, cut);
    EXPECT_EQ(ends.join(text), body);

    auto [plain, plainEnds] = LineEnds::split(QStringLiteral("x\ny"));
    auto [pasted, pastedEnds] = LineEnds::split(QStringLiteral("1\r\n2"));
    plainEnds.edit(plain, 1, 0, pasted, pastedEnds);
    plain.insert(1, pasted);
    EXPECT_EQ(plainEnds.join(plain), "x1\r\n2\ny");
}
