// How far text runs before it needs a closer look, sixteen bytes at a step: every recorded exchange
// scans its fields and bodies this way several times (checked as UTF-8, counted and written as JSON),
// so these scans are a good part of what recording costs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace standin {

namespace textruns {

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

constexpr std::uint64_t hasZeroByte(std::uint64_t v)
{
    return (v - kOnes) & ~v & kHighs;
}

// Whether any of eight bytes is a control character, a quote, a backslash or a byte past ASCII.
constexpr bool needsJsonLook(std::uint64_t v)
{
    return ((v - kOnes * 0x20) | v | hasZeroByte(v ^ (kOnes * '"')) | hasZeroByte(v ^ (kOnes * '\\'))) & kHighs;
}

} // namespace textruns

// The length of the ASCII text (bytes below 0x80) `data` starts with.
inline std::size_t asciiRun(const char *data, std::size_t size)
{
    std::size_t at = 0;
#if defined(__SSE2__)
    for (; size - at >= 16; at += 16) {
        const int highs = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + at)));
        if (highs != 0)
            return at + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(highs)));
    }
#endif
    for (; size - at >= 8; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + at, sizeof word);
        if (word & textruns::kHighs)
            break;
    }
    while (at < size && static_cast<unsigned char>(data[at]) < 0x80)
        ++at;
    return at;
}

// The length of the text `data` starts with that a JSON string holds as it is: no control character,
// quote, backslash or byte past ASCII.
inline std::size_t plainJsonRun(const char *data, std::size_t size)
{
    std::size_t at = 0;
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    for (; size - at >= 16; at += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + at));
        // Signed: a byte past ASCII is below the space too.
        const __m128i look = _mm_or_si128(_mm_cmplt_epi8(v, space),
                                          _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
        const int found = _mm_movemask_epi8(look);
        if (found != 0)
            return at + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(found)));
    }
#endif
    for (; size - at >= 8; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + at, sizeof word);
        if (textruns::needsJsonLook(word))
            break;
    }
    for (; at < size; ++at) {
        const auto c = static_cast<unsigned char>(data[at]);
        if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\')
            break;
    }
    return at;
}

} // namespace standin
