// Host and path normalisers of the route editors.
#include "engine/records/route_input.h"

#include "engine/records/unicode_lower.h"

#include <cstdint>

namespace {

// Decodes the code point starting at `i`; `length` gets its byte count (1 for a bad byte).
char32_t decodeAt(std::string_view text, std::size_t i, std::size_t &length)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t count = 1;
    char32_t cp = lead;
    if (lead >= 0xF8) {
        count = 1;
    } else if (lead >= 0xF0) {
        count = 4;
        cp = lead & 0x07;
    } else if (lead >= 0xE0) {
        count = 3;
        cp = lead & 0x0F;
    } else if (lead >= 0xC0) {
        count = 2;
        cp = lead & 0x1F;
    }
    if (count == 1 || i + count > text.size()) {
        length = 1;
        return lead;
    }
    for (std::size_t k = 1; k < count; ++k) {
        const auto byte = static_cast<unsigned char>(text[i + k]);
        if ((byte & 0xC0) != 0x80) {
            length = 1;
            return lead;
        }
        cp = (cp << 6) | (byte & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are bad bytes too, so they are
    // passed through untouched instead of being re-encoded as something else.
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[count] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
        length = 1;
        return lead;
    }
    length = count;
    return cp;
}

void appendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// White space and line breaks: the Unicode space separators, line and paragraph separators,
// and the control characters tab, line feed, vertical tab, form feed, carriage return and NEL.
bool isWhitespace(char32_t cp)
{
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680
        || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F
        || cp == 0x3000;
}

// A bad byte is never white space, even when its value equals NEL or NBSP.
bool whitespaceAt(std::string_view text, std::size_t i, std::size_t &length)
{
    const char32_t cp = decodeAt(text, i, length);
    if (length == 1 && static_cast<unsigned char>(text[i]) >= 0x80)
        return false;
    return isWhitespace(cp);
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

} // namespace

std::string RouteInput::trimmed(std::string_view text)
{
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t length = 1;
        if (!whitespaceAt(text, begin, length))
            break;
        begin += length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80 && end - start < 4)
            --start;
        std::size_t length = 1;
        if (!whitespaceAt(text, start, length) || start + length != end)
            break;
        end = start;
    }
    return std::string(text.substr(begin, end - begin));
}

std::string RouteInput::lowercased(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t length = 1;
        const char32_t cp = decodeAt(text, i, length);
        if (length == 1 && static_cast<unsigned char>(text[i]) >= 0x80) {
            out += text[i]; // not UTF-8: keep the byte as it is
        } else if (cp == 0x130) {
            out += "i\xCC\x87"; // capital I with dot above: "i" and a combining dot
        } else {
            appendUtf8(out, unicodeLower(cp));
        }
        i += length;
    }
    return out;
}

std::string RouteInput::normalizeHost(std::string_view text)
{
    std::string host = trimmed(text);
    if (startsWithIgnoringCase(host, "https://"))
        host.erase(0, 8);
    if (startsWithIgnoringCase(host, "http://"))
        host.erase(0, 7);
    if (const auto slash = host.find('/'); slash != std::string::npos)
        host.erase(slash);
    // Blanks uncovered by the cut ("https:// /v1") are trimmed too, so one pass is final.
    return lowercased(trimmed(host));
}

std::string RouteInput::normalizePath(std::string_view text)
{
    std::string path = trimmed(text);
    if (path.empty())
        return path;
    // Dropping trailing slashes can uncover blanks ("/a /") and trimming can uncover slashes, so
    // both repeat until neither changes anything: a second pass then never changes the result.
    for (;;) {
        const std::size_t before = path.size();
        while (path.size() >= 2 && path.back() == '/')
            path.pop_back();
        path = trimmed(path);
        if (path.size() == before)
            break;
    }
    if (path.front() != '/')
        path.insert(path.begin(), '/');
    return path;
}
