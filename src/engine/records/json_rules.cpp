// The strict JSON readers shared by every wire record.
#include "engine/records/json_rules.h"

#include <limits>

RecordError::RecordError(std::string path, std::string reason)
    : std::runtime_error(path.empty() ? reason : path + ": " + reason)
    , m_path(std::move(path))
    , m_reason(std::move(reason))
{
}

RecordError RecordError::within(std::string_view segment) const
{
    std::string outer(segment);
    if (!m_path.empty()) {
        if (m_path.front() != '[')
            outer += '.';
        outer += m_path;
    }
    return RecordError(std::move(outer), m_reason);
}

RecordError RecordError::withinElement(std::size_t index) const
{
    std::string segment = "[";
    segment += std::to_string(index);
    segment += ']';
    return within(segment);
}

namespace records {

bool nestingWithin(std::string_view text, int limit)
{
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            if (++depth > limit)
                return false;
            break;
        case ']':
        case '}':
            --depth;
            break;
        default:
            break;
        }
    }
    return true;
}

void decodeValue(const nlohmann::json &j, std::string &out)
{
    if (!j.is_string())
        throw RecordError({}, "expected a string");
    out = j.get_ref<const std::string &>();
}

void decodeValue(const nlohmann::json &j, bool &out)
{
    if (!j.is_boolean())
        throw RecordError({}, "expected a boolean");
    out = j.get<bool>();
}

void decodeValue(const nlohmann::json &j, std::int64_t &out)
{
    // Floats such as 1.5 or 2.0 are refused: the engine writes integers as integers.
    if (j.is_number_unsigned()) {
        const auto value = j.get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throw RecordError({}, "integer out of range");
        out = static_cast<std::int64_t>(value);
        return;
    }
    if (!j.is_number_integer())
        throw RecordError({}, "expected an integer");
    out = j.get<std::int64_t>();
}

void decodeValue(const nlohmann::json &j, std::uint64_t &out)
{
    if (j.is_number_unsigned()) {
        out = j.get<std::uint64_t>();
        return;
    }
    if (!j.is_number_integer())
        throw RecordError({}, "expected an integer");
    if (j.get<std::int64_t>() < 0)
        throw RecordError({}, "integer out of range");
    out = static_cast<std::uint64_t>(j.get<std::int64_t>());
}

void decodeValue(const nlohmann::json &j, int &out)
{
    std::int64_t wide = 0;
    decodeValue(j, wide);
    if (wide < std::numeric_limits<int>::min() || wide > std::numeric_limits<int>::max())
        throw RecordError({}, "integer out of range");
    out = static_cast<int>(wide);
}

void decodeValue(const nlohmann::json &j, double &out)
{
    if (!j.is_number())
        throw RecordError({}, "expected a number");
    out = j.get<double>();
}

ObjectReader::ObjectReader(const nlohmann::json &j)
    : m_object(j)
{
    if (!j.is_object())
        throw RecordError({}, "expected an object");
}

} // namespace records
