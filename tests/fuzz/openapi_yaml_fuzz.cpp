// OpenAPI import from YAML: any bytes give routes or a message, never a crash, and every route it
// gives encodes as a route list that decodes again.
#include "fuzz_support.h"

#include "bounded_input.h"
#include "openapi_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string error;
    const auto document = standin::parseBoundedYaml(fuzz::asText(data, size), error);
    if (!document) {
        fuzz::check(!error.empty(), "a refused document has no message");
        return 0;
    }
    const auto imported = standin::importOpenAPIDocument(*document, error);
    if (!imported) {
        fuzz::check(!error.empty(), "a refused document has no message");
        return 0;
    }
    fuzz::check(decodeRecord<std::vector<WireRoute>>(encodeRecord(imported->routes)).has_value(),
                "imported routes do not survive their own wire form");
    return 0;
}
