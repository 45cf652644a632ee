// Capture import (HAR, Postman, Charles, JSON lists): any bytes give routes or a message, never a crash,
// and every route it gives encodes as a route list that decodes again.
#include "fuzz_support.h"

#include "imports/capture_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string error;
    const auto imported = standin::importCapture(fuzz::asText(data, size), error);
    if (!imported) {
        fuzz::check(!error.empty(), "a refused capture has no message");
        return 0;
    }
    fuzz::check(imported->routes.size() <= standin::kMaxImportedRoutes, "more routes than the import allows");
    fuzz::check(decodeRecord<std::vector<WireRoute>>(encodeRecord(imported->routes)).has_value(),
                "imported routes do not survive their own wire form");
    return 0;
}
