// The root CA as the engine describes it (GET "ca", POST "ca/generate").
#pragma once

#include "engine/records/json_rules.h"

#include <string>

struct CAInfo {
    bool generated = false;
    std::string fingerprint;
    std::string notAfter; // the engine's text
    std::string subject;
    std::string certPEM;
    std::string path; // the certificate file on this machine

    bool operator==(const CAInfo &) const = default;
};
KESTRION_RECORD_JSON(CAInfo);
