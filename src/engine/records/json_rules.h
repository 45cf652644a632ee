// The strict JSON rules every wire record follows, and the generic encode/decode entry points.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Thrown by every from_json of a record; the message names the key path that failed
// (for example "sequence[2].status: expected an integer").
class RecordError final : public std::runtime_error {
public:
    RecordError(std::string path, std::string reason);

    const std::string &path() const { return m_path; }
    const std::string &reason() const { return m_reason; }

    // The same error one level further out: `segment` is a key or an index text like "[3]".
    RecordError within(std::string_view segment) const;
    // The same error inside the element at `index` of an array ("[3]").
    RecordError withinElement(std::size_t index) const;

private:
    std::string m_path;
    std::string m_reason;
};

// Declares the three JSON functions of a record: encoding into either JSON flavour (the
// ordered one keeps keys in field order) and strict decoding.
#define KESTRION_RECORD_JSON(Type)                                                                  \
    void to_json(nlohmann::json &j, const Type &value);                                             \
    void to_json(nlohmann::ordered_json &j, const Type &value);                                     \
    void from_json(const nlohmann::json &j, Type &value)

// Defines both to_json of a record from one `template <class Json> void writer(Json &, const Type &)`.
#define KESTRION_RECORD_WRITERS(Type, writer)                                                       \
    void to_json(nlohmann::json &j, const Type &value) { writer(j, value); }                        \
    void to_json(nlohmann::ordered_json &j, const Type &value) { writer(j, value); }

namespace records {

// Deeper documents than this are refused before parsing; no record nests anywhere near it.
inline constexpr int kMaxNesting = 64;

// True when the JSON text never opens more than `limit` arrays/objects at once.
bool nestingWithin(std::string_view text, int limit);

// Strict readers: each throws RecordError with an empty path on a wrong JSON type or range.
void decodeValue(const nlohmann::json &j, std::string &out);
void decodeValue(const nlohmann::json &j, bool &out);
void decodeValue(const nlohmann::json &j, int &out);
void decodeValue(const nlohmann::json &j, std::int64_t &out);
void decodeValue(const nlohmann::json &j, std::uint64_t &out);
void decodeValue(const nlohmann::json &j, double &out);
template <class T> void decodeValue(const nlohmann::json &j, std::vector<T> &out);
template <class T> void decodeValue(const nlohmann::json &j, std::map<std::string, T> &out);
template <class T> void decodeValue(const nlohmann::json &j, std::optional<T> &out);
template <class T> void decodeValue(const nlohmann::json &j, T &out);

// Reads the keys of one JSON object: required keys must be present and non-null,
// optional keys may be missing or null, everything else is ignored.
class ObjectReader final {
public:
    explicit ObjectReader(const nlohmann::json &j);

    template <class T> void required(const char *key, T &out) const
    {
        const auto it = m_object.find(key);
        if (it == m_object.end())
            throw RecordError(key, "missing required key");
        if (it->is_null())
            throw RecordError(key, "must not be null");
        try {
            decodeValue(*it, out);
        } catch (const RecordError &error) {
            throw error.within(key);
        }
    }

    template <class T> void optional(const char *key, std::optional<T> &out) const
    {
        const auto it = m_object.find(key);
        if (it == m_object.end() || it->is_null()) {
            out.reset();
            return;
        }
        T value{};
        try {
            decodeValue(*it, value);
        } catch (const RecordError &error) {
            throw error.within(key);
        }
        out = std::move(value);
    }

private:
    const nlohmann::json &m_object;
};

// Writes an optional field only when it holds a value: absent fields are omitted, never null.
template <class Json, class T> void putOptional(Json &j, const char *key, const std::optional<T> &value)
{
    if (value)
        j[key] = *value;
}

template <class T> void decodeValue(const nlohmann::json &j, std::vector<T> &out)
{
    if (!j.is_array())
        throw RecordError({}, "expected an array");
    std::vector<T> result;
    result.reserve(j.size());
    for (std::size_t i = 0; i < j.size(); ++i) {
        T element{};
        try {
            decodeValue(j[i], element);
        } catch (const RecordError &error) {
            throw error.withinElement(i);
        }
        result.push_back(std::move(element));
    }
    out = std::move(result);
}

template <class T> void decodeValue(const nlohmann::json &j, std::map<std::string, T> &out)
{
    if (!j.is_object())
        throw RecordError({}, "expected an object");
    std::map<std::string, T> result;
    for (auto it = j.begin(); it != j.end(); ++it) {
        T element{};
        try {
            decodeValue(it.value(), element);
        } catch (const RecordError &error) {
            throw error.within(it.key());
        }
        result.emplace(it.key(), std::move(element));
    }
    out = std::move(result);
}

template <class T> void decodeValue(const nlohmann::json &j, std::optional<T> &out)
{
    if (j.is_null()) {
        out.reset();
        return;
    }
    T value{};
    decodeValue(j, value);
    out = std::move(value);
}

// Records: their own from_json, found by argument-dependent lookup.
template <class T> void decodeValue(const nlohmann::json &j, T &out)
{
    from_json(j, out);
}

} // namespace records

// Decodes a parsed document; throws RecordError on the first violation.
template <class T> T decodeJsonOrThrow(const nlohmann::json &j)
{
    T value{};
    records::decodeValue(j, value);
    return value;
}

// Decodes a parsed document; no value when any rule is broken. Never throws.
template <class T> std::optional<T> decodeJson(const nlohmann::json &j) noexcept
{
    try {
        return decodeJsonOrThrow<T>(j);
    } catch (...) {
        return std::nullopt;
    }
}

// Parses and decodes JSON text (a record, or std::vector of records). Invalid JSON, invalid
// UTF-8, excessive nesting and any broken rule give no value. Never throws.
template <class T> std::optional<T> decodeRecord(std::string_view text) noexcept
{
    try {
        if (!records::nestingWithin(text, records::kMaxNesting))
            return std::nullopt;
        const auto j = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
        if (j.is_discarded())
            return std::nullopt;
        return decodeJsonOrThrow<T>(j);
    } catch (...) {
        return std::nullopt;
    }
}

// The JSON value of a record (or a vector of records) with keys in field order.
template <class T> nlohmann::ordered_json toOrderedJson(const T &value)
{
    return nlohmann::ordered_json(value);
}

// Compact JSON text of a record (or a vector of records), keys in field order. Text that is
// not valid UTF-8 is written with U+FFFD in place of the bad bytes rather than failing.
template <class T> std::string encodeRecord(const T &value)
{
    return toOrderedJson(value).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}
