// The output line reader and the control-port line: chunk boundaries, line breaks, port forms.
#include "engine/engine_output.h"
#include "engine/line_reader.h"

#include <QByteArray>
#include <QList>

#include <gtest/gtest.h>

namespace {

QList<QByteArray> feedAll(LineReader &reader, const QList<QByteArray> &chunks)
{
    QList<QByteArray> lines;
    for (const QByteArray &chunk : chunks)
        reader.feed(chunk, [&lines](QByteArrayView line) { lines.append(line.toByteArray()); });
    return lines;
}

} // namespace

TEST(LineReader, SplitsOnEveryLineBreakAndDropsEmptyLines)
{
    LineReader reader;
    const QByteArray text = "a\nb\r\nc\rd\ve\ff\xC2\x85g\xE2\x80\xA8h\xE2\x80\xA9i\n\n\r\n";
    EXPECT_EQ(feedAll(reader, {text}),
              (QList<QByteArray>{"a", "b", "c", "d", "e", "f", "g", "h", "i"}));
    EXPECT_EQ(reader.pendingSize(), 0);
}

TEST(LineReader, JoinsALineSplitAcrossChunks)
{
    LineReader reader;
    EXPECT_EQ(feedAll(reader, {"first\nKESTRION_CON", "TROL_PORT=", "4000\nlast"}),
              (QList<QByteArray>{"first", "KESTRION_CONTROL_PORT=4000"}));
    EXPECT_EQ(reader.takeRemainder(), QByteArray("last"));
    EXPECT_EQ(reader.pendingSize(), 0);
}

TEST(LineReader, KeepsAMultiByteSequenceCutByTheChunkBoundary)
{
    LineReader reader;
    // "café" with the é cut in half, and a line separator U+2028 cut after each byte.
    EXPECT_EQ(feedAll(reader, {"caf\xC3", "\xA9 ok\xE2", "\x80", "\xA8next\n"}),
              (QList<QByteArray>{"caf\xC3\xA9 ok", "next"}));
}

TEST(LineReader, CarriageReturnLineFeedAcrossChunksIsOneBreak)
{
    LineReader reader;
    EXPECT_EQ(feedAll(reader, {"one\r", "\ntwo\r\n"}), (QList<QByteArray>{"one", "two"}));
}

TEST(LineReader, LeadByteWithoutItsSeparatorTailStaysText)
{
    LineReader reader;
    // C2 A9 is the copyright sign and E2 82 AC the euro sign: no line break in either.
    EXPECT_EQ(feedAll(reader, {"\xC2", "\xA9 \xE2\x82", "\xAC\n"}),
              (QList<QByteArray>{"\xC2\xA9 \xE2\x82\xAC"}));
}

TEST(ControlPortLine, AcceptsADecimalPortWithBlanksAndPlusSign)
{
    auto parse = [](const char *text) { return parseControlPortLine(QString::fromUtf8(text)); };
    EXPECT_EQ(parse("KESTRION_CONTROL_PORT=4000").kind, ControlPortLine::Kind::Port);
    EXPECT_EQ(parse("KESTRION_CONTROL_PORT=4000").port, 4000);
    EXPECT_EQ(parse("KESTRION_CONTROL_PORT= \t4000 \t").port, 4000);
    EXPECT_EQ(parse("KESTRION_CONTROL_PORT=+4000").port, 4000);
    EXPECT_EQ(parse("KESTRION_CONTROL_PORT=1").port, 1);
    EXPECT_EQ(parse("KESTRION_CONTROL_PORT=65535").port, 65535);
}

TEST(ControlPortLine, RejectsMalformedAndOutOfRangePorts)
{
    for (const char *text : {"KESTRION_CONTROL_PORT=", "KESTRION_CONTROL_PORT=  ", "KESTRION_CONTROL_PORT=abc",
                             "KESTRION_CONTROL_PORT=40a0", "KESTRION_CONTROL_PORT=0", "KESTRION_CONTROL_PORT=-1",
                             "KESTRION_CONTROL_PORT=65536", "KESTRION_CONTROL_PORT=99999999999999999999",
                             "KESTRION_CONTROL_PORT=+", "KESTRION_CONTROL_PORT=4 000"}) {
        EXPECT_EQ(parseControlPortLine(QString::fromUtf8(text)).kind, ControlPortLine::Kind::Malformed) << text;
    }
}

TEST(ControlPortLine, OtherLinesAreNotPortLines)
{
    EXPECT_EQ(parseControlPortLine(u"KESTRION_CONTROL_PORT").kind, ControlPortLine::Kind::NotPortLine);
    EXPECT_EQ(parseControlPortLine(u" KESTRION_CONTROL_PORT=4000").kind, ControlPortLine::Kind::NotPortLine);
    EXPECT_EQ(parseControlPortLine(u"kestrion_control_port=4000").kind, ControlPortLine::Kind::NotPortLine);
}

TEST(OutputDecoding, RejectsInvalidUtf8)
{
    EXPECT_EQ(decodeUtf8Line("caf\xC3\xA9"), std::optional<QString>(QStringLiteral("caf\u00E9")));
    EXPECT_FALSE(decodeUtf8Line("bad \xC3 byte").has_value());
    EXPECT_FALSE(decodeUtf8Line("\xFF").has_value());
}

TEST(LineReader, EventStreamBreaksOnlyAtLineFeedAndCarriageReturn)
{
    LineReader reader(LineReader::Breaks::EventStream);
    // NEL, LS, PS, VT and FF may sit inside an event's JSON; only LF, CR and CR LF end a line.
    EXPECT_EQ(feedAll(reader, {"data: a\xC2\x85" "b\xE2\x80\xA8" "c\xE2\x80\xA9" "d\ve\ff\r", "\nnext\rlast\n\n"}),
              (QList<QByteArray>{"data: a\xC2\x85" "b\xE2\x80\xA8" "c\xE2\x80\xA9" "d\ve\ff", "next", "last"}));
    EXPECT_EQ(reader.pendingSize(), 0);
}

TEST(OutputDecoding, RejectsASequenceCutAtTheEnd)
{
    EXPECT_FALSE(decodeUtf8Line("cut \xC3").has_value());
    EXPECT_FALSE(decodeUtf8Line("cut \xE2\x80").has_value());
}
