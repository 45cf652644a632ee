// The JSON error body the stand-in engine answers bad requests with.
#pragma once

#include "engine/records/json_rules.h"

#include <string>

struct ErrorReply {
    std::string error;

    bool operator==(const ErrorReply &) const = default;
};
KESTRION_RECORD_JSON(ErrorReply);
