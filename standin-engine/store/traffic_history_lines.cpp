// How a history record is written as one line of the history file: straight into the text, plain runs
// at once, exactly as the JSON writer would write it.
#include "store/traffic_history.h"

#include "core/json_strings.h"

#include <charconv>

namespace standin {

namespace {

// Text that is not valid UTF-8 goes through the JSON writer itself, which replaces what it can't read.
void appendJsonString(std::string &out, std::string_view text)
{
    struct Appender {
        std::string &out;
        void write(std::string_view bytes) { out.append(bytes); }
    } appender {out};
    const size_t start = out.size();
    if (jsonstrings::write(appender, text))
        return;
    out.resize(start);
    out += jsonstrings::replacedString(text);
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
        const auto counted = jsonstrings::writtenSize(text);
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
