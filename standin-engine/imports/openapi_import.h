// Turns an OpenAPI 3 or Swagger 2 document (JSON or YAML) into routes for a new project.
#pragma once

#include "engine/records/route_records.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// What one import may produce: schema nodes sampled, and bytes of response bodies over all routes
// (an example shared through "$ref" counts once for every route that uses it).
constexpr size_t kMaxImportSchemaNodes = 1000000;
constexpr size_t kMaxImportedBodyBytes = 16 * 1024 * 1024;

struct OpenAPIImport {
    std::string title; // the document's info.title, or "Imported API"
    std::vector<WireRoute> routes; // at most kMaxImportedRoutes
    size_t leftOut = 0;            // operations past that limit
};

// One route per path and method, up to a project's route limit (the rest are counted); "{id}" segments become ":id"; the first 2xx response (else
// "default", else the lowest other final status) gives the status and, where the document has one, its
// example body. A document without operations, with a field of the wrong type, or past the bounds
// above gives nothing and a message naming the cause.
// Only tests pass a smaller `maxSchemaNodes`, to reach the bound with a small document.
std::optional<OpenAPIImport> importOpenAPI(std::string_view bytes, std::string &error,
                                           size_t maxSchemaNodes = kMaxImportSchemaNodes);
std::optional<OpenAPIImport> importOpenAPIDocument(const nlohmann::json &document, std::string &error,
                                                   size_t maxSchemaNodes = kMaxImportSchemaNodes);

// "/users/{id}/posts" becomes "/users/:id/posts".
std::string openAPIPathToRoute(std::string_view path);

} // namespace standin
