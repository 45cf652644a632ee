// Ids taken from requests and files are refused when they hold a control character, as project names
// holding one are: ids are logged and shown as they stand, and a line break in one would break both.
#pragma once

#include "engine/records/engine_records.h"
#include "engine/records/route_records.h"

#include <optional>
#include <string>
#include <vector>

namespace standin {

// The refusal of the first id holding a control character; nothing when every id is fine.
std::optional<std::string> refusedIds(const std::vector<WireRoute> &routes);
std::optional<std::string> refusedIds(const ChaosState &chaos);
std::optional<std::string> refusedIds(const EnvironmentSet &environments);

} // namespace standin
