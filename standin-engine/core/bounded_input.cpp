// Bounded JSON and YAML parsing for everything the control API receives.
#include "core/bounded_input.h"

#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <istream>
#include <map>
#include <memory>
#include <streambuf>

namespace standin {

using nlohmann::json;

namespace {

// Why a parse stopped early: a bound passed, or the text is not what it claims to be.
struct ParseStopped {
    std::string reason;
};

// Builds a document from parse events, counting the memory its values take as they arrive and handing
// the elements of streamed arrays over one at a time.
class DocumentBuilder final {
public:
    DocumentBuilder(const ParseBounds &bounds, const ElementStream *stream)
        : m_maxHeld(bounds.maxHeldBytes)
        , m_stream(stream)
    {
    }

    // What a value costs in memory where it is placed: its slot, and the text or container it owns.
    static size_t costOf(const json &value)
    {
        if (value.is_string())
            return kSlot + kText + value.get_ref<const std::string &>().size();
        if (value.is_object())
            return kSlot + kObject;
        if (value.is_array())
            return kSlot + kArray;
        return kSlot;
    }

    // A scalar, or (with `cost`) a copy of a value already counted once (a YAML alias).
    void value(json value, std::optional<size_t> cost = std::nullopt)
    {
        const size_t before = m_held;
        charge(cost.value_or(costOf(value)));
        json *placed = place(std::move(value), before);
        m_lastCost = cost.value_or(costOf(*placed));
        m_last = placed;
        finishElementIfStreamed();
    }

    void begin(json container)
    {
        if (m_frames.size() >= static_cast<size_t>(kMaxNestingDepth))
            throw ParseStopped {"document nested too deeply"};
        const size_t before = m_held;
        charge(costOf(container));
        const bool isArray = container.is_array();
        json *placed = place(std::move(container), before);
        if (!m_frames.empty())
            m_path.push_back(m_frames.back().value->is_object() ? std::optional(m_key) : std::nullopt);
        m_frames.emplace_back();
        m_frames.back().value = placed;
        m_frames.back().heldBefore = before;
        m_frames.back().streamed = isArray && m_stream && m_stream->streams(m_path);
    }

    void end()
    {
        const size_t before = m_frames.back().heldBefore;
        m_last = m_frames.back().value;
        m_frames.pop_back();
        if (!m_frames.empty())
            m_path.pop_back();
        m_lastCost = m_held - before;
        finishElementIfStreamed();
    }

    void key(std::string key)
    {
        charge(kMember + key.size());
        m_member = &(*m_frames.back().value)[key];
        m_key = std::move(key);
    }

    // Memory held for something besides the document's own values (a YAML anchor's copy).
    void charge(size_t bytes)
    {
        m_held += bytes;
        if (m_held > m_maxHeld)
            throw ParseStopped {"document too large (it takes more than "
                                + std::to_string(m_maxHeld / (1024 * 1024)) + " MB to hold once read)"};
    }

    bool inObject() const { return !m_frames.empty() && m_frames.back().value->is_object(); }
    // The value completed last (null after a streamed element was handed over), and its cost.
    const json *last() const { return m_last; }
    size_t lastCost() const { return m_lastCost; }
    json takeRoot() { return std::move(m_root); }

private:
    static constexpr size_t kSlot = 24;   // a value in a growing array
    static constexpr size_t kText = 32;   // a string's own object
    static constexpr size_t kObject = 48; // a map's header
    static constexpr size_t kArray = 24;  // a vector's header
    static constexpr size_t kMember = 72; // a map node and its key's string object

    struct Frame {
        json *value = nullptr;
        size_t heldBefore = 0;
        bool streamed = false;
        std::unique_ptr<json> element;     // a streamed array's element being built
        size_t elementHeldBefore = 0;
    };

    json *place(json value, size_t heldBefore)
    {
        if (m_frames.empty()) {
            m_root = std::move(value);
            return &m_root;
        }
        Frame &top = m_frames.back();
        if (top.value->is_object()) {
            *m_member = std::move(value);
            return m_member;
        }
        if (top.streamed) {
            top.elementHeldBefore = heldBefore;
            top.element = std::make_unique<json>(std::move(value));
            return top.element.get();
        }
        top.value->push_back(std::move(value));
        return &top.value->back();
    }

    // Once an element of a streamed array is complete it goes to the receiver and is no longer held.
    void finishElementIfStreamed()
    {
        if (m_frames.empty() || !m_frames.back().streamed || !m_frames.back().element)
            return;
        Frame &top = m_frames.back();
        json element = std::move(*top.element);
        top.element.reset();
        m_held = top.elementHeldBefore;
        m_last = nullptr;
        std::string error;
        if (!m_stream->take(m_path, std::move(element), error))
            throw ParseStopped {error};
    }

    size_t m_maxHeld;
    const ElementStream *m_stream;
    json m_root;
    std::vector<Frame> m_frames;
    DocumentPath m_path; // of the innermost open container
    json *m_member = nullptr;
    std::string m_key;
    size_t m_held = 0;
    const json *m_last = nullptr;
    size_t m_lastCost = 0;
};

// nlohmann's event parser feeding the builder.
class JsonEvents final {
public:
    explicit JsonEvents(DocumentBuilder &builder) : m_builder(builder) {}

    bool null() { return run([&] { m_builder.value(nullptr); }); }
    bool boolean(bool value) { return run([&] { m_builder.value(value); }); }
    bool number_integer(json::number_integer_t value) { return run([&] { m_builder.value(value); }); }
    bool number_unsigned(json::number_unsigned_t value) { return run([&] { m_builder.value(value); }); }
    bool number_float(json::number_float_t value, const json::string_t &) { return run([&] { m_builder.value(value); }); }
    bool string(json::string_t &value) { return run([&] { m_builder.value(std::move(value)); }); }
    bool binary(json::binary_t &) { return false; }
    bool start_object(std::size_t) { return run([&] { m_builder.begin(json::object()); }); }
    bool key(json::string_t &key) { return run([&] { m_builder.key(std::move(key)); }); }
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
    DocumentBuilder builder(bounds, stream);
    JsonEvents events(builder);
    if (!json::sax_parse(text.begin(), text.end(), &events)) {
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

// Plain (unquoted) YAML scalars take the core schema's types; quoted ones stay text.
json yamlScalar(const std::string &tag, const std::string &text)
{
    if (tag == "!" || tag == "tag:yaml.org,2002:str")
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

// yaml-cpp's event parser feeding the builder: anchors keep a copy of their value, and each alias
// counts that copy again, in memory and in text.
class YamlEvents final : public YAML::EventHandler {
public:
    explicit YamlEvents(DocumentBuilder &builder) : m_builder(builder) {}

    void OnDocumentStart(const YAML::Mark &) override {}
    void OnDocumentEnd() override {}
    void OnNull(const YAML::Mark &, YAML::anchor_t anchor) override
    {
        refuseKey();
        m_builder.value(nullptr);
        completed(anchor, {});
    }
    void OnAlias(const YAML::Mark &, YAML::anchor_t anchor) override
    {
        const auto it = m_anchors.find(anchor);
        if (it == m_anchors.end())
            throw ParseStopped {"invalid YAML: an alias names no anchor"};
        if (atKey()) {
            if (!it->second.scalar)
                throw ParseStopped {"mapping keys must be plain values"};
            takeKey(*it->second.scalar);
            return;
        }
        m_aliasBytes += it->second.textBytes;
        if (m_aliasBytes > kMaxYamlExpandedBytes)
            throw ParseStopped {"document too large (its aliases expand to more than "
                                + std::to_string(kMaxYamlExpandedBytes / (1024 * 1024)) + " MB of text)"};
        m_builder.value(it->second.value, it->second.cost);
        completed(0, {});
    }
    void OnScalar(const YAML::Mark &, const std::string &tag, YAML::anchor_t anchor, const std::string &text) override
    {
        if (atKey()) {
            takeKey(text);
            if (anchor)
                m_anchors[anchor] = {json(text), text.size(), DocumentBuilder::costOf(json(text)), text};
            return;
        }
        m_builder.value(yamlScalar(tag, text));
        completed(anchor, text);
    }
    void OnSequenceStart(const YAML::Mark &, const std::string &, YAML::anchor_t anchor, YAML::EmitterStyle::value) override
    {
        open(json::array(), anchor);
    }
    void OnSequenceEnd() override { close(); }
    void OnMapStart(const YAML::Mark &, const std::string &, YAML::anchor_t anchor, YAML::EmitterStyle::value) override
    {
        open(json::object(), anchor);
    }
    void OnMapEnd() override { close(); }

private:
    struct Anchored {
        json value;
        size_t textBytes = 0;
        size_t cost = 0;
        std::optional<std::string> scalar; // a scalar's own text, which may also name a key
    };
    struct Open {
        YAML::anchor_t anchor;
        size_t textBefore;
        bool expectKey;
    };

    bool atKey() const { return !m_open.empty() && m_builder.inObject() && m_open.back().expectKey; }
    void refuseKey() const
    {
        if (atKey())
            throw ParseStopped {"mapping keys must be plain values"};
    }
    void takeKey(const std::string &text)
    {
        m_text += text.size();
        m_builder.key(sanitizeUtf8(text));
        m_open.back().expectKey = false;
    }
    void open(json container, YAML::anchor_t anchor)
    {
        refuseKey();
        m_builder.begin(std::move(container));
        m_open.push_back({anchor, m_text, true});
    }
    void close()
    {
        const Open done = m_open.back();
        m_open.pop_back();
        m_builder.end();
        if (done.anchor && m_builder.last())
            keep(done.anchor, *m_builder.last(), m_text - done.textBefore, std::nullopt);
        if (!m_open.empty())
            m_open.back().expectKey = true;
    }
    void completed(YAML::anchor_t anchor, const std::optional<std::string> &scalar)
    {
        if (scalar)
            m_text += scalar->size();
        if (anchor && m_builder.last())
            keep(anchor, *m_builder.last(), scalar ? scalar->size() : 0, scalar);
        if (!m_open.empty())
            m_open.back().expectKey = true;
    }
    void keep(YAML::anchor_t anchor, const json &value, size_t textBytes, const std::optional<std::string> &scalar)
    {
        const size_t cost = m_builder.lastCost();
        m_builder.charge(cost);
        m_anchors[anchor] = {value, textBytes, cost, scalar};
    }

    DocumentBuilder &m_builder;
    std::map<YAML::anchor_t, Anchored> m_anchors;
    std::vector<Open> m_open;
    size_t m_text = 0;
    size_t m_aliasBytes = 0;
};

// How deep the text's flow collections ("[", "{") go, counted roughly before yaml-cpp reads it: its
// scanner queues every token of an unclosed flow collection, so a text of nothing but "[" would take
// hundreds of megabytes before the first event. Quoted text and comments are skipped; a bracket counts
// only where a token may start.
size_t roughFlowDepth(std::string_view text)
{
    size_t depth = 0;
    size_t deepest = 0;
    char previous = '\n';
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool tokenStart = previous == '\n' || previous == ' ' || previous == '\t' || previous == '['
                                || previous == '{' || previous == ',' || previous == ':' || previous == '-';
        if (tokenStart && (c == '"' || c == '\'')) {
            for (++i; i < text.size() && text[i] != c; ++i) {
                if (c == '"' && text[i] == '\\')
                    ++i;
            }
        } else if (c == '#' && (previous == ' ' || previous == '\t' || previous == '\n')) {
            i = std::min(text.find('\n', i), text.size()) - 1;
        } else if (tokenStart && (c == '[' || c == '{')) {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
        previous = i < text.size() ? text[i] : c;
    }
    return deepest;
}

// The text as a stream, without a copy.
class ViewBuffer final : public std::streambuf {
public:
    explicit ViewBuffer(std::string_view text)
    {
        char *begin = const_cast<char *>(text.data());
        setg(begin, begin, begin + text.size());
    }
};

} // namespace

std::optional<json> parseBoundedYaml(std::string_view text, std::string &error, const ParseBounds &bounds)
{
    if (text.size() > bounds.maxBytes) {
        error = "document too large";
        return std::nullopt;
    }
    // Far deeper than the bound below, so only a text built to nest passes it.
    if (roughFlowDepth(text) > 16 * static_cast<size_t>(kMaxNestingDepth)) {
        error = "document nested too deeply";
        return std::nullopt;
    }
    DocumentBuilder builder(bounds, nullptr);
    YamlEvents events(builder);
    ViewBuffer buffer(text);
    std::istream input(&buffer);
    try {
        YAML::Parser parser(input);
        parser.HandleNextDocument(events);
        return builder.takeRoot();
    } catch (const ParseStopped &stop) {
        error = stop.reason;
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
