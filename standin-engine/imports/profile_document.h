// The ".kestrion" profile: one project's routes and chaos presets as a single JSON document.
#pragma once

#include "store/state_store.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

struct ProfileContents {
    std::vector<WireRoute> routes; // at most StateStore::kMaxRoutes
    size_t leftOut = 0;            // routes past that limit
    std::optional<ChaosState> chaos;
};

// {"kestrionProfile": 1, "name": ..., "project": ..., "exportedAt": ..., "routes": [...], "chaos": {...}}
std::string exportProfile(const ProjectState &project, const std::string &name);
// Nothing, with the reason, when the bytes are not a profile this engine wrote.
// A profile holds a whole project, so it may be as large as the saved state; its routes are read one at
// a time.
std::optional<ProfileContents> readProfile(std::string_view bytes, std::string &error,
                                           size_t maxBytes = StateStore::kMaxSavedBytes);

} // namespace standin
