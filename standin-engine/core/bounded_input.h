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
// Upper bound on the text (keys and scalars) one YAML document expands to: an alias of a long string
// counts its length again each time it is used.
constexpr size_t kMaxYamlExpandedBytes = 4 * kMaxBodyBytes;

std::optional<nlohmann::json> parseBoundedJson(std::string_view text, std::string &error);
// The same with a size limit of its own (the saved lists may be far larger than other bodies).
std::optional<nlohmann::json> parseBoundedJson(std::string_view text, size_t maxBytes, std::string &error);
std::optional<nlohmann::json> parseBoundedYaml(std::string_view text, std::string &error);
// The engine's own files: as large as it wrote them, still refusing deep nesting.
std::optional<nlohmann::json> parseDataFileJson(std::string_view text, std::string &error);

// Text that travels in JSON. Valid UTF-8 stays as it is, and so does text cut inside its last character
// (those bytes become U+FFFD); anything else is taken as binary: its ASCII text and line breaks are kept
// and every other byte becomes U+FFFD.
std::string sanitizeUtf8(std::string_view bytes);

} // namespace standin
