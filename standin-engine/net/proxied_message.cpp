// Field lookups on a request the proxy holds.
#include "net/proxied_message.h"

namespace standin {

std::string_view ProxiedRequest::header(std::string_view name) const
{
    for (const auto &[key, value] : headers) {
        if (sameIgnoringAsciiCase(key, name))
            return value;
    }
    return {};
}

} // namespace standin
