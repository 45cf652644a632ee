// imports/: captures, OpenAPI documents and profiles turned into routes.
// Turns captured traffic (HAR, Postman and Charles JSON exports, plain JSON captures) into routes.
#pragma once

#include "store/state_store.h"

#include "engine/records/route_records.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// An import never holds more routes than a project may.
constexpr size_t kMaxImportedRoutes = StateStore::kMaxRoutes;

struct CaptureImport {
    std::vector<WireRoute> routes; // in the capture's order, at most kMaxImportedRoutes
    size_t leftOut = 0;            // further distinct routes of the capture, past the limit
    size_t passedThrough = 0;      // routes whose captured body is not text (an image, say)
};

// The routes of a capture, one per method, host and path (the first exchange wins), read one exchange
// at a time; nothing and a message for the user when the file is not a capture this engine can read. A
// route body holds text, so an exchange whose body is not text becomes a pass-through route.
std::optional<CaptureImport> importCapture(std::string_view bytes, std::string &error);

// Whether bytes can stand as a route body: valid UTF-8 without NUL characters.
bool isTextBody(std::string_view bytes);

} // namespace standin
