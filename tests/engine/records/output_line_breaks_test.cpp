// The one list of line breaks in the engine's output, as the link and the engine both read it.
#include "engine/records/output_line_breaks.h"

#include <gtest/gtest.h>

#include <string_view>

TEST(OutputLineBreaks, EachBreakHasItsLengthAndACutShortOneWaitsOnlyInAStream)
{
    using namespace std::string_view_literals;
    struct Case {
        std::string_view text;
        int whole;
        int mayGrow;
    };
    for (const Case &c : {
             Case {"\n"sv, 1, 1}, Case {"\v"sv, 1, 1}, Case {"\f"sv, 1, 1}, Case {"\r\n"sv, 2, 2}, Case {"\r"sv, 1, 1},
             Case {"\rx"sv, 1, 1}, Case {"\xC2\x85"sv, 2, 2}, Case {"\xE2\x80\xA8"sv, 3, 3},
             Case {"\xE2\x80\xA9"sv, 3, 3},
             // Cut by the end of what has come so far.
             Case {"\xC2"sv, 0, kLineBreakCutShort}, Case {"\xE2"sv, 0, kLineBreakCutShort},
             Case {"\xE2\x80"sv, 0, kLineBreakCutShort},
             // Neighbours that are no break: NBSP, U+2027, U+202A, a lone NEL byte, tab, NUL.
             Case {"\xC2\xA0"sv, 0, 0}, Case {"\xE2\x80\xA7"sv, 0, 0}, Case {"\xE2\x80\xAA"sv, 0, 0},
             Case {"\xE2\x81\xA8"sv, 0, 0}, Case {"\x85"sv, 0, 0}, Case {"\t"sv, 0, 0}, Case {"\0"sv, 0, 0},
             Case {"a"sv, 0, 0},
         }) {
        EXPECT_EQ(outputLineBreakAt(c.text, 0), c.whole) << testing::PrintToString(c.text);
        EXPECT_EQ(outputLineBreakAt(c.text, 0, TextEnd::MayGrow), c.mayGrow) << testing::PrintToString(c.text);
    }
    EXPECT_EQ(outputLineBreakAt("ab\xE2\x80\xA8"sv, 2), 3);
}
