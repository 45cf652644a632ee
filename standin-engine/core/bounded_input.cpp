// Bounded JSON and YAML parsing for everything the control API receives.
#include "core/bounded_input.h"

#include "engine/records/json_rules.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace standin {

using nlohmann::json;

namespace {

std::optional<json> parseJsonWithin(std::string_view text, size_t maxBytes, std::string &error)
{
    if (text.size() > maxBytes) {
        error = "document too large";
        return std::nullopt;
    }
    // The parser with a callback scans a container's members each time one of them ends, which is
    // quadratic in a long array of objects; it is only needed to stop a document that nests too deeply.
    // (The scan counts brackets in broken text too; the parse stops at the first stray one anyway.)
    if (records::nestingWithin(text, kMaxNestingDepth)) {
        json parsed = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
        if (parsed.is_discarded()) {
            error = "invalid JSON";
            return std::nullopt;
        }
        return parsed;
    }
    bool tooDeep = false;
    const json::parser_callback_t limitDepth = [&tooDeep](int depth, json::parse_event_t event, json &) {
        if ((event == json::parse_event_t::object_start || event == json::parse_event_t::array_start)
            && depth >= kMaxNestingDepth) {
            tooDeep = true;
            return false;
        }
        return !tooDeep;
    };
    json parsed = json::parse(text.begin(), text.end(), limitDepth, /*allow_exceptions=*/false);
    if (tooDeep) {
        error = "document nested too deeply";
        return std::nullopt;
    }
    if (parsed.is_discarded()) {
        error = "invalid JSON";
        return std::nullopt;
    }
    return parsed;
}

} // namespace

std::optional<json> parseBoundedJson(std::string_view text, std::string &error)
{
    return parseJsonWithin(text, kMaxBodyBytes, error);
}

std::optional<json> parseBoundedJson(std::string_view text, size_t maxBytes, std::string &error)
{
    return parseJsonWithin(text, maxBytes, error);
}

std::optional<json> parseDataFileJson(std::string_view text, std::string &error)
{
    return parseJsonWithin(text, text.size(), error);
}

namespace {

// Plain (unquoted) YAML scalars take the core schema's types; quoted ones stay text.
json yamlScalar(const YAML::Node &node)
{
    const std::string &text = node.Scalar();
    if (node.Tag() == "!" || node.Tag() == "tag:yaml.org,2002:str")
        return text;
    if (text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL")
        return nullptr;
    if (text == "true" || text == "True" || text == "TRUE")
        return true;
    if (text == "false" || text == "False" || text == "FALSE")
        return false;
    const char *begin = text.data();
    const char *end = begin + text.size();
    if (*begin == '+')
        ++begin;
    long long integer = 0;
    auto [intEnd, intError] = std::from_chars(begin, end, integer);
    if (intError == std::errc() && intEnd == end)
        return integer;
    double real = 0;
    auto [realEnd, realError] = std::from_chars(begin, end, real);
    if (realError == std::errc() && realEnd == end && std::isfinite(real))
        return real;
    return text;
}

struct YamlConverter {
    size_t nodes = 0;
    size_t bytes = 0;
    std::string error;

    bool countBytes(size_t size)
    {
        bytes += size;
        if (bytes <= kMaxYamlExpandedBytes)
            return true;
        error = "document too large (its aliases expand to more than "
                + std::to_string(kMaxYamlExpandedBytes / (1024 * 1024)) + " MB of text)";
        return false;
    }

    std::optional<json> convert(const YAML::Node &node, int depth)
    {
        if (++nodes > kMaxYamlNodes) {
            error = "document too large (too many values)";
            return std::nullopt;
        }
        if (depth >= kMaxNestingDepth) {
            error = "document nested too deeply";
            return std::nullopt;
        }
        switch (node.Type()) {
        case YAML::NodeType::Null:
        case YAML::NodeType::Undefined:
            return json(nullptr);
        case YAML::NodeType::Scalar:
            if (!countBytes(node.Scalar().size()))
                return std::nullopt;
            return yamlScalar(node);
        case YAML::NodeType::Sequence: {
            json array = json::array();
            for (const auto &item : node) {
                auto value = convert(item, depth + 1);
                if (!value)
                    return std::nullopt;
                array.push_back(std::move(*value));
            }
            return array;
        }
        case YAML::NodeType::Map: {
            json object = json::object();
            for (const auto &entry : node) {
                if (!entry.first.IsScalar()) {
                    error = "mapping keys must be plain values";
                    return std::nullopt;
                }
                if (!countBytes(entry.first.Scalar().size()))
                    return std::nullopt;
                auto value = convert(entry.second, depth + 1);
                if (!value)
                    return std::nullopt;
                object[sanitizeUtf8(entry.first.Scalar())] = std::move(*value);
            }
            return object;
        }
        }
        return json(nullptr);
    }
};

} // namespace

std::optional<json> parseBoundedYaml(std::string_view text, std::string &error)
{
    if (text.size() > kMaxBodyBytes) {
        error = "document too large";
        return std::nullopt;
    }
    try {
        const YAML::Node root = YAML::Load(std::string(text));
        YamlConverter converter;
        auto converted = converter.convert(root, 0);
        if (!converted)
            error = converter.error;
        return converted;
    } catch (const YAML::Exception &e) {
        error = std::string("invalid YAML: ") + e.what();
    } catch (const std::exception &e) {
        error = std::string("invalid YAML: ") + e.what();
    }
    return std::nullopt;
}

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence starting at `at`, 0 when there is none. With `cut`, a
// sequence that is well formed as far as the text goes but runs past its end also counts (its length is
// then what is left).
size_t sequenceLength(std::string_view bytes, size_t at, bool cut = false)
{
    const auto lead = static_cast<unsigned char>(bytes[at]);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    unsigned int codePoint = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        codePoint = lead & 0x07;
    } else {
        return 0;
    }
    const size_t available = std::min(length, bytes.size() - at);
    if (available < length && !cut)
        return 0;
    for (size_t k = 1; k < available; ++k) {
        const auto next = static_cast<unsigned char>(bytes[at + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8 either; a cut sequence passes
    // when some ending of it would.
    codePoint <<= 6 * (length - available);
    const unsigned int highest = codePoint | ((1u << 6 * (length - available)) - 1);
    static constexpr unsigned int kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (highest < kMinimum[length] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && highest <= 0xDFFF))
        return 0;
    return available;
}

bool keptInBinary(unsigned char byte)
{
    return (byte >= 0x20 && byte < 0x7F) || byte == '\t' || byte == '\n' || byte == '\r';
}

} // namespace

std::string sanitizeUtf8(std::string_view bytes)
{
    size_t valid = 0;
    while (valid < bytes.size()) {
        const size_t length = sequenceLength(bytes, valid);
        if (length == 0)
            break;
        valid += length;
    }
    if (valid == bytes.size())
        return std::string(bytes);

    std::string out;
    if (sequenceLength(bytes, valid, true) == bytes.size() - valid) {
        // Text cut inside its last character, as a stored body's limit does.
        out.reserve(valid + 3 * (bytes.size() - valid));
        out.append(bytes.substr(0, valid));
        for (size_t i = valid; i < bytes.size(); ++i)
            out.append(kReplacement);
        return out;
    }
    // Anything else is binary. Its stray byte runs that happen to decode would show as random letters
    // of scripts no font at hand may draw, so only ASCII text is kept and every other byte marked.
    out.reserve(bytes.size());
    for (const char c : bytes) {
        if (keptInBinary(static_cast<unsigned char>(c)))
            out.push_back(c);
        else
            out.append(kReplacement);
    }
    return out;
}

} // namespace standin
