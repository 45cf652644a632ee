// Routes written as their JSON text straight from the records, byte for byte as encodeRecord writes them,
// to any sink with write(std::string_view): a body of tens of megabytes is neither copied into a JSON
// value nor into a text of its own first. Counting what a write would make costs no memory at all.
#pragma once

#include "core/json_strings.h"
#include "engine/records/route_records.h"

#include <charconv>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// Counts what would be written, without writing it.
struct ByteCount {
    size_t bytes = 0;
    void write(std::string_view text) { bytes += text.size(); }
};

// Appends to a text.
struct TextSink {
    std::string &text;
    void write(std::string_view bytes) { text.append(bytes); }
};

namespace routetext {

template <class Sink> void text(Sink &out, std::string_view value)
{
    if (jsonstrings::writtenSize(value))
        jsonstrings::write(out, value);
    else
        out.write(jsonstrings::replacedString(value));
}

template <class Sink> void number(Sink &out, std::int64_t value)
{
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, value);
    out.write(std::string_view(digits, static_cast<size_t>(written.ptr - digits)));
}

template <class Sink> void field(Sink &out, std::string_view key, std::string_view value)
{
    out.write(key);
    text(out, value);
}

template <class Sink> void field(Sink &out, std::string_view key, std::int64_t value)
{
    out.write(key);
    number(out, value);
}

template <class Sink> void field(Sink &out, std::string_view key, bool value)
{
    out.write(key);
    out.write(value ? "true" : "false");
}

template <class Sink, class T> void optionalField(Sink &out, std::string_view key, const std::optional<T> &value)
{
    if (value)
        field(out, key, *value);
}

template <class Sink> void step(Sink &out, const WireStep &step)
{
    field(out, "{\"status\":", step.status);
    field(out, ",\"body\":", step.body);
    optionalField(out, ",\"latencyMs\":", step.latencyMs);
    optionalField(out, ",\"override\":", step.override);
    optionalField(out, ",\"repeat\":", step.repeat);
    out.write("}");
}

} // namespace routetext

// One route, its fields in the order of its record.
template <class Sink> void writeRouteText(Sink &out, const WireRoute &route)
{
    using namespace routetext;
    field(out, "{\"id\":", route.id);
    field(out, ",\"method\":", route.method);
    field(out, ",\"host\":", route.host);
    field(out, ",\"path\":", route.path);
    field(out, ",\"status\":", route.status);
    field(out, ",\"latencyMs\":", route.latencyMs);
    field(out, ",\"active\":", route.active);
    field(out, ",\"body\":", route.body);
    optionalField(out, ",\"override\":", route.override);
    field(out, ",\"passThrough\":", route.passThrough);
    if (route.sequence) {
        out.write(",\"sequence\":[");
        for (size_t i = 0; i < route.sequence->size(); ++i) {
            if (i)
                out.write(",");
            routetext::step(out, (*route.sequence)[i]);
        }
        out.write("]");
    }
    optionalField(out, ",\"seqMode\":", route.seqMode);
    optionalField(out, ",\"group\":", route.group);
    out.write("}");
}

// A list of routes, as the route list, an import and a profile answer it.
template <class Sink> void writeRouteListText(Sink &out, const std::vector<WireRoute> &routes)
{
    out.write("[");
    for (size_t i = 0; i < routes.size(); ++i) {
        if (i)
            out.write(",");
        writeRouteText(out, routes[i]);
    }
    out.write("]");
}

// The list's text in one allocation of its exact size: growing it would hold up to three times its size.
std::string routeListText(const std::vector<WireRoute> &routes);

} // namespace standin
