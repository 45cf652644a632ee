// Parsing of untrusted JSON and YAML with limits on size, nesting and expansion.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace standin {

// Larger bodies are refused before they are read.
constexpr size_t kMaxBodyBytes = 4 * 1024 * 1024;
// Deeper documents are refused: nothing a route list, capture or API description needs goes this deep.
constexpr int kMaxNestingDepth = 64;
// Upper bound on values produced from one YAML document, so aliases can't multiply it (YAML bombs).
constexpr size_t kMaxYamlNodes = 200000;

std::optional<nlohmann::json> parseBoundedJson(std::string_view text, std::string &error);
std::optional<nlohmann::json> parseBoundedYaml(std::string_view text, std::string &error);

// Bytes that are not valid UTF-8 become U+FFFD so the text can travel in JSON.
std::string sanitizeUtf8(std::string_view bytes);

} // namespace standin
