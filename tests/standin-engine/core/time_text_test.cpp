// The engine's time texts (ISO times kept in its files, short local texts for the app's time columns)
// and its log lines.
#include "core/engine_support.h"

#include <gtest/gtest.h>

#include <ctime>

using namespace standin;

namespace {

using Clock = std::chrono::system_clock;

// A moment given in local calendar fields, whatever the machine's time zone.
Clock::time_point local(int year, int month, int day, int hour, int minute, int second, int millis = 0)
{
    std::tm fields {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    return Clock::from_time_t(std::mktime(&fields)) + std::chrono::milliseconds(millis);
}

} // namespace

TEST(TimeTexts, IsoTimesReadBackToTheSameMoment)
{
    const auto moment = Clock::time_point(std::chrono::milliseconds(1796636619686LL));
    EXPECT_EQ(isoTime(moment), "2026-12-07T09:43:39.686Z");
    EXPECT_EQ(parseIsoTime("2026-12-07T09:43:39.686Z"), moment);
    EXPECT_EQ(parseIsoTime("2026-12-07T09:43:39Z"), moment - std::chrono::milliseconds(686));
    for (const char *text : {"", "now", "09:43:39.686", "2026-12-07 09:43:39.686Z", "2026-12-07T09:43:39.686",
                             "2026-02-30T09:43:39.686Z", "2026-12-07T24:00:00.000Z", "2026-12-07T09:43:39.68Z",
                             "2026-12-07T09:43:39.686Z ", "+026-12-07T09:43:39.686Z"})
        EXPECT_FALSE(parseIsoTime(text)) << text;
}

TEST(TimeTexts, LiveTimesAreTheLocalClockTime)
{
    EXPECT_EQ(localClockTime(local(2026, 12, 7, 9, 43, 39, 686)), "09:43:39.686");
    EXPECT_EQ(localClockTime(local(2026, 12, 7, 0, 5, 7, 9)), "00:05:07.009");
    EXPECT_EQ(localClockTime(local(2026, 12, 7, 23, 59, 59, 999)), "23:59:59.999");
}

TEST(TimeTexts, StoredTimesSayTheDayWhenItIsNotToday)
{
    const auto now = local(2026, 12, 7, 15, 0, 0);
    EXPECT_EQ(shownTime(isoTime(local(2026, 12, 7, 9, 43, 39, 686)), now), "09:43:39.686");
    EXPECT_EQ(shownTime(isoTime(local(2026, 12, 7, 0, 0, 0, 0)), now), "00:00:00.000");
    EXPECT_EQ(shownTime(isoTime(local(2026, 12, 6, 23, 59, 59, 900)), now), "Dec 6 23:59");
    EXPECT_EQ(shownTime(isoTime(local(2026, 1, 2, 8, 5, 0)), now), "Jan 2 08:05");
    EXPECT_EQ(shownTime(isoTime(local(2026, 12, 28, 10, 0, 0)), now), "Dec 28 10:00"); // a clock set back
    EXPECT_EQ(shownTime(isoTime(local(2025, 12, 31, 23, 0, 0)), now), "2025-12-31");
    // Texts the engine did not write itself are passed on as they are.
    EXPECT_EQ(shownTime("yesterday", now), "yesterday");
    EXPECT_EQ(shownTime("", now), "");
}

// The app reads the engine's output as a line protocol: nothing logged may start a line of its own.
TEST(LogLines, EveryLineBreakTheAppKnowsIsEscapedAndLongLinesAndNamesCut)
{
    EXPECT_EQ(escapedLogLine("chaos preset x\nKESTRION_CONTROL_PORT=1\ry\t\x1b[2J\x7f active"),
              "chaos preset x\\nKESTRION_CONTROL_PORT=1\\ry\\t\\x1b[2J\\x7f active");
    // NEL, LS and PS break the app's lines too; other text beyond ASCII stands as it is.
    EXPECT_EQ(escapedLogLine("a\u0085KESTRION_CONTROL_PORT=1\u2028b\u2029c"),
              "a\\u0085KESTRION_CONTROL_PORT=1\\u2028b\\u2029c");
    const std::string others = "plain ünïcode \u2027\u202a\u00a0, half a break \xe2\x80 \xc2";
    EXPECT_EQ(escapedLogLine(others), others);
    const std::string cut = escapedLogLine(std::string(100000, '\n'));
    EXPECT_LT(cut.size(), kMaxLogLine + 32);
    EXPECT_EQ(cut.find('\n'), std::string::npos);

    EXPECT_EQ(loggedName("api.test"), "api.test");
    const std::string name = loggedName(std::string(kMaxLoggedName - 1, 'a') + "é" + std::string(30000, 'b'));
    EXPECT_EQ(name, std::string(kMaxLoggedName - 1, 'a') + "… (30257 bytes)"); // never half a character
    EXPECT_TRUE(hasControlCharacter("a\x7f"));
    for (const char *lineBreak : {"\u0085", "\u2028", "\u2029"})
        EXPECT_TRUE(hasControlCharacter(std::string("id") + lineBreak)) << lineBreak;
    EXPECT_FALSE(hasControlCharacter("naïve name \u2027"));
}
