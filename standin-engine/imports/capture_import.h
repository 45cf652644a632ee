// imports/: captures, OpenAPI documents and profiles turned into routes.
// Turns captured traffic (HAR, Postman and Charles JSON exports, plain JSON captures) into routes.
#pragma once

#include "engine/records/route_records.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

constexpr size_t kMaxImportedRoutes = 2000;

// The routes of a capture, one per method, host and path (the first exchange wins); nothing and a
// message for the user when the file is not a capture this engine can read. A route body holds text, so
// an exchange whose body is not text (an image, say) becomes a pass-through route, and is counted in
// `passedThrough` when given.
std::optional<std::vector<WireRoute>> importCapture(std::string_view bytes, std::string &error,
                                                    size_t *passedThrough = nullptr);

// Whether bytes can stand as a route body: valid UTF-8 without NUL characters.
bool isTextBody(std::string_view bytes);

// Which kind of capture a parsed document is: "har", "postman", "charles", "routes", "requests" or "".
std::string captureKind(const nlohmann::json &document);

} // namespace standin
