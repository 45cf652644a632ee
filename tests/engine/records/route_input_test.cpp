// Host and path normalising of the route editors.
#include "engine/records/route_input.h"

#include <gtest/gtest.h>

TEST(RouteInput, NormalizeHostStripsSchemeBlanksAndPath)
{
    EXPECT_EQ(RouteInput::normalizeHost("  https://API.Example.com/v1/users?x=1 \n"), "api.example.com");
    EXPECT_EQ(RouteInput::normalizeHost("HTTP://Example.COM"), "example.com");
    EXPECT_EQ(RouteInput::normalizeHost("HtTpS://example.com/"), "example.com");
    EXPECT_EQ(RouteInput::normalizeHost("localhost:8080/path"), "localhost:8080");
    EXPECT_EQ(RouteInput::normalizeHost("Example.com:443"), "example.com:443");
    EXPECT_EQ(RouteInput::normalizeHost(""), "");
    EXPECT_EQ(RouteInput::normalizeHost(" \t\r\n"), "");
}

TEST(RouteInput, NormalizeHostDropsBothPrefixesInOrder)
{
    EXPECT_EQ(RouteInput::normalizeHost("https://http://double.example"), "double.example");
    // Only "https://" then "http://" are tried, so the reverse order keeps the inner prefix's text.
    EXPECT_EQ(RouteInput::normalizeHost("http://https://odd.example"), "https:");
}

TEST(RouteInput, NormalizeHostKeepsQueryWithoutSlash)
{
    EXPECT_EQ(RouteInput::normalizeHost("Example.com?Q=1#Frag"), "example.com?q=1#frag");
}

TEST(RouteInput, NormalizeHostLowerCasesBeyondAscii)
{
    EXPECT_EQ(RouteInput::normalizeHost("BÜCHER.Example"), "bücher.example");
    EXPECT_EQ(RouteInput::normalizeHost("ПРИМЕР.РФ"), "пример.рф");
    EXPECT_EQ(RouteInput::normalizeHost("\xC2\xA0" "host.example\xE2\x80\xA8"), "host.example"); // NBSP, U+2028
}

TEST(RouteInput, NormalizePath)
{
    EXPECT_EQ(RouteInput::normalizePath("   "), "");
    EXPECT_EQ(RouteInput::normalizePath(""), "");
    EXPECT_EQ(RouteInput::normalizePath("users///"), "/users");
    EXPECT_EQ(RouteInput::normalizePath("users/"), "/users");
    EXPECT_EQ(RouteInput::normalizePath("/"), "/");
    EXPECT_EQ(RouteInput::normalizePath("//"), "/");
    EXPECT_EQ(RouteInput::normalizePath("  /V2//Users/:id/ \n"), "/V2//Users/:id");
}

TEST(RouteInput, TrimLeavesInnerBlanksAndBadBytes)
{
    EXPECT_EQ(RouteInput::trimmed("  a b  "), "a b");
    EXPECT_EQ(RouteInput::trimmed("\xFF x \xFF"), "\xFF x \xFF");
    EXPECT_EQ(RouteInput::lowercased("A\xFF" "B"), "a\xFF" "b");
}

TEST(RouteInput, BadBytesAreNeverTrimmedOrRewritten)
{
    // Lone 0x85 and 0xA0 are not NEL and NBSP: only their UTF-8 forms are white space.
    EXPECT_EQ(RouteInput::trimmed("\x85host\xA0"), "\x85host\xA0");
    EXPECT_EQ(RouteInput::trimmed("\xC2\x85host\xC2\xA0"), "host");
    // Bytes that are not UTF-8 (F8 lead, overlong, surrogate) come out exactly as they went in.
    EXPECT_EQ(RouteInput::lowercased("\xF8\x80\x80" "A"), "\xF8\x80\x80" "a");
    EXPECT_EQ(RouteInput::lowercased("\xC1\x81" "B"), "\xC1\x81" "b");
    EXPECT_EQ(RouteInput::lowercased("\xED\xA0\x80" "C"), "\xED\xA0\x80" "c");
    EXPECT_EQ(RouteInput::normalizeHost("\xE0\x81\x81.Example"), "\xE0\x81\x81.example");
}

// Whatever an editor checks (can it create, is there a conflict, is the label red) and whatever it
// stores must be the same text, so a second pass may never change the first one's result.
TEST(RouteInput, OnePassIsFinal)
{
    const char *nasty[] = {
        "https:// /v1", "http://\t/", " https:// http://x", "https://HTTPS://x", "http://https://odd",
        "  /a /", "/a / /", "a/ /", "/ /", "/\t/", " \t/\n/ ", "///", "%2F/", "/%20 /", "/v1/%E2%82%AC/ ",
        "HTTPS://Api.Example.com:8443 /x", "\xC2\xA0/p/\xE2\x80\xA8/", "api .example.com / ", "\t\tGET /x\t",
        "http://", "https://", "", " ", "\r\n", "%", "/%/", "HTTP:// \xE3\x80\x80host/", "://", "/:id/ /",
    };
    for (const char *raw : nasty) {
        const std::string host = RouteInput::normalizeHost(raw);
        const std::string path = RouteInput::normalizePath(raw);
        EXPECT_EQ(RouteInput::normalizeHost(host), host) << "host of [" << raw << "]";
        EXPECT_EQ(RouteInput::normalizePath(path), path) << "path of [" << raw << "]";
    }
}

TEST(RouteInput, BlanksUncoveredByTheCutAreGone)
{
    // These used to keep a blank that only a second pass removed.
    EXPECT_EQ(RouteInput::normalizeHost("https:// /v1"), "");
    EXPECT_EQ(RouteInput::normalizeHost("http://\t/"), "");
    EXPECT_EQ(RouteInput::normalizeHost(" https:// Api.Example.com /v1"), "api.example.com");
    EXPECT_EQ(RouteInput::normalizePath("/a /"), "/a");
    EXPECT_EQ(RouteInput::normalizePath("/a / /"), "/a");
    EXPECT_EQ(RouteInput::normalizePath("/ /"), "/");
    // Inner blanks and percent signs are the user's: only the ends are cleaned.
    EXPECT_EQ(RouteInput::normalizePath("/a b/%20/"), "/a b/%20");
    EXPECT_EQ(RouteInput::normalizeHost("a%20b.example"), "a%20b.example");
}
