// Mock bodies shaped like an example: same keys and types, new values chosen by a seed.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace standin {

constexpr int kMaxGeneratedItems = 50;

// A JSON example keeps its keys and types (an empty one gives a small user-like object); arrays get
// `count` items shaped like their first one (clamped to 1...50). Plain text gives a few words back.
// The same seed gives the same body.
std::optional<std::string> generateMockBody(std::string_view example, std::int64_t seed, int count,
                                            std::string &error);

// Most values one generated body may hold; nested arrays multiply quickly.
constexpr size_t kMaxGeneratedValues = 200000;
// Most bytes of text one body may read from its example and write, counted per value: a long string
// inside nested arrays is read and written once per copy.
constexpr size_t kMaxGeneratedBytes = 4 * 1024 * 1024;

} // namespace standin
