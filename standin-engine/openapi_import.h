// Turns an OpenAPI 3 or Swagger 2 document (JSON or YAML) into routes for a new project.
#pragma once

#include "engine/records/route_records.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

struct OpenAPIImport {
    std::string title; // the document's info.title, or "Imported API"
    std::vector<WireRoute> routes;
};

// One route per path and method; "{id}" segments become ":id"; the first 2xx response gives the
// status and, where the document has one, its example body.
std::optional<OpenAPIImport> importOpenAPI(std::string_view bytes, std::string &error);
std::optional<OpenAPIImport> importOpenAPIDocument(const nlohmann::json &document, std::string &error);

// "/users/{id}/posts" becomes "/users/:id/posts".
std::string openAPIPathToRoute(std::string_view path);

} // namespace standin
