// Long JSON strings read straight from the text: nlohmann's lexer holds a string twice while it reads it
// (its value and its raw text, each grown a character at a time), so a 59 MB body would take about
// 256 MB of room on the way. The lexer is shown such a string as "" and the text is decoded here.
#pragma once

#include <cstddef>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// Strings this long or longer are read here.
constexpr size_t kLongJsonString = 64 * 1024;

struct LongJsonStrings {
    struct Span {
        size_t begin = 0; // the first byte after the opening quote
        size_t end = 0;   // the closing quote
    };
    std::vector<Span> spans; // in the text's order
    size_t steppedOver = 0;  // how many the lexer has been led past so far
};

// The long strings of a JSON text. A text that is not JSON may give spans that make no sense: the
// lexer stops at its first fault before it reaches them.
LongJsonStrings findLongJsonStrings(std::string_view text);

// The text for nlohmann's lexer, with the contents of each long string left out.
class LongStringSkipper final {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char *;
    using reference = const char &;

    LongStringSkipper() = default;
    LongStringSkipper(std::string_view text, size_t at, LongJsonStrings *strings)
        : m_text(text.data())
        , m_at(at)
        , m_strings(strings)
    {
    }

    const char &operator*() const { return m_text[m_at]; }
    LongStringSkipper &operator++()
    {
        ++m_at;
        if (m_strings && m_strings->steppedOver < m_strings->spans.size()
            && m_at == m_strings->spans[m_strings->steppedOver].begin)
            m_at = m_strings->spans[m_strings->steppedOver++].end;
        return *this;
    }
    LongStringSkipper operator++(int)
    {
        LongStringSkipper before = *this;
        ++*this;
        return before;
    }
    bool operator==(const LongStringSkipper &other) const { return m_at == other.m_at; }
    bool operator!=(const LongStringSkipper &other) const { return m_at != other.m_at; }

private:
    const char *m_text = nullptr;
    size_t m_at = 0;
    LongJsonStrings *m_strings = nullptr;
};

// A JSON string's contents with its escapes decoded; nothing when they are not valid JSON text.
std::optional<std::string> decodeJsonString(std::string_view contents);

} // namespace standin
