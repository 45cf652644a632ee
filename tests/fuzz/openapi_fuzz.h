// The property both OpenAPI import targets check, whatever text format the document came in.
#pragma once

#include "fuzz_support.h"

#include "imports/openapi_import.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace fuzz {

using DocumentParser = std::optional<nlohmann::json> (*)(std::string_view text, std::string &error);

// Any bytes give routes or a message, never a crash, and every route it gives encodes as a route list
// that decodes again.
inline void checkOpenAPIImport(std::string_view text, DocumentParser parse)
{
    std::string error;
    const auto document = parse(text, error);
    if (!document) {
        check(!error.empty(), "a refused document has no message");
        return;
    }
    const auto imported = standin::importOpenAPIDocument(*document, error);
    if (!imported) {
        check(!error.empty(), "a refused document has no message");
        return;
    }
    check(decodeRecord<std::vector<WireRoute>>(encodeRecord(imported->routes)).has_value(),
          "imported routes do not survive their own wire form");
}

} // namespace fuzz
