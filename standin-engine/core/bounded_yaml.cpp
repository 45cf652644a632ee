// Bounded YAML parsing: libyaml's event parser feeding the document builder.
#include "core/bounded_input.h"

#include "core/document_builder.h"

#include <yaml.h>

#include <charconv>
#include <cmath>
#include <map>

namespace standin {

using nlohmann::json;

namespace {

// A longer single value is refused as soon as it is read: while it becomes a value it is held twice
// (libyaml's copy and the document's), and nothing an import reads from a document is that long.
constexpr size_t kMaxYamlValueBytes = kMaxHeldBytes / 2;

bool isNullText(std::string_view text)
{
    return text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL";
}

// Plain (unquoted) YAML scalars take the core schema's types; quoted ones stay text.
json yamlScalar(std::string_view tag, std::string &&text)
{
    if (tag == "!" || tag == "tag:yaml.org,2002:str")
        return std::move(text);
    if (isNullText(text))
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
    return std::move(text);
}

std::string textOf(const yaml_char_t *text)
{
    return text ? std::string(reinterpret_cast<const char *>(text)) : std::string();
}

// The events of a document's first part, fed to the builder: anchors keep a copy of their value, and
// each alias counts that copy again, in memory and in text.
class YamlEvents final {
public:
    explicit YamlEvents(DocumentBuilder &builder) : m_builder(builder) {}
    ~YamlEvents()
    {
        for (auto &[name, anchored] : m_anchors)
            releaseDocument(anchored.value);
    }
    YamlEvents(const YamlEvents &) = delete;
    YamlEvents &operator=(const YamlEvents &) = delete;

    // One event; false once the first document has ended.
    bool take(const yaml_event_t &event)
    {
        switch (event.type) {
        case YAML_SCALAR_EVENT:
            scalar(event.data.scalar);
            return true;
        case YAML_ALIAS_EVENT:
            alias(textOf(event.data.alias.anchor));
            return true;
        case YAML_SEQUENCE_START_EVENT:
            open(json::array(), textOf(event.data.sequence_start.anchor));
            return true;
        case YAML_MAPPING_START_EVENT:
            open(json::object(), textOf(event.data.mapping_start.anchor));
            return true;
        case YAML_SEQUENCE_END_EVENT:
        case YAML_MAPPING_END_EVENT:
            close();
            return true;
        case YAML_DOCUMENT_END_EVENT:
        case YAML_STREAM_END_EVENT:
            return false;
        default:
            return true;
        }
    }

private:
    struct Anchored {
        json value;
        size_t textBytes = 0;
        size_t cost = 0;
        bool scalar = false;
        std::string keyText; // a scalar's own text when its value is not that text, to name a key
    };
    struct Open {
        std::string anchor;
        size_t textBefore;
        bool expectKey;
    };

    void scalar(const decltype(yaml_event_t::data.scalar) &event)
    {
        if (event.length > kMaxYamlValueBytes)
            throw ParseStopped {"document too large (one of its values is longer than "
                                + std::to_string(kMaxYamlValueBytes / (1024 * 1024)) + " MB)"};
        const bool plain = event.style == YAML_PLAIN_SCALAR_STYLE;
        // Quoted and block scalars are text unless tagged otherwise.
        const std::string tag = event.tag ? textOf(event.tag) : plain ? "?" : "!";
        const std::string anchor = textOf(event.anchor);
        std::string text(reinterpret_cast<const char *>(event.value), event.length);
        if (plain && !event.tag && isNullText(text)) {
            refuseKey();
            m_builder.value(nullptr);
            completed(anchor);
            return;
        }
        if (atKey()) {
            takeKey(text);
            if (!anchor.empty())
                m_anchors[anchor] = {json(text), text.size(), DocumentBuilder::costOf(json(text)), true, {}};
            return;
        }
        const size_t length = text.size();
        // A value that is not its own text (a number, say) keeps its text apart, in case it names a key.
        json value = yamlScalar(tag, anchor.empty() ? std::move(text) : std::string(text));
        if (value.is_string())
            text.clear();
        m_builder.value(std::move(value));
        m_text += length;
        completed(anchor, length, std::move(text));
    }

    void alias(const std::string &anchor)
    {
        const auto it = m_anchors.find(anchor);
        if (it == m_anchors.end())
            throw ParseStopped {"invalid YAML: an alias names no anchor"};
        if (atKey()) {
            const Anchored &anchored = it->second;
            if (!anchored.scalar)
                throw ParseStopped {"mapping keys must be plain values"};
            takeKey(anchored.value.is_string() ? anchored.value.get_ref<const std::string &>() : anchored.keyText);
            return;
        }
        m_aliasBytes += it->second.textBytes;
        if (m_aliasBytes > kMaxYamlExpandedBytes)
            throw ParseStopped {"document too large (its aliases expand to more than "
                                + std::to_string(kMaxYamlExpandedBytes / (1024 * 1024)) + " MB of text)"};
        m_builder.value(it->second.value, it->second.cost);
        completed({});
    }

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
    void open(json container, std::string anchor)
    {
        refuseKey();
        m_builder.begin(std::move(container));
        m_open.push_back({std::move(anchor), m_text, true});
    }
    void close()
    {
        const Open done = std::move(m_open.back());
        m_open.pop_back();
        m_builder.end();
        if (!done.anchor.empty() && m_builder.last())
            keep(done.anchor, *m_builder.last(), m_text - done.textBefore, false, {});
        if (!m_open.empty())
            m_open.back().expectKey = true;
    }
    // A value placed; with `scalarBytes`, a scalar of that text's length, which an alias may use as a key.
    void completed(const std::string &anchor, std::optional<size_t> scalarBytes = std::nullopt, std::string keyText = {})
    {
        if (!anchor.empty() && m_builder.last())
            keep(anchor, *m_builder.last(), scalarBytes.value_or(0), scalarBytes.has_value(), std::move(keyText));
        if (!m_open.empty())
            m_open.back().expectKey = true;
    }
    void keep(const std::string &anchor, const json &value, size_t textBytes, bool scalar, std::string keyText)
    {
        const size_t cost = m_builder.lastCost();
        m_builder.charge(cost + anchor.size() + keyText.size());
        m_anchors[anchor] = {value, textBytes, cost, scalar, std::move(keyText)};
    }

    DocumentBuilder &m_builder;
    std::map<std::string, Anchored> m_anchors;
    std::vector<Open> m_open;
    size_t m_text = 0;
    size_t m_aliasBytes = 0;
};

// libyaml's parser over the text, without a copy. Its scanner holds no more than the tokens of one
// possible simple key (at most 1,024 characters), whatever shape the text has.
class YamlParser final {
public:
    explicit YamlParser(std::string_view text)
    {
        yaml_parser_initialize(&m_parser);
        yaml_parser_set_input_string(&m_parser, reinterpret_cast<const unsigned char *>(text.data()), text.size());
    }
    ~YamlParser() { yaml_parser_delete(&m_parser); }
    YamlParser(const YamlParser &) = delete;
    YamlParser &operator=(const YamlParser &) = delete;

    // Hands each event to `take` until it returns false or the text ends; false when the text is not YAML.
    template <class Take> bool run(Take take, std::string &error)
    {
        for (;;) {
            yaml_event_t event;
            if (!yaml_parser_parse(&m_parser, &event)) {
                error = problem();
                return false;
            }
            struct Freed {
                yaml_event_t &event;
                ~Freed() { yaml_event_delete(&event); }
            } freed {event};
            if (!take(event))
                return true;
        }
    }

private:
    std::string problem() const
    {
        std::string text = "invalid YAML: ";
        text += m_parser.problem ? m_parser.problem : "unreadable text";
        if (m_parser.context)
            text += std::string(" ") + m_parser.context;
        return text + " (line " + std::to_string(m_parser.problem_mark.line + 1) + ", column "
               + std::to_string(m_parser.problem_mark.column + 1) + ")";
    }

    yaml_parser_t m_parser {};
};

} // namespace

std::optional<json> parseBoundedYaml(std::string_view text, std::string &error, const ParseBounds &bounds)
{
    if (text.size() > bounds.maxBytes) {
        error = "document too large";
        return std::nullopt;
    }
    // libyaml refuses text that is not UTF-8 (a document saved as Latin-1, say): its bad bytes are
    // marked first, as they would be in every text taken from it. A UTF-16 document says so up front.
    std::string marked;
    const bool utf16 = text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF");
    if (!utf16 && !isValidUtf8(text)) {
        marked = sanitizeUtf8(text);
        text = marked;
    }
    DocumentBuilder builder(bounds, nullptr);
    YamlEvents events(builder);
    YamlParser parser(text);
    try {
        if (!parser.run([&](const yaml_event_t &event) { return events.take(event); }, error))
            return std::nullopt;
        return builder.takeRoot();
    } catch (const ParseStopped &stop) {
        error = stop.reason;
    } catch (const std::exception &e) {
        error = std::string("invalid YAML: ") + e.what();
    }
    return std::nullopt;
}

} // namespace standin
