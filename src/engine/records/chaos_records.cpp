// JSON and display summaries of chaos faults, presets and state.
#include "engine/records/chaos_records.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

namespace {

// probability × 100 rounded half away from zero, on the decimal digits the number is written with:
// 0.575 × 100 is 57.4999… in binary floating point, and must still read 58. Absurd values are pinned
// to the integer range.
std::int64_t percentOf(double probability)
{
    if (std::isnan(probability))
        return 0;
    const double scaled = probability * 100.0;
    if (scaled >= 9.2e18)
        return std::numeric_limits<std::int64_t>::max();
    if (scaled <= -9.2e18)
        return std::numeric_limits<std::int64_t>::min();
    if (std::fabs(probability) >= 1e15) // no fraction left to round
        return static_cast<std::int64_t>(std::round(scaled));

    // The shortest text that reads back as the same double, in plain notation ("0.575", "0.000001").
    char text[400];
    const auto written = std::to_chars(text, text + sizeof text, std::fabs(probability), std::chars_format::fixed);
    const std::string_view digits(text, std::size_t(written.ptr - text));
    const std::size_t point = digits.find('.');
    const std::string_view whole = digits.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view() : digits.substr(point + 1);
    auto fractionDigit = [&](std::size_t i) { return i < fraction.size() ? fraction[i] - '0' : 0; };

    std::int64_t percent = 0;
    for (char c : whole)
        percent = percent * 10 + (c - '0');
    percent = percent * 100 + fractionDigit(0) * 10 + fractionDigit(1);
    if (fractionDigit(2) >= 5)
        ++percent;
    return probability < 0 ? -percent : percent;
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

#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 at -O3 takes a concatenated string's length as possibly above PTRDIFF_MAX here and warns
// about a copy that cannot happen (known false positives of -Wstringop-overflow and -Wrestrict on
// std::string; silencing the first brings out the second).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
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
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

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
