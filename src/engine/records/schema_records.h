// Learned response schemas, drift findings and the "schema_drift" event payload.
#pragma once

#include "engine/records/json_rules.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

// One difference between a response and its learned schema.
struct SchemaChange {
    std::string path; // JSON path of the field
    std::string kind; // "field_added", "field_removed", "type_changed", "became_nullable", "numeric_format", ...
    std::string severity; // "breaking", "warning", ...
    std::optional<std::vector<std::string>> baseline;
    std::optional<std::vector<std::string>> actual;

    // "Field added", "Field removed", "Type changed", "Now nullable", "Numeric format", or the kind.
    std::string kindLabel() const;
    // "int|null → string", one side alone, or none when both sides are empty.
    std::optional<std::string> transition() const;

    bool operator==(const SchemaChange &) const = default;
};
KESTRION_RECORD_JSON(SchemaChange);

// The payload of a "schema_drift" event.
struct WireDriftEvent {
    std::string key;
    std::string trafficId;
    std::int64_t breaking = 0;
    std::vector<SchemaChange> changes;

    bool operator==(const WireDriftEvent &) const = default;
};
KESTRION_RECORD_JSON(WireDriftEvent);

// One drift finding; identified by `trafficId`.
struct SchemaDriftRecord {
    std::string key; // the route key
    std::string trafficId;
    std::string time;
    std::vector<SchemaChange> changes;

    // The finding of a drift event; the payload has no time, so the event's own is used.
    static SchemaDriftRecord fromEvent(const WireDriftEvent &event, std::string time);

    // Changes whose severity is exactly "breaking" / "warning".
    int breaking() const;
    int warnings() const;

    bool operator==(const SchemaDriftRecord &) const = default;
};
KESTRION_RECORD_JSON(SchemaDriftRecord);

// What was learned about one field.
struct SchemaField {
    std::vector<std::string> types;
    std::int64_t present = 0; // in how many samples

    bool operator==(const SchemaField &) const = default;
};
KESTRION_RECORD_JSON(SchemaField);

struct SchemaSketch {
    std::map<std::string, SchemaField> paths; // keyed by JSON path
    std::int64_t samples = 0;

    bool operator==(const SchemaSketch &) const = default;
};
KESTRION_RECORD_JSON(SchemaSketch);

// The learned schema of one route key; identified by `key`.
struct SchemaBaseline {
    std::string key;
    std::string method;
    std::string host;
    std::string path;
    bool locked = false;
    std::int64_t samples = 0;
    std::optional<std::string> updated;
    std::optional<SchemaSketch> sketch;

    bool operator==(const SchemaBaseline &) const = default;
};
KESTRION_RECORD_JSON(SchemaBaseline);

// The reply of GET "schema".
struct SchemaSnapshot {
    std::vector<SchemaBaseline> baselines;
    std::vector<SchemaDriftRecord> drifts;

    bool operator==(const SchemaSnapshot &) const = default;
};
KESTRION_RECORD_JSON(SchemaSnapshot);
