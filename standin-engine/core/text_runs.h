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

#if defined(__SSE2__)
// The bytes of `data` (`size` of them, up to sixteen) where `marks` finds something, as bits; the
// bytes past `size` read as zeros and are left out.
template <class Marks>
inline unsigned marksInTail(const char *data, std::size_t size, Marks marks)
{
    alignas(16) char tail[16] = {};
    std::memcpy(tail, data, size);
    const unsigned found = static_cast<unsigned>(_mm_movemask_epi8(marks(_mm_load_si128(reinterpret_cast<const __m128i *>(tail)))));
    return found & ((1u << size) - 1);
}

// Sixteen bytes at a step, the last few through a padded copy: short texts (a method, a time, a
// field's name) are most of what is scanned.
template <class Marks>
inline std::size_t runOf(const char *data, std::size_t size, Marks marks)
{
    std::size_t at = 0;
    for (; size - at >= 16; at += 16) {
        const unsigned found = static_cast<unsigned>(
            _mm_movemask_epi8(marks(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + at)))));
        if (found != 0)
            return at + static_cast<std::size_t>(__builtin_ctz(found));
    }
    if (at == size)
        return size;
    const unsigned found = marksInTail(data + at, size - at, marks);
    return found != 0 ? at + static_cast<std::size_t>(__builtin_ctz(found)) : size;
}
#endif

// The length of the ASCII text (bytes below 0x80) `data` starts with.
inline std::size_t asciiRun(const char *data, std::size_t size)
{
#if defined(__SSE2__)
    return runOf(data, size, [](__m128i v) { return v; });
#else
    std::size_t at = 0;
    for (; size - at >= 8; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + at, sizeof word);
        if (word & textruns::kHighs)
            break;
    }
    while (at < size && static_cast<unsigned char>(data[at]) < 0x80)
        ++at;
    return at;
#endif
}

// The length of the text `data` starts with that a JSON string holds as it is: no control character,
// quote, backslash or byte past ASCII.
inline std::size_t plainJsonRun(const char *data, std::size_t size)
{
#if defined(__SSE2__)
    return runOf(data, size, [](__m128i v) {
        // Signed: a byte past ASCII is below the space too.
        return _mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8(0x20)),
                            _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))));
    });
#else
    std::size_t at = 0;
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
#endif
}

} // namespace standin
