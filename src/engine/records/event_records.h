// The engine's health record and one object of the event stream.
#pragma once

#include "engine/records/json_rules.h"
#include "engine/records/schema_records.h"
#include "engine/records/traffic_records.h"

#include <cstdint>
#include <optional>
#include <string>

// The reply of GET "health", and an optional member of every event.
struct EngineHealth {
    std::string status; // the engine's own status word
    std::string version;
    std::int64_t pid = 0;
    double uptimeSeconds = 0.0;
    bool proxyRunning = false;
    std::int64_t proxyPort = 0;
    std::int64_t controlPort = 0;
    std::uint64_t memoryBytes = 0;
    std::int64_t goroutines = 0;
    std::int64_t routeCount = 0;

    bool operator==(const EngineHealth &) const = default;
};
KESTRION_RECORD_JSON(EngineHealth);

// One "data:" line of the event stream. `type` is "hello", "proxy_started", "proxy_stopped",
// "request", "schema_drift" or anything else; a null member counts as absent.
struct EngineEvent {
    std::string type;
    std::string time;
    std::optional<EngineHealth> health;
    std::optional<WireTrafficEvent> request;
    std::optional<WireDriftEvent> drift;

    bool operator==(const EngineEvent &) const = default;
};
KESTRION_RECORD_JSON(EngineEvent);
