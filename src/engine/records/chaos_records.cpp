// JSON and display summaries of chaos faults, presets and state.
#include "engine/records/chaos_records.h"

#include <cmath>
#include <limits>

namespace {

// probability × 100 rounded half away from zero; absurd values are pinned to the integer range.
std::int64_t percentOf(double probability)
{
    const double scaled = std::round(probability * 100.0);
    if (std::isnan(scaled))
        return 0;
    if (scaled >= 9.2e18)
        return std::numeric_limits<std::int64_t>::max();
    if (scaled <= -9.2e18)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(scaled);
}

template <class Json> void writeFault(Json &j, const ChaosFault &fault)
{
    j = Json::object();
    j["kind"] = fault.kind;
    j["probability"] = fault.probability;
    records::putOptional(j, "status", fault.status);
    records::putOptional(j, "body", fault.body);
    records::putOptional(j, "minMs", fault.minMs);
    records::putOptional(j, "maxMs", fault.maxMs);
}

template <class Json> void writePreset(Json &j, const ChaosPreset &preset)
{
    j = Json::object();
    j["id"] = preset.id;
    j["name"] = preset.name;
    j["faults"] = preset.faults;
}

template <class Json> void writeState(Json &j, const ChaosState &state)
{
    j = Json::object();
    j["presets"] = state.presets;
    j["activeId"] = state.activeId;
}

} // namespace

std::string ChaosFault::summary() const
{
    if (kind == "latency")
        return "+" + std::to_string(minMs.value_or(0)) + "–" + std::to_string(maxMs.value_or(0)) + "ms";
    if (kind == "status")
        return std::to_string(status.value_or(500)) + " @ " + std::to_string(percentOf(probability)) + "%";
    if (kind == "drop")
        return "drop @ " + std::to_string(percentOf(probability)) + "%";
    return kind;
}

std::string ChaosPreset::summary() const
{
    std::string text;
    for (std::size_t i = 0; i < faults.size(); ++i) {
        if (i > 0)
            text += " · ";
        text += faults[i].summary();
    }
    return text;
}

KESTRION_RECORD_WRITERS(ChaosFault, writeFault)
KESTRION_RECORD_WRITERS(ChaosPreset, writePreset)
KESTRION_RECORD_WRITERS(ChaosState, writeState)

void from_json(const nlohmann::json &j, ChaosFault &fault)
{
    const records::ObjectReader in(j);
    in.required("kind", fault.kind);
    in.required("probability", fault.probability);
    in.optional("status", fault.status);
    in.optional("body", fault.body);
    in.optional("minMs", fault.minMs);
    in.optional("maxMs", fault.maxMs);
}

void from_json(const nlohmann::json &j, ChaosPreset &preset)
{
    const records::ObjectReader in(j);
    in.required("id", preset.id);
    in.required("name", preset.name);
    in.required("faults", preset.faults);
}

void from_json(const nlohmann::json &j, ChaosState &state)
{
    const records::ObjectReader in(j);
    in.required("presets", state.presets);
    in.required("activeId", state.activeId);
}
