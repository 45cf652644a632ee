// Parsing of untrusted JSON and YAML with limits on size, nesting and expansion.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// Larger bodies are refused before they are read.
constexpr size_t kMaxBodyBytes = 4 * 1024 * 1024;
// Deeper documents are refused: nothing a route list, capture or API description needs goes this deep.
constexpr int kMaxNestingDepth = 64;
// Imported files (captures, API documents, profiles) may be this large.
constexpr size_t kMaxImportBytes = 64 * 1024 * 1024;
// Upper bound on the memory the values of one parsed document take while held (an estimate counted as
// they arrive), so a small text of many tiny values can't take gigabytes. Larger bodies get twice their size.
constexpr size_t kMaxHeldBytes = 64 * 1024 * 1024;
// Upper bound on the text YAML aliases add: an alias of a long string counts its length again each use.
constexpr size_t kMaxYamlExpandedBytes = 16 * 1024 * 1024;

struct ParseBounds {
    size_t maxBytes = kMaxBodyBytes;
    size_t maxHeldBytes = kMaxHeldBytes;
};

// Where a value sits in a document: object keys, and nothing for an array's element.
using DocumentPath = std::vector<std::optional<std::string>>;

// Arrays handed over one element at a time instead of kept, so a long list is never held whole. They
// stay in the parsed document as empty arrays.
struct ElementStream {
    std::function<bool(const DocumentPath &arrayPath)> streams;
    // One complete element; false stops the parse, with `error` naming why.
    std::function<bool(const DocumentPath &arrayPath, nlohmann::json &&element, std::string &error)> take;
};

std::optional<nlohmann::json> parseBoundedJson(std::string_view text, std::string &error);
// The same with a size limit of its own (the saved lists may be far larger than other bodies).
std::optional<nlohmann::json> parseBoundedJson(std::string_view text, size_t maxBytes, std::string &error);
std::optional<nlohmann::json> parseBoundedJson(std::string_view text, const ParseBounds &bounds, std::string &error,
                                               const ElementStream *stream = nullptr);
std::optional<nlohmann::json> parseBoundedYaml(std::string_view text, std::string &error,
                                               const ParseBounds &bounds = {});
// The engine's own files: as large as it wrote them, still refusing deep nesting.
std::optional<nlohmann::json> parseDataFileJson(std::string_view text, std::string &error);

// Frees a parsed value's contents leaf first. nlohmann's destructor would first move a large array's
// elements into a second array as large, so dropping a document would briefly take its size again.
void releaseDocument(nlohmann::json &value);

// Releases a parsed value that way when the scope ends.
class ReleasedAtExit final {
public:
    explicit ReleasedAtExit(nlohmann::json &value) : m_value(value) {}
    ~ReleasedAtExit() { releaseDocument(m_value); }
    ReleasedAtExit(const ReleasedAtExit &) = delete;
    ReleasedAtExit &operator=(const ReleasedAtExit &) = delete;

private:
    nlohmann::json &m_value;
};

// The length of `value.dump(indent)` (invalid UTF-8 replaced), counted without writing it and no further
// than just past `limit`: indentation can make a small document's text hundreds of times its size.
size_t writtenJsonSize(const nlohmann::json &value, int indent, size_t limit);

// Whether bytes are valid UTF-8 as they stand (sanitizeUtf8 would leave them unchanged), without a copy.
bool isValidUtf8(std::string_view bytes);

// Text that travels in JSON. Valid UTF-8 stays as it is, and so does text cut inside its last character
// (those bytes become U+FFFD); anything else is taken as binary: its ASCII text and line breaks are kept
// and every other byte becomes U+FFFD.
std::string sanitizeUtf8(std::string_view bytes);

} // namespace standin
