// Limits on untrusted JSON and YAML.
#include "core/bounded_input.h"

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

TEST(Utf8, BinaryKeepsOnlyItsAsciiTextWhileRealTextStaysWhole)
{
    // Devanagari, an emoji and a character cut by a length limit.
    const std::string text = "\xE0\xA4\xA8\xE0\xA4\xAE\xE0\xA4\xB8\xE0\xA5\x8D\xE0\xA4\xA4\xE0\xA5\x87 \xF0\x9F\x98\x80\n";
    EXPECT_EQ(sanitizeUtf8(text), text);
    EXPECT_EQ(sanitizeUtf8(text + "\xF0\x9F\x98"), text + "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(sanitizeUtf8("\xC3\xA9\xED"), "\xC3\xA9\xEF\xBF\xBD");

    // A PNG's signature, then bytes that happen to decode as Syriac (U+0710) and NKo (U+07CA).
    using namespace std::string_literals;
    EXPECT_EQ(sanitizeUtf8("\x89PNG\r\n\x1A\n\xDC\x90\xDF\x8A\x00ok\t"s),
              "\xEF\xBF\xBDPNG\r\n\xEF\xBF\xBD\n"
              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDok\t");
    EXPECT_EQ(sanitizeUtf8("\xFF\xC3\xA9"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    // A bad byte before the end is no cut.
    EXPECT_EQ(sanitizeUtf8("\xC3\xA9\xE2\x82x"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDx");
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

TEST(BoundedJson, LongStringsReadBesideTheLexerDecodeAsItWouldAndRefuseWhatItWould)
{
    // Past the length at which strings are read beside nlohmann's lexer, with every escape it knows.
    const std::string filler(70000, 'x');
    const std::string escapes = R"(\"\\\/\b\f\n\r\t\u00e9\u20AC\ud83d\ude00 caf)" "\xC3\xA9";
    const std::string text = R"({"short":"a\nb",")" + filler + R"(":[")" + escapes + filler + escapes + R"(",")" + filler + "\"]}";
    std::string error;
    const auto parsed = parseBoundedJson(text, ParseBounds {kMaxImportBytes, kMaxHeldBytes}, error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(*parsed, nlohmann::json::parse(text));

    for (const std::string &bad : {std::string("\x01"), std::string("\\x"), std::string("\\ud83d"), std::string("\\ude00"),
                                  std::string("\xFF"), std::string("\\u12"), std::string("\\")}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseBoundedJson("[\"" + filler + bad + "\"]", ParseBounds {kMaxImportBytes, kMaxHeldBytes}, error));
        EXPECT_EQ(error, "invalid JSON");
    }
}
