// Small helpers shared by the fuzz targets.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace fuzz {

inline std::string_view asText(const std::uint8_t *data, std::size_t size)
{
    return {reinterpret_cast<const char *>(data), size};
}

// Splits the input at newlines into at most `count` fields; the last field keeps the rest.
inline std::vector<std::string_view> fields(std::string_view text, std::size_t count)
{
    std::vector<std::string_view> out;
    while (out.size() + 1 < count) {
        const auto newline = text.find('\n');
        if (newline == std::string_view::npos)
            break;
        out.push_back(text.substr(0, newline));
        text.remove_prefix(newline + 1);
    }
    out.push_back(text);
    out.resize(count);
    return out;
}

// A broken property: report it and abort, so libFuzzer keeps the input and the replay fails.
[[noreturn]] inline void fail(const char *what)
{
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

inline void check(bool holds, const char *what)
{
    if (!holds)
        fail(what);
}

} // namespace fuzz
