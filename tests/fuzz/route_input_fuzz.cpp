// The route editors' host and path normalisers: never crash, and normalising twice equals once.
#include "fuzz_support.h"

#include "engine/records/route_input.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text = fuzz::asText(data, size);
    const std::string host = RouteInput::normalizeHost(text);
    fuzz::check(RouteInput::normalizeHost(host) == host, "normalizeHost twice differs from once");
    fuzz::check(host.find('/') == std::string::npos, "a normalised host holds a /");
    const std::string path = RouteInput::normalizePath(text);
    fuzz::check(RouteInput::normalizePath(path) == path, "normalizePath twice differs from once");
    fuzz::check(path.empty() || path.front() == '/', "a normalised path does not start with /");
    fuzz::check(RouteInput::lowercased(RouteInput::lowercased(text)) == RouteInput::lowercased(text),
                "lower-casing twice differs from once");
    return 0;
}
