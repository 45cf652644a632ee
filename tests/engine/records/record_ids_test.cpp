// The application's random ids.
#include "engine/records/record_ids.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

// True when `text` is `prefix` followed by exactly `digits` upper-case hexadecimal digits.
bool isShortId(const std::string &text, const std::string &prefix, std::size_t digits)
{
    if (text.size() != prefix.size() + digits || text.compare(0, prefix.size(), prefix) != 0)
        return false;
    return text.find_first_not_of("0123456789ABCDEF", prefix.size()) == std::string::npos;
}

} // namespace

TEST(RecordIds, UuidTextIsUpperCaseVersion4)
{
    for (int i = 0; i < 50; ++i) {
        const std::string uuid = makeUuidText();
        ASSERT_EQ(uuid.size(), 36u);
        for (const std::size_t dash : {8u, 13u, 18u, 23u})
            EXPECT_EQ(uuid[dash], '-') << uuid;
        std::string digits = uuid;
        std::erase(digits, '-');
        EXPECT_TRUE(isShortId(digits, "", 32)) << uuid;
        EXPECT_EQ(uuid[14], '4') << uuid;
        EXPECT_NE(std::string("89AB").find(uuid[19]), std::string::npos) << uuid;
    }
}

TEST(RecordIds, ShortIdsHavePrefixAndEightHexDigits)
{
    EXPECT_TRUE(isShortId(makeRouteId(), "r-", 8));
    EXPECT_TRUE(isShortId(makeEnvironmentId(), "env-", 8));
    EXPECT_EQ(makeEnvironmentId().size(), 12u);
}

TEST(RecordIds, IdsDoNotRepeat)
{
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i)
        seen.insert(makeRouteId());
    EXPECT_GT(seen.size(), 995u); // 8 hex digits: a collision in 1000 is possible but rare
    std::set<std::string> uuids;
    for (int i = 0; i < 1000; ++i)
        uuids.insert(makeUuidText());
    EXPECT_EQ(uuids.size(), 1000u);
}
