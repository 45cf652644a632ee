// Bounded JSON and YAML parsing for everything the control API receives.
#include "bounded_input.h"

#include "engine/records/json_rules.h"

#include <yaml-cpp/yaml.h>

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

std::string sanitizeUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        size_t length = 0;
        unsigned int codePoint = 0;
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            codePoint = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            codePoint = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            codePoint = lead & 0x07;
        }
        bool valid = length != 0 && i + length <= bytes.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            valid = (next & 0xC0) == 0x80;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8 either.
        if (valid) {
            static constexpr unsigned int kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
            valid = codePoint >= kMinimum[length] && codePoint <= 0x10FFFF
                    && !(codePoint >= 0xD800 && codePoint <= 0xDFFF);
        }
        if (valid) {
            out.append(bytes.substr(i, length));
            i += length;
        } else {
            out.append("\xEF\xBF\xBD");
            ++i;
        }
    }
    return out;
}

} // namespace standin
