// A request and an answer as the proxy holds them, apart from any socket: what the exchange handler
// decides on, forwarding sends on and replays keep.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace standin {

// One request as it reached the proxy.
struct ProxiedRequest {
    std::string method;
    std::string target; // request target: "http://host/path?q" or "/path?q"
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // False when `body` holds only part of what the client sent (a body passed on as it arrived).
    bool bodyWhole = true;
    unsigned version = 11; // 10 for HTTP/1.0

    std::string_view header(std::string_view name) const; // case-insensitive, "" when absent
};

struct ProxiedResponse {
    int status = 200;
    std::string body;
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;
    bool drop = false; // close without a proper answer (chaos)
    // A large mock body shared with the route table instead of `body`, so slow clients hold no copy.
    std::shared_ptr<const std::string> sharedBody;

    const std::string &bodyText() const { return sharedBody ? *sharedBody : body; }
};

// Whether two field names are the same, ASCII letters compared without case.
inline bool sameIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        x = x >= 'A' && x <= 'Z' ? static_cast<char>(x - 'A' + 'a') : x;
        y = y >= 'A' && y <= 'Z' ? static_cast<char>(y - 'A' + 'a') : y;
        if (x != y)
            return false;
    }
    return true;
}

} // namespace standin
