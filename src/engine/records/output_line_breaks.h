// The line breaks the app splits the engine's standard output at: one list for the link and the engine.
#pragma once

#include <cstddef>
#include <string_view>

// The engine's output is a line protocol. The link cuts it at each of these breaks, and the engine
// escapes each of them in what it logs, so nothing taken from a request, a file or a name starts a
// line of its own: LF, CR, CR LF, VT, FF and the UTF-8 forms of NEL (U+0085), LS (U+2028) and
// PS (U+2029), matched byte by byte.

// Whether more bytes may follow the text, as they do in a stream read in chunks.
enum class TextEnd { Whole, MayGrow };

// A multi-byte break cut by the end of a text that may grow.
inline constexpr int kLineBreakCutShort = -1;

// The length of the line break that starts at `at`, 0 when none does, or kLineBreakCutShort when the
// text ends inside a sequence that more bytes could make one (only for TextEnd::MayGrow).
constexpr int outputLineBreakAt(std::string_view text, std::size_t at, TextEnd end = TextEnd::Whole)
{
    const auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const int cutShort = end == TextEnd::MayGrow ? kLineBreakCutShort : 0;
    switch (byte(at)) {
    case '\n':
    case '\v':
    case '\f':
        return 1;
    case '\r':
        // At the end, alone: a line feed after it would only make an empty line, which the link drops.
        return at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
    case 0xC2:
        if (at + 1 >= text.size())
            return cutShort;
        return byte(at + 1) == 0x85 ? 2 : 0;
    case 0xE2:
        if (at + 1 >= text.size())
            return cutShort;
        if (byte(at + 1) != 0x80)
            return 0;
        if (at + 2 >= text.size())
            return cutShort;
        return byte(at + 2) == 0xA8 || byte(at + 2) == 0xA9 ? 3 : 0;
    default:
        return 0;
    }
}
