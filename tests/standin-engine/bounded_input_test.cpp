// Limits on untrusted JSON and YAML.
#include "bounded_input.h"

#include <gtest/gtest.h>

using namespace standin;

TEST(BoundedJson, RefusesDeepNestingHugeTextAndBadJson)
{
    std::string error;
    EXPECT_TRUE(parseBoundedJson(std::string(30, '[') + std::string(30, ']'), error));
    EXPECT_FALSE(parseBoundedJson(std::string(65, '[') + std::string(65, ']'), error));
    EXPECT_EQ(error, "document nested too deeply");
    EXPECT_FALSE(parseBoundedJson(std::string(200000, '{'), error));
    EXPECT_FALSE(parseBoundedJson(std::string(kMaxBodyBytes + 1, ' '), error));
    EXPECT_EQ(error, "document too large");
    EXPECT_FALSE(parseBoundedJson("{\"a\":", error));
    EXPECT_EQ(error, "invalid JSON");
    EXPECT_FALSE(parseBoundedJson("\"\xff\"", error)); // not UTF-8
}

TEST(BoundedYaml, ConvertsScalarsToTheirTypes)
{
    std::string error;
    const auto doc = parseBoundedYaml("a: 1\nb: 2.5\nc: true\nd: ~\ne: '7'\nf: text\ng: [x, 3]\n", error);
    ASSERT_TRUE(doc) << error;
    EXPECT_EQ(doc->dump(), R"({"a":1,"b":2.5,"c":true,"d":null,"e":"7","f":"text","g":["x",3]})");
}

TEST(BoundedYaml, RefusesBombsDeepNestingAndBrokenYaml)
{
    std::string error;
    // Nine levels of ten aliases each: a billion values once expanded.
    std::string bomb = "a: &a [x, x, x, x, x, x, x, x, x, x]\n";
    for (char level = 'b'; level <= 'j'; ++level) {
        const char previous = static_cast<char>(level - 1);
        bomb += std::string(1, level) + ": &" + level + " [";
        for (int i = 0; i < 10; ++i)
            bomb += std::string(i ? ", *" : "*") + previous;
        bomb += "]\n";
    }
    EXPECT_FALSE(parseBoundedYaml(bomb, error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;

    EXPECT_FALSE(parseBoundedYaml(std::string(100, '[') + std::string(100, ']'), error));
    EXPECT_FALSE(parseBoundedYaml(std::string(5000, '[') + std::string(5000, ']'), error));
    EXPECT_FALSE(parseBoundedYaml("a: [1, 2\nb: }", error));
    EXPECT_NE(error.find("invalid YAML"), std::string::npos);
}

TEST(Utf8, InvalidBytesBecomeReplacementCharacters)
{
    EXPECT_EQ(sanitizeUtf8("plain"), "plain");
    EXPECT_EQ(sanitizeUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(sanitizeUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(sanitizeUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD"); // overlong "/"
    EXPECT_EQ(sanitizeUtf8("\xE2\x82"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // cut short
    EXPECT_EQ(sanitizeUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // surrogate
}

TEST(BoundedYaml, AnAliasCountsTheBytesItExpandsTo)
{
    // Few values, but one long string used a thousand times: 20 MB once expanded.
    std::string document = "long: &s " + std::string(20000, 'y') + "\nuses: [";
    for (int i = 0; i < 1000; ++i)
        document += i ? ", *s" : "*s";
    document += "]\n";
    ASSERT_LT(document.size(), 30000u);
    std::string error;
    EXPECT_FALSE(parseBoundedYaml(document, error));
    EXPECT_NE(error.find("aliases expand"), std::string::npos) << error;

    // The same string used a few times is fine.
    const std::string few = "long: &s " + std::string(20000, 'y') + "\nuses: [*s, *s, *s]\n";
    const auto parsed = parseBoundedYaml(few, error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ((*parsed)["uses"].size(), 3u);
}
