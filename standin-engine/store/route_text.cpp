// Routes written as their JSON text straight from the records.
#include "store/route_text.h"

namespace standin {

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
