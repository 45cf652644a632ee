// A text written as a JSON string byte for byte as nlohmann's writer writes it (its short escapes,
// \u00XX for the other control characters, UTF-8 as it is), plain runs at once: every recorded exchange
// and every saved route writes its texts this way, so neither goes through a JSON value first.
#pragma once

#include "core/text_runs.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace standin::jsonstrings {

inline constexpr unsigned char kUnicodeEscape = 1;
inline constexpr unsigned char kMultiByte = 2;

// For each byte: 0 when it stands as it is, the letter of its short escape, or one of the two markers.
inline constexpr std::array<unsigned char, 256> kEscapes = [] {
    std::array<unsigned char, 256> table {};
    for (int c = 0; c < 0x20; ++c)
        table[c] = kUnicodeEscape;
    for (int c = 0x80; c < 0x100; ++c)
        table[c] = kMultiByte;
    table['"'] = '"';
    table['\\'] = '\\';
    table['\b'] = 'b';
    table['\f'] = 'f';
    table['\n'] = 'n';
    table['\r'] = 'r';
    table['\t'] = 't';
    return table;
}();

// The length of the strict UTF-8 character (no overlong forms, surrogates or code points past
// U+10FFFF, as the JSON writer reads them) at p, or 0 when there is none.
std::size_t utf8Length(const unsigned char *p, const unsigned char *end);

// The size of `text` written as a JSON string, quotes included, or nothing when it is not valid UTF-8
// (the writer would have to mend it).
std::optional<std::size_t> writtenSize(std::string_view text);

// What the JSON writer writes for a text that is not UTF-8: its bad bytes replaced. Rare, so made the
// slow way.
std::string replacedString(std::string_view text);

// Writes `text` as a JSON string to `out` (anything with write(std::string_view)). False at the first
// byte that is not UTF-8, with what came before it written: a sink that can't take that back asks
// writtenSize first.
template <class Sink> bool write(Sink &out, std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const auto *begin = reinterpret_cast<const unsigned char *>(text.data());
    const auto *end = begin + text.size();
    const auto *start = begin;
    const auto *p = begin;
    out.write("\"");
    while (p < end) {
        p += plainJsonRun(reinterpret_cast<const char *>(p), static_cast<std::size_t>(end - p));
        if (p == end)
            break;
        const unsigned char c = *p;
        const unsigned char kind = kEscapes[c];
        if (kind == kMultiByte) {
            const std::size_t length = utf8Length(p, end);
            if (length == 0)
                return false;
            p += length;
            continue;
        }
        out.write(std::string_view(reinterpret_cast<const char *>(start), static_cast<std::size_t>(p - start)));
        if (kind == kUnicodeEscape) {
            const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
            out.write(std::string_view(escape, sizeof escape));
        } else {
            const char escape[] = {'\\', static_cast<char>(kind)};
            out.write(std::string_view(escape, sizeof escape));
        }
        start = ++p;
    }
    out.write(std::string_view(reinterpret_cast<const char *>(start), static_cast<std::size_t>(end - start)));
    out.write("\"");
    return true;
}

} // namespace standin::jsonstrings
