// How a history record is written as one line of the history file: straight into the text, plain runs
// at once, exactly as the JSON writer would write it.
#include "store/traffic_history.h"

#include "core/text_runs.h"

#include <array>
#include <charconv>
#include <cstring>

namespace standin {

namespace {

constexpr unsigned char kUnicodeEscape = 1;
constexpr unsigned char kMultiByte = 2;

// For each byte: 0 when it stands as it is, the letter of its short escape, or one of the two markers.
constexpr std::array<unsigned char, 256> kEscapes = [] {
    std::array<unsigned char, 256> table {};
    for (int c = 0; c < 0x20; ++c)
        table[c] = kUnicodeEscape;
    for (int c = 0x80; c < 0x100; ++c)
        table[c] = kMultiByte;
    table['"'] = '"';
    table['\\'] = '\\';
    table['\b'] = 'b';
    table['\f'] = 'f';
    table['\n'] = 'n';
    table['\r'] = 'r';
    table['\t'] = 't';
    return table;
}();

// The length of the strict UTF-8 character (no overlong forms, surrogates or code points past
// U+10FFFF, as the JSON writer reads them) at p, or 0 when there is none.
size_t utf8Length(const unsigned char *p, const unsigned char *end)
{
    const unsigned char c = *p;
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0)
            low = 0xA0;
        else if (c == 0xED)
            high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0)
            low = 0x90;
        else if (c == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (static_cast<size_t>(end - p) < length || p[1] < low || p[1] > high)
        return 0;
    for (size_t i = 2; i < length; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    }
    return length;
}

// Appends the JSON string of `text` with the escapes the JSON writer uses, plain runs at once and
// straight into the buffer; false (with `out` as it was) when the text is not valid UTF-8.
bool appendPlainJsonString(std::string &out, std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const size_t start = out.size();
    // Appended piece by piece: room made ahead would be filled with zeros first, a pass of its own.
    out.push_back('"');
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const auto *end = p + text.size();
    while (p < end) {
        const size_t run = plainJsonRun(reinterpret_cast<const char *>(p), static_cast<size_t>(end - p));
        out.append(reinterpret_cast<const char *>(p), run);
        p += run;
        if (p == end)
            break;
        const unsigned char c = *p;
        const unsigned char kind = kEscapes[c];
        if (kind == kMultiByte) {
            const size_t length = utf8Length(p, end);
            if (length == 0) {
                out.resize(start);
                return false;
            }
            out.append(reinterpret_cast<const char *>(p), length);
            p += length;
            continue;
        }
        ++p;
        if (kind == kUnicodeEscape) {
            const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
            out.append(escape, sizeof escape);
        } else {
            const char escape[] = {'\\', static_cast<char>(kind)};
            out.append(escape, sizeof escape);
        }
    }
    out.push_back('"');
    return true;
}

// Text that is not valid UTF-8 goes through the JSON writer itself, which replaces what it can't read.
void appendJsonString(std::string &out, std::string_view text)
{
    if (!appendPlainJsonString(out, text))
        out += nlohmann::ordered_json(std::string(text)).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}


// The size of appendPlainJsonString's text, or nothing when `text` is not valid UTF-8.
std::optional<size_t> plainJsonStringSize(std::string_view text)
{
    size_t size = 2;
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const auto *end = p + text.size();
    while (p < end) {
        const size_t run = plainJsonRun(reinterpret_cast<const char *>(p), static_cast<size_t>(end - p));
        size += run;
        p += run;
        if (p == end)
            break;
        const unsigned char kind = kEscapes[*p];
        if (kind == kMultiByte) {
            const size_t length = utf8Length(p, end);
            if (length == 0)
                return std::nullopt;
            size += length;
            p += length;
            continue;
        }
        size += kind == kUnicodeEscape ? 6 : kind ? 2 : 1;
        ++p;
    }
    return size;
}

// Writes a line's text.
struct TextSink {
    std::string &out;
    void literal(std::string_view text) { out += text; }
    void string(std::string_view text) { appendJsonString(out, text); }
    void number(std::int64_t value)
    {
        char digits[24];
        out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    }
};

// Counts a line's text; `plain` turns false at text the JSON writer would have to mend.
struct SizeSink {
    size_t size = 0;
    bool plain = true;
    void literal(std::string_view text) { size += text.size(); }
    void string(std::string_view text)
    {
        const auto counted = plainJsonStringSize(text);
        plain = plain && counted;
        size += counted.value_or(0);
    }
    void number(std::int64_t value)
    {
        char digits[24];
        size += static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
    }
};

template <class Sink>
void writeSummary(Sink &out, const TrafficRecord &record)
{
    out.literal("\"method\":");
    out.string(record.method);
    out.literal(",\"host\":");
    out.string(record.host);
    out.literal(",\"path\":");
    out.string(record.path);
    out.literal(",\"status\":");
    out.number(record.status);
    out.literal(",\"latencyMs\":");
    out.number(record.latencyMs);
    out.literal(record.injected ? ",\"injected\":true" : ",\"injected\":false");
}

template <class Sink>
void writeLine(Sink &out, const TrafficRecord &record)
{
    out.literal("{\"id\":");
    out.string(record.id);
    out.literal(",\"time\":");
    out.string(record.time);
    out.literal(",");
    writeSummary(out, record);
    if (record.scheme) {
        out.literal(",\"scheme\":");
        out.string(*record.scheme);
    }
    if (record.query) {
        out.literal(",\"query\":");
        out.string(*record.query);
    }
    if (record.reqHeaders) {
        out.literal(",\"reqHeaders\":{");
        bool first = true;
        for (const auto &[name, value] : *record.reqHeaders) {
            if (!first)
                out.literal(",");
            first = false;
            out.string(name);
            out.literal(":");
            out.string(value);
        }
        out.literal("}");
    }
    if (record.reqBody) {
        out.literal(",\"reqBody\":");
        out.string(*record.reqBody);
    }
    if (record.respBody) {
        out.literal(",\"respBody\":");
        out.string(*record.respBody);
    }
    out.literal("}\n");
}

} // namespace

std::string TrafficHistory::encodeSummary(const TrafficRecord &record)
{
    std::string out;
    out.reserve(80 + record.host.size() + record.path.size());
    appendSummary(out, record);
    return out;
}

void TrafficHistory::appendSummary(std::string &out, const TrafficRecord &record)
{
    TextSink sink {out};
    writeSummary(sink, record);
}

size_t TrafficHistory::lineSize(const TrafficRecord &record)
{
    SizeSink sink;
    writeLine(sink, record);
    return sink.plain ? sink.size : encodeLine(record).size();
}

size_t TrafficHistory::roughLineSize(const TrafficRecord &record)
{
    // The members' names and punctuation, and room for the two numbers.
    size_t size = 160 + record.id.size() + record.time.size() + record.method.size() + record.host.size()
                  + record.path.size();
    const auto text = [&](const std::optional<std::string> &member) { size += member ? member->size() : 0; };
    text(record.scheme);
    text(record.query);
    text(record.reqBody);
    text(record.respBody);
    if (record.reqHeaders) {
        for (const auto &[name, value] : *record.reqHeaders)
            size += name.size() + value.size() + 6;
    }
    return size;
}

void TrafficHistory::appendLine(std::string &out, const TrafficRecord &record)
{
    TextSink sink {out};
    writeLine(sink, record);
}

std::string TrafficHistory::encodeLine(const TrafficRecord &record)
{
    SizeSink size;
    writeLine(size, record);
    std::string line;
    line.reserve(size.size);
    TextSink sink {line};
    writeLine(sink, record);
    return line;
}

} // namespace standin
