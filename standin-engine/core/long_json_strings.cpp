// Long JSON strings found in the text and decoded without nlohmann's lexer.
#include "core/long_json_strings.h"

#include "core/bounded_input.h"
#include "core/engine_support.h"

namespace standin {

LongJsonStrings findLongJsonStrings(std::string_view text)
{
    LongJsonStrings strings;
    size_t open = text.find('"');
    while (open != std::string_view::npos) {
        size_t close = open + 1;
        while ((close = text.find_first_of("\"\\", close)) != std::string_view::npos && text[close] == '\\')
            close += 2;
        if (close == std::string_view::npos)
            break;
        if (close - open - 1 >= kLongJsonString)
            strings.spans.push_back({open + 1, close});
        open = text.find('"', close + 1);
    }
    return strings;
}

namespace {

// The four hex digits of a "\u" escape at `at` (just past the "u"); -1 when they aren't.
long hexQuad(std::string_view text, size_t at)
{
    if (at + 4 > text.size())
        return -1;
    long value = 0;
    for (size_t i = at; i < at + 4; ++i) {
        const int digit = hexValue(text[i]);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

void appendUtf8(std::string &out, unsigned long codePoint)
{
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

} // namespace

std::optional<std::string> decodeJsonString(std::string_view contents)
{
    std::string out;
    out.reserve(contents.size()); // never longer than the text that writes it
    size_t at = 0;
    while (at < contents.size()) {
        const size_t escape = std::min(contents.find('\\', at), contents.size());
        const std::string_view run = contents.substr(at, escape - at);
        for (const char c : run) {
            if (static_cast<unsigned char>(c) < 0x20)
                return std::nullopt;
        }
        if (!isValidUtf8(run))
            return std::nullopt;
        out.append(run);
        if (escape == contents.size())
            break;
        if (escape + 1 >= contents.size())
            return std::nullopt;
        at = escape + 2;
        switch (contents[escape + 1]) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
            long codePoint = hexQuad(contents, at);
            at += 4;
            if (codePoint < 0 || (codePoint >= 0xDC00 && codePoint <= 0xDFFF))
                return std::nullopt;
            if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
                // A high surrogate stands only with the low one that follows it.
                const long low = at + 1 < contents.size() && contents[at] == '\\' && contents[at + 1] == 'u'
                                     ? hexQuad(contents, at + 2)
                                     : -1;
                if (low < 0xDC00 || low > 0xDFFF)
                    return std::nullopt;
                codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
                at += 6;
            }
            appendUtf8(out, static_cast<unsigned long>(codePoint));
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return out;
}

} // namespace standin
