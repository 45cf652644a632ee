// How long a text is once written as a JSON string, and where it stops being UTF-8.
#include "core/json_strings.h"

#include <nlohmann/json.hpp>

namespace standin::jsonstrings {

std::size_t utf8Length(const unsigned char *p, const unsigned char *end)
{
    const unsigned char c = *p;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0)
            low = 0xA0;
        else if (c == 0xED)
            high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0)
            low = 0x90;
        else if (c == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - p) < length || p[1] < low || p[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    }
    return length;
}

std::optional<std::size_t> writtenSize(std::string_view text)
{
    std::size_t size = 2;
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const auto *end = p + text.size();
    while (p < end) {
        const std::size_t run = plainJsonRun(reinterpret_cast<const char *>(p), static_cast<std::size_t>(end - p));
        size += run;
        p += run;
        if (p == end)
            break;
        const unsigned char kind = kEscapes[*p];
        if (kind == kMultiByte) {
            const std::size_t length = utf8Length(p, end);
            if (length == 0)
                return std::nullopt;
            size += length;
            p += length;
            continue;
        }
        size += kind == kUnicodeEscape ? 6 : 2;
        ++p;
    }
    return size;
}

std::string replacedString(std::string_view text)
{
    return nlohmann::ordered_json(std::string(text)).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace standin::jsonstrings
