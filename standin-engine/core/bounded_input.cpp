// Bounded JSON parsing for everything the control API receives, and UTF-8 checks of untrusted text.
#include "core/bounded_input.h"

#include "core/document_builder.h"
#include "core/long_json_strings.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace standin {

using nlohmann::json;

namespace {

// nlohmann's event parser feeding the builder.
class JsonEvents final {
public:
    JsonEvents(DocumentBuilder &builder, std::string_view text, const LongJsonStrings &longStrings)
        : m_builder(builder)
        , m_text(text)
        , m_longStrings(longStrings)
    {
    }

    bool null() { return run([&] { m_builder.value(nullptr); }); }
    bool boolean(bool value) { return run([&] { m_builder.value(value); }); }
    bool number_integer(json::number_integer_t value) { return run([&] { m_builder.value(value); }); }
    bool number_unsigned(json::number_unsigned_t value) { return run([&] { m_builder.value(value); }); }
    bool number_float(json::number_float_t value, const json::string_t &) { return run([&] { m_builder.value(value); }); }
    bool string(json::string_t &value) { return run([&] { m_builder.value(taken(value)); }); }
    bool binary(json::binary_t &) { return false; }
    bool start_object(std::size_t) { return run([&] { m_builder.begin(json::object()); }); }
    bool key(json::string_t &key) { return run([&] { m_builder.key(taken(key)); }); }
    bool end_object() { return run([&] { m_builder.end(); }); }
    bool start_array(std::size_t) { return run([&] { m_builder.begin(json::array()); }); }
    bool end_array() { return run([&] { m_builder.end(); }); }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &)
    {
        if (m_stopped.empty())
            m_stopped = "invalid JSON";
        return false;
    }

    const std::string &stopped() const { return m_stopped; }

private:
    // The string the lexer read, or, when it was just led past a long one, that one read from the text.
    std::string taken(std::string &lexed)
    {
        if (m_longStrings.steppedOver == m_decoded)
            return std::move(lexed);
        const LongJsonStrings::Span span = m_longStrings.spans[m_decoded++];
        auto decoded = decodeJsonString(m_text.substr(span.begin, span.end - span.begin));
        if (!decoded)
            throw ParseStopped {"invalid JSON"};
        return std::move(*decoded);
    }

    template <class Step> bool run(Step step)
    {
        try {
            step();
            return true;
        } catch (const ParseStopped &stop) {
            m_stopped = stop.reason;
            return false;
        }
    }

    DocumentBuilder &m_builder;
    std::string_view m_text;
    const LongJsonStrings &m_longStrings;
    size_t m_decoded = 0;
    std::string m_stopped;
};

// The held-memory bound of a body: the usual one, or twice the body for the larger saved lists.
ParseBounds boundsFor(size_t maxBytes)
{
    return {maxBytes, std::max(kMaxHeldBytes, 2 * maxBytes)};
}

} // namespace

std::optional<json> parseBoundedJson(std::string_view text, const ParseBounds &bounds, std::string &error,
                                     const ElementStream *stream)
{
    if (text.size() > bounds.maxBytes) {
        error = "document too large";
        return std::nullopt;
    }
    LongJsonStrings longStrings = findLongJsonStrings(text);
    DocumentBuilder builder(bounds, stream);
    JsonEvents events(builder, text, longStrings);
    const LongStringSkipper begin(text, 0, &longStrings);
    const LongStringSkipper end(text, text.size(), nullptr);
    if (!json::sax_parse(begin, end, &events)) {
        error = events.stopped().empty() ? "invalid JSON" : events.stopped();
        return std::nullopt;
    }
    return builder.takeRoot();
}

std::optional<json> parseBoundedJson(std::string_view text, std::string &error)
{
    return parseBoundedJson(text, ParseBounds {}, error);
}

std::optional<json> parseBoundedJson(std::string_view text, size_t maxBytes, std::string &error)
{
    return parseBoundedJson(text, boundsFor(maxBytes), error);
}

std::optional<json> parseDataFileJson(std::string_view text, std::string &error)
{
    return parseBoundedJson(text, ParseBounds {text.size(), SIZE_MAX}, error);
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


// How far the bytes are well-formed UTF-8 from the start.
size_t validPrefix(std::string_view bytes)
{
    size_t valid = 0;
    while (valid < bytes.size()) {
        const size_t length = sequenceLength(bytes, valid);
        if (length == 0)
            break;
        valid += length;
    }
    return valid;
}

// What writing a value out adds up to, stopping as soon as it passes the limit.
class WrittenSize final {
public:
    WrittenSize(int indent, size_t limit) : m_indent(indent < 0 ? 0 : static_cast<size_t>(indent)), m_pretty(indent >= 0), m_limit(limit) {}

    bool add(const json &value, size_t depth)
    {
        switch (value.type()) {
        case json::value_t::string:
            return text(value.get_ref<const std::string &>());
        case json::value_t::array:
        case json::value_t::object:
            return container(value, depth);
        case json::value_t::boolean:
            return grow(value.get<bool>() ? 4 : 5);
        case json::value_t::number_integer:
        case json::value_t::number_unsigned:
        case json::value_t::number_float:
            return grow(number(value));
        default:
            return grow(4); // null, and what JSON can't write
        }
    }
    size_t total() const { return m_total; }

private:
    bool grow(size_t bytes)
    {
        m_total += bytes;
        return m_total <= m_limit;
    }
    bool text(const std::string &value)
    {
        size_t escaped = 2;
        for (const char c : value) {
            if (c == '"' || c == '\\' || c == '\b' || c == '\f' || c == '\n' || c == '\r' || c == '\t')
                escaped += 2;
            else
                escaped += static_cast<unsigned char>(c) < 0x20 ? 6 : 1;
        }
        return grow(escaped);
    }
    static size_t number(const json &value)
    {
        char digits[64];
        std::to_chars_result written {};
        if (value.is_number_integer() && !value.is_number_unsigned())
            written = std::to_chars(digits, digits + sizeof digits, value.get<std::int64_t>());
        else if (value.is_number_unsigned())
            written = std::to_chars(digits, digits + sizeof digits, value.get<std::uint64_t>());
        else
            written = std::to_chars(digits, digits + sizeof digits, value.get<double>());
        return static_cast<size_t>(written.ptr - digits) + (value.is_number_float() ? 2 : 0);
    }
    bool container(const json &value, size_t depth)
    {
        if (value.empty())
            return grow(2);
        // Brackets, a comma between members, and in the indented form each member on its own line.
        const size_t inner = m_pretty ? 1 + (depth + 1) * m_indent : 0;
        if (!grow(2 + (value.size() - 1) + value.size() * inner + (m_pretty ? 1 + depth * m_indent : 0)))
            return false;
        if (value.is_object()) {
            for (auto it = value.begin(); it != value.end(); ++it) {
                if (!text(it.key()) || !grow(m_pretty ? 2 : 1) || !add(it.value(), depth + 1))
                    return false;
            }
            return true;
        }
        for (const auto &element : value) {
            if (!add(element, depth + 1))
                return false;
        }
        return true;
    }

    size_t m_indent;
    bool m_pretty;
    size_t m_limit;
    size_t m_total = 0;
};

} // namespace

size_t writtenJsonSize(const json &value, int indent, size_t limit)
{
    WrittenSize size(indent, limit);
    size.add(value, 0);
    return size.total();
}

void releaseDocument(json &value)
{
    if (value.is_array()) {
        auto &elements = value.get_ref<json::array_t &>();
        for (json &element : elements)
            releaseDocument(element);
        json::array_t().swap(elements);
    } else if (value.is_object()) {
        auto &members = value.get_ref<json::object_t &>();
        for (auto &member : members)
            releaseDocument(member.second);
        members.clear();
    }
}

bool isValidUtf8(std::string_view bytes)
{
    return validPrefix(bytes) == bytes.size();
}

std::string sanitizeUtf8(std::string_view bytes)
{
    const size_t valid = validPrefix(bytes);
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
