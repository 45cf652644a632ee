// Chaos presets: injected faults, presets and the engine's chaos state.
#pragma once

#include "engine/records/json_rules.h"

#include <optional>
#include <string>
#include <vector>

// One injected fault.
struct ChaosFault {
    std::string kind; // "latency", "status", "drop" or another kind the engine knows
    double probability = 0.0; // chance per request, 0 to 1
    std::optional<std::int64_t> status;
    std::optional<std::string> body;
    std::optional<std::int64_t> minMs;
    std::optional<std::int64_t> maxMs;

    // "+200–800ms", "503 @ 25%", "drop @ 100%", or the kind itself.
    std::string summary() const;

    bool operator==(const ChaosFault &) const = default;
};
KESTRION_RECORD_JSON(ChaosFault);

// A named set of faults; identified by `id`.
struct ChaosPreset {
    std::string id;
    std::string name;
    std::vector<ChaosFault> faults;

    // The faults' summaries joined with " · "; empty without faults.
    std::string summary() const;

    bool operator==(const ChaosPreset &) const = default;
};
KESTRION_RECORD_JSON(ChaosPreset);

// The reply of GET "chaos".
struct ChaosState {
    std::vector<ChaosPreset> presets;
    std::string activeId;

    bool operator==(const ChaosState &) const = default;
};
KESTRION_RECORD_JSON(ChaosState);
