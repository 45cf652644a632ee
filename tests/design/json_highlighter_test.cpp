// JSON colouring: token classes, run boundaries in UTF-16 units, huge texts and parts of texts.
#include "design/json_highlighter.h"

#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

namespace {

using TC = JSONHighlighter::TokenClass;

struct Span
{
    QString text;
    TC token;
    bool operator==(const Span &other) const = default;
};

std::ostream &operator<<(std::ostream &os, const Span &span)
{
    return os << '[' << span.text.toStdString() << "|" << int(span.token) << ']';
}

TC classOf(const QColor &color, bool dark)
{
    for (TC token : {TC::key, TC::string, TC::boolean, TC::number, TC::other}) {
        if (JSONHighlighter::color(token, dark) == color)
            return token;
    }
    ADD_FAILURE() << "unexpected colour " << color.name(QColor::HexArgb).toStdString();
    return TC::other;
}

// The result as (text, class) spans; null shares the number colour, so it reads as number.
QList<Span> spans(const QString &text, bool dark = false)
{
    const ColoredText colored = JSONHighlighter::attributed(text, dark);
    EXPECT_EQ(colored.text, text);
    QList<Span> list;
    qsizetype expectedStart = 0;
    for (const ColoredRun &run : colored.runs) {
        EXPECT_EQ(run.start, expectedStart) << "runs must cover the text in order";
        EXPECT_GT(run.length, 0) << "no empty runs";
        list.append({text.mid(run.start, run.length), classOf(run.color, dark)});
        expectedStart = run.start + run.length;
    }
    EXPECT_EQ(expectedStart, text.size());
    return list;
}

// The same algorithm through a regular-expression engine, for comparing on generated inputs.
QList<Span> referenceSpans(const QString &text)
{
    static const QRegularExpression expression(
        QStringLiteral(R"(("(?:\\.|[^"\\])*"\s*:?|\b(?:true|false|null)\b|-?\d+(?:\.\d+)?(?:[eE][+\-]?\d+)?))"),
        QRegularExpression::UseUnicodePropertiesOption);
    QList<Span> list;
    qsizetype cursor = 0;
    for (const auto &m : expression.globalMatch(text)) {
        if (cursor < m.capturedStart(1))
            list.append({text.mid(cursor, m.capturedStart(1) - cursor), TC::other});
        const QString token = m.captured(1);
        TC tc = TC::number;
        if (token.startsWith(QLatin1Char('"'))) {
            QString trimmed = token;
            while (trimmed.endsWith(QLatin1Char(' ')) || trimmed.endsWith(QLatin1Char('\t')))
                trimmed.chop(1);
            tc = trimmed.endsWith(QLatin1Char(':')) ? TC::key : TC::string;
        } else if (token == QLatin1String("true") || token == QLatin1String("false")) {
            tc = TC::boolean;
        }
        list.append({token, tc});
        cursor = m.capturedEnd(1);
    }
    if (cursor < text.size())
        list.append({text.mid(cursor), TC::other});
    return list;
}

} // namespace

TEST(JSONHighlighterColours, BothSets)
{
    using JSONHighlighter::color;
    EXPECT_EQ(color(TC::key, true), QColor(0x92, 0xBF, 0xFF));
    EXPECT_EQ(color(TC::key, false), QColor(0x35, 0x63, 0xE9));
    EXPECT_EQ(color(TC::string, true), QColor(0x94, 0xE9, 0xB8));
    EXPECT_EQ(color(TC::string, false), QColor(0x1F, 0x8A, 0x50));
    EXPECT_EQ(color(TC::boolean, true), QColor(0xC9, 0xB3, 0xED));
    EXPECT_EQ(color(TC::boolean, false), QColor(0x7C, 0x3A, 0xED));
    EXPECT_EQ(color(TC::null, true), color(TC::number, true));
    EXPECT_EQ(color(TC::null, false), QColor(0xC2, 0x70, 0x1C));
    EXPECT_EQ(color(TC::other, true), QColor::fromRgbF(1, 1, 1, 0.45f));
    EXPECT_EQ(color(TC::other, false), QColor::fromRgbF(0, 0, 0, 0.45f));
}

TEST(JSONHighlighter, OneMemberObject)
{
    const QList<Span> expected = {{"{", TC::other}, {"\"a\":", TC::key}, {" ", TC::other}, {"1", TC::number},
                                   {"}", TC::other}};
    EXPECT_EQ(spans(QStringLiteral("{\"a\": 1}")), expected);
    EXPECT_EQ(spans(QStringLiteral("{\"a\": 1}"), true), expected);
}

TEST(JSONHighlighter, StringKeepsItsTrailingBlanksButNotTheComma)
{
    // The comma and the blank after it are one gap between tokens, so one run.
    const QList<Span> got = spans(QStringLiteral("\"x\"  , "));
    ASSERT_EQ(got.size(), 2);
    EXPECT_EQ(got[0], (Span{"\"x\"  ", TC::string}));
    EXPECT_EQ(got[1], (Span{", ", TC::other}));
}

TEST(JSONHighlighter, KeyWithTheColonOnTheNextLine)
{
    const QList<Span> got = spans(QStringLiteral("{\"name\"\n  : \"Ada\"}"));
    ASSERT_GE(got.size(), 2);
    EXPECT_EQ(got[1], (Span{"\"name\"\n  :", TC::key}));
    EXPECT_EQ(got[3], (Span{"\"Ada\"", TC::string}));
}

TEST(JSONHighlighter, BlanksBetweenKeyAndColonBelongToTheKey)
{
    // Spaces and tabs before the colon are part of the token, which still ends in ":".
    EXPECT_EQ(spans(QStringLiteral("\"k\" \t:")).first(), (Span{"\"k\" \t:", TC::key}));
}

TEST(JSONHighlighter, Literals)
{
    const QList<Span> expected = {{"[", TC::other},   {"true", TC::boolean}, {",", TC::other},
                                   {"false", TC::boolean}, {",", TC::other}, {"null", TC::number},
                                   {"]", TC::other}};
    EXPECT_EQ(spans(QStringLiteral("[true,false,null]")), expected);
    // No word boundary after "true": not a keyword, and its letters are plain.
    EXPECT_EQ(spans(QStringLiteral("trueish")), (QList<Span>{{"trueish", TC::other}}));
    EXPECT_EQ(spans(QStringLiteral("xnull")), (QList<Span>{{"xnull", TC::other}}));
    // Inside a string it is part of the string.
    EXPECT_EQ(spans(QStringLiteral("\"is true\"")), (QList<Span>{{"\"is true\"", TC::string}}));
}

TEST(JSONHighlighter, Numbers)
{
    EXPECT_EQ(spans(QStringLiteral("-12.5e+3")), (QList<Span>{{"-12.5e+3", TC::number}}));
    EXPECT_EQ(spans(QStringLiteral("1.")), (QList<Span>{{"1", TC::number}, {".", TC::other}}));
    EXPECT_EQ(spans(QStringLiteral("2e")), (QList<Span>{{"2", TC::number}, {"e", TC::other}}));
    EXPECT_EQ(spans(QStringLiteral("- 1")), (QList<Span>{{"- ", TC::other}, {"1", TC::number}}));
    // Numbers need no word boundary.
    EXPECT_EQ(spans(QStringLiteral("abc123")), (QList<Span>{{"abc", TC::other}, {"123", TC::number}}));
}

TEST(JSONHighlighter, EscapesAndUnterminatedStrings)
{
    EXPECT_EQ(spans(QStringLiteral(R"("a\"b")")), (QList<Span>{{R"("a\"b")", TC::string}}));
    // Unterminated: the quote falls into the gap and the number after it still counts.
    EXPECT_EQ(spans(QStringLiteral("\"abc 42")),
              (QList<Span>{{"\"abc ", TC::other}, {"42", TC::number}}));
    // A backslash before a line break ends the string attempt.
    EXPECT_EQ(spans(QStringLiteral("\"a\\\n\"")).first().token, TC::other);
}

TEST(JSONHighlighter, EmojiKeepEveryCharacterAndCutOnUtf16Boundaries)
{
    const QString text = QStringLiteral("{\"\U0001F600\": \"a\U0001F680b\", \"n\": 7}\U0001F9EA");
    const ColoredText colored = JSONHighlighter::attributed(text, true);
    EXPECT_EQ(colored.text, text);
    const QList<Span> got = spans(text, true);
    const QList<Span> expected = {
        {"{", TC::other},   {QStringLiteral("\"\U0001F600\":"), TC::key}, {" ", TC::other},
        {QStringLiteral("\"a\U0001F680b\""), TC::string}, {", ", TC::other}, {"\"n\":", TC::key},
        {" ", TC::other},   {"7", TC::number}, {QStringLiteral("}\U0001F9EA"), TC::other}};
    EXPECT_EQ(got, expected);
    // The key run covers the quote, both surrogates, the quote and the colon.
    EXPECT_EQ(colored.runs[1].start, 1);
    EXPECT_EQ(colored.runs[1].length, 5);
}

TEST(JSONHighlighter, MultiLineBody)
{
    const QString body = QStringLiteral("{\n  \"users\": [\n    {\"id\": \"usr_01\", \"active\": true}\n  ],\n"
                                        "  \"total\": 24\n}\n");
    const QList<Span> got = spans(body);
    QStringList keys;
    for (const Span &span : got) {
        if (span.token == TC::key)
            keys << span.text;
    }
    EXPECT_EQ(keys, (QStringList{"\"users\":", "\"id\":", "\"active\":", "\"total\":"}));
    EXPECT_TRUE(got.contains(Span{"24", TC::number}));
    EXPECT_TRUE(got.contains(Span{"true", TC::boolean}));
    EXPECT_TRUE(got.contains(Span{"\"usr_01\"", TC::string}));
}

TEST(JSONHighlighter, EmptyTextGivesNoRuns)
{
    EXPECT_TRUE(JSONHighlighter::attributed(QString(), true).runs.isEmpty());
    EXPECT_TRUE(JSONHighlighter::attributed(QString(), false).runs.isEmpty());
}

TEST(JSONHighlighter, AgreesWithTheRegularExpressionOnGeneratedText)
{
    const QStringList atoms = {"{", "}", "[", "]", ":", ",", "\"", "\\", " ", "\t", "\n", "a", "e", "E", "_",
                               "0", "7", "-", "+", ".", "true", "false", "null", "x", "é",
                               "\u00A0", "\u0663"};
    QRandomGenerator random(20261207);
    for (int round = 0; round < 3000; ++round) {
        QString text;
        const int length = random.bounded(1, 40);
        for (int i = 0; i < length; ++i)
            text += atoms[random.bounded(int(atoms.size()))];
        // Spans of the same class next to each other merge in neither form, so compare directly.
        ASSERT_EQ(spans(text), referenceSpans(text)) << text.toStdString();
    }
}

TEST(JSONHighlighter, HugeTextIsColouredToItsEndAndAPartLikeTheWhole)
{
    QString huge = QStringLiteral("{\"k\": [");
    while (huge.size() <= 3 * 1024 * 1024)
        huge += QStringLiteral("1, \"two\",\n true, ");
    huge += QStringLiteral("null], \"last\": 2}");
    const QList<ColoredRun> whole = JSONHighlighter::attributed(huge, false).runs;
    ASSERT_FALSE(whole.isEmpty());
    EXPECT_EQ(whole.last().start + whole.last().length, huge.size());
    const qsizetype last = huge.lastIndexOf(QStringLiteral("\"last\""));
    const auto runAt = [](const QList<ColoredRun> &runs, qsizetype offset) {
        return *std::find_if(runs.cbegin(), runs.cend(),
                             [offset](const ColoredRun &r) { return offset < r.start + r.length; });
    };
    EXPECT_EQ(runAt(whole, last).color, JSONHighlighter::color(TC::key, false));

    // A part starting at a line start reads as the whole does there, up to the token across its end.
    const qsizetype from = huge.indexOf(QLatin1Char('\n'), 2 * 1024 * 1024) + 1;
    const QList<ColoredRun> part = JSONHighlighter::runs(huge, from, from + 1000, false);
    ASSERT_FALSE(part.isEmpty());
    EXPECT_EQ(part.first().start, from);
    EXPECT_GE(part.last().start + part.last().length, from + 1000);
    for (const ColoredRun &run : part) {
        // The gap before the first token is cut at the part's start; tokens are the same runs.
        if (run.color == JSONHighlighter::color(TC::other, false))
            continue;
        const ColoredRun same = runAt(whole, run.start);
        EXPECT_EQ(same.start, run.start);
        EXPECT_EQ(same.length, run.length);
        EXPECT_EQ(same.color, run.color);
    }

    // A pass asked to stop ends at its next look, far short of the end.
    const std::atomic<bool> stop{true};
    const QList<ColoredRun> stopped = JSONHighlighter::runs(huge, 0, huge.size(), false, &stop);
    ASSERT_FALSE(stopped.isEmpty());
    EXPECT_LT(stopped.last().start + stopped.last().length, huge.size() / 16);
}

TEST(JSONSyntaxHighlighter, ColoursEachLineFromTheWholeText)
{
    QTextDocument document;
    document.setPlainText(QStringLiteral("{\n  \"a\": 1,\n  \"b\": \"x\"\n}"));
    JSONSyntaxHighlighter highlighter(&document, false);
    const auto formatAt = [&](int blockNumber, int position) {
        for (const QTextLayout::FormatRange &range : document.findBlockByNumber(blockNumber).layout()->formats()) {
            if (position >= range.start && position < range.start + range.length)
                return range.format.foreground().color();
        }
        return QColor();
    };
    EXPECT_EQ(formatAt(1, 2), JSONHighlighter::color(TC::key, false));
    EXPECT_EQ(formatAt(1, 7), JSONHighlighter::color(TC::number, false));
    EXPECT_EQ(formatAt(2, 7), JSONHighlighter::color(TC::string, false));
    EXPECT_EQ(formatAt(3, 0), JSONHighlighter::color(TC::other, false));

    // Switching the colour set recolours; editing recolours the edited line.
    highlighter.setDark(true);
    EXPECT_EQ(formatAt(1, 2), JSONHighlighter::color(TC::key, true));
    QTextCursor cursor(document.findBlockByNumber(1));
    cursor.movePosition(QTextCursor::EndOfBlock);
    cursor.movePosition(QTextCursor::Left, QTextCursor::MoveAnchor, 2); // before "1"
    cursor.insertText(QStringLiteral("true, "));
    EXPECT_EQ(document.findBlockByNumber(1).text(), QStringLiteral("  \"a\": true, 1,"));
    EXPECT_EQ(formatAt(1, 7), JSONHighlighter::color(TC::boolean, true));
    EXPECT_EQ(formatAt(1, 13), JSONHighlighter::color(TC::number, true));
    EXPECT_EQ(formatAt(0, 0), JSONHighlighter::color(TC::other, true)) << "other lines keep their colours";
}

TEST(JSONSyntaxHighlighter, StopsWithItsDocumentGone)
{
    auto *document = new QTextDocument;
    document->setPlainText(QStringLiteral("{\"a\": 1}"));
    QPointer<JSONSyntaxHighlighter> highlighter = new JSONSyntaxHighlighter(document, false);
    delete document;
    EXPECT_TRUE(highlighter.isNull()) << "owned by the document";
}
