// Routes written as their JSON text straight from the records.
#include "store/route_text.h"

#include "core/bounded_input.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace standin {

namespace routetext {

std::string replacedText(std::string_view text)
{
    return nlohmann::ordered_json(std::string(text)).dump(-1, ' ', false,
                                                            nlohmann::ordered_json::error_handler_t::replace);
}

bool validUtf8(std::string_view text)
{
    return isValidUtf8(text);
}

std::string_view escapeOf(unsigned char byte, char (&spare)[8])
{
    switch (byte) {
    case '"':
        return "\\\"";
    case '\\':
        return "\\\\";
    case '\b':
        return "\\b";
    case '\f':
        return "\\f";
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    case '\t':
        return "\\t";
    default:
        break;
    }
    std::snprintf(spare, sizeof spare, "\\u%04x", byte);
    return std::string_view(spare, 6);
}

} // namespace routetext

std::string routeListText(const std::vector<WireRoute> &routes)
{
    ByteCount count;
    writeRouteListText(count, routes);
    std::string text;
    text.reserve(count.bytes);
    TextSink sink {text};
    writeRouteListText(sink, routes);
    return text;
}

} // namespace standin
