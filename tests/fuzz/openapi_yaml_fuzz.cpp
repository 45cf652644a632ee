// OpenAPI import from YAML: any bytes give routes or a message, never a crash, and every route it
// gives encodes as a route list that decodes again.
#include "openapi_fuzz.h"

#include "core/bounded_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::checkOpenAPIImport(fuzz::asText(data, size), [](std::string_view text, std::string &error) {
        return standin::parseBoundedYaml(text, error);
    });
    return 0;
}
