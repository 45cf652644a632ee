// Generated mock bodies keep the example's shape and vary with the seed.
#include "mocks/mock_generator.h"

#include "mocks/schema_learner.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace standin;
using nlohmann::json;

namespace {

json generate(const std::string &example, std::int64_t seed, int count)
{
    std::string error;
    const auto body = generateMockBody(example, seed, count, error);
    EXPECT_TRUE(body) << error;
    return json::parse(body.value_or("null"));
}

} // namespace

TEST(MockGenerator, KeepsShapeAndVariesBySeed)
{
    const std::string example = R"({"users":[{"id":"usr_01","name":"Ada Lovelace","role":"admin",
        "email":"ada@acme.dev","active":true,"score":4.5,"logins":12,"since":"2026-06-28T10:42:00Z"}],"total":24})";
    const json first = generate(example, 1, 3);
    EXPECT_EQ(flattenShape(first), flattenShape(json::parse(example)));
    ASSERT_EQ(first["users"].size(), 3u);
    const json &user = first["users"][0];
    EXPECT_EQ(user["id"].get<std::string>().rfind("usr_", 0), 0u);
    EXPECT_NE(user["email"].get<std::string>().find("@acme.dev"), std::string::npos);
    EXPECT_EQ(user["since"].get<std::string>().size(), 20u);

    EXPECT_EQ(generate(example, 1, 3), first); // the same seed gives the same body
    EXPECT_NE(generate(example, 2, 3), first);
    EXPECT_EQ(generate(example, 1, 7)["users"].size(), 7u);
    EXPECT_EQ(generate(example, 1, 500)["users"].size(), static_cast<size_t>(kMaxGeneratedItems));
}

TEST(MockGenerator, EmptyExampleGivesAnObjectTextGivesTextAndBombsAnError)
{
    EXPECT_TRUE(generate("", 5, 1).is_object());
    EXPECT_EQ(generate("[]", 5, 3), json::array());
    std::string error;
    const auto text = generateMockBody("hello there world", 1, 1, error);
    ASSERT_TRUE(text);
    EXPECT_EQ(std::count(text->begin(), text->end(), ' '), 2);
    EXPECT_EQ(generateMockBody("hello there world", 1, 1, error), text);
    EXPECT_FALSE(generateMockBody(std::string(100, '[') + std::string(100, ']'), 1, 1, error));
    // Arrays inside arrays multiply: 50^6 values is refused rather than built.
    EXPECT_FALSE(generateMockBody("[[[[[[1]]]]]]", 1, 50, error));
}

TEST(MockGenerator, ALongStringInNestedArraysIsRefusedNotCopiedAHundredThousandTimes)
{
    // 50 x 50 x 50 copies of a 10 KB id would be more than a gigabyte of digits.
    const std::string example = R"({"id":[[[")" + std::string(10000, '7') + R"("]]]})";
    std::string error;
    EXPECT_FALSE(generateMockBody(example, 1, 50, error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;

    // The same shape with a short id still generates every item.
    const json small = generate(R"({"id":[[["usr_0001"]]]})", 1, 10);
    ASSERT_EQ(small["id"].size(), 10u);
    EXPECT_EQ(small["id"][9][9].size(), 10u);
}
