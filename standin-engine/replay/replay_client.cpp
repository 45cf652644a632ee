// Recorded requests as the bytes a replay sends.
#include "replay/replay_client.h"

#include <cstdio>

namespace standin::replay {

std::string requestBytes(const ProxiedRequest &request, const ProxyTarget &target)
{
    std::string bytes = request.method + " " + originFormTarget(target, request.method) + " HTTP/1.1\r\n";
    bool chunked = false;
    for (const auto &[name, value] : request.headers) {
        chunked = chunked || beast::iequals(name, "transfer-encoding");
        bytes += name + ": " + value + "\r\n";
    }
    bytes += "\r\n";
    if (!chunked) {
        bytes += request.body;
    } else {
        if (!request.body.empty()) {
            char size[20];
            const int length = std::snprintf(size, sizeof size, "%zx", request.body.size());
            bytes.append(size, static_cast<std::size_t>(length)).append("\r\n").append(request.body).append("\r\n");
        }
        bytes += "0\r\n\r\n";
    }
    return bytes;
}

} // namespace standin::replay
