// JSON of learned schemas and drift findings, and their display helpers.
#include "engine/records/schema_records.h"

#include <algorithm>

namespace {

std::string joined(const std::optional<std::vector<std::string>> &types)
{
    std::string text;
    if (!types)
        return text;
    for (std::size_t i = 0; i < types->size(); ++i) {
        if (i > 0)
            text += '|';
        text += (*types)[i];
    }
    return text;
}

template <class Json> void writeChange(Json &j, const SchemaChange &c)
{
    j = Json::object();
    j["path"] = c.path;
    j["kind"] = c.kind;
    j["severity"] = c.severity;
    records::putOptional(j, "baseline", c.baseline);
    records::putOptional(j, "actual", c.actual);
}

template <class Json> void writeDriftEvent(Json &j, const WireDriftEvent &e)
{
    j = Json::object();
    j["key"] = e.key;
    j["trafficId"] = e.trafficId;
    j["breaking"] = e.breaking;
    j["changes"] = e.changes;
}

template <class Json> void writeDrift(Json &j, const SchemaDriftRecord &d)
{
    j = Json::object();
    j["key"] = d.key;
    j["trafficId"] = d.trafficId;
    j["time"] = d.time;
    j["changes"] = d.changes;
}

template <class Json> void writeField(Json &j, const SchemaField &f)
{
    j = Json::object();
    j["types"] = f.types;
    j["present"] = f.present;
}

template <class Json> void writeSketch(Json &j, const SchemaSketch &s)
{
    j = Json::object();
    j["paths"] = s.paths;
    j["samples"] = s.samples;
}

template <class Json> void writeBaseline(Json &j, const SchemaBaseline &b)
{
    j = Json::object();
    j["key"] = b.key;
    j["method"] = b.method;
    j["host"] = b.host;
    j["path"] = b.path;
    j["locked"] = b.locked;
    j["samples"] = b.samples;
    records::putOptional(j, "updated", b.updated);
    records::putOptional(j, "sketch", b.sketch);
}

template <class Json> void writeSnapshot(Json &j, const SchemaSnapshot &s)
{
    j = Json::object();
    j["baselines"] = s.baselines;
    j["drifts"] = s.drifts;
}

int countSeverity(const std::vector<SchemaChange> &changes, std::string_view severity)
{
    return static_cast<int>(std::count_if(changes.begin(), changes.end(),
                                          [&](const SchemaChange &c) { return c.severity == severity; }));
}

} // namespace

std::string SchemaChange::kindLabel() const
{
    if (kind == "field_added")
        return "Field added";
    if (kind == "field_removed")
        return "Field removed";
    if (kind == "type_changed")
        return "Type changed";
    if (kind == "became_nullable")
        return "Now nullable";
    if (kind == "numeric_format")
        return "Numeric format";
    return kind;
}

std::optional<std::string> SchemaChange::transition() const
{
    const std::string before = joined(baseline);
    const std::string after = joined(actual);
    if (before.empty() && after.empty())
        return std::nullopt;
    if (before.empty())
        return after;
    if (after.empty())
        return before;
    return before + " → " + after;
}

SchemaDriftRecord SchemaDriftRecord::fromEvent(const WireDriftEvent &event, std::string time)
{
    return SchemaDriftRecord{event.key, event.trafficId, std::move(time), event.changes};
}

int SchemaDriftRecord::breaking() const { return countSeverity(changes, "breaking"); }
int SchemaDriftRecord::warnings() const { return countSeverity(changes, "warning"); }

KESTRION_RECORD_WRITERS(SchemaChange, writeChange)
KESTRION_RECORD_WRITERS(WireDriftEvent, writeDriftEvent)
KESTRION_RECORD_WRITERS(SchemaDriftRecord, writeDrift)
KESTRION_RECORD_WRITERS(SchemaField, writeField)
KESTRION_RECORD_WRITERS(SchemaSketch, writeSketch)
KESTRION_RECORD_WRITERS(SchemaBaseline, writeBaseline)
KESTRION_RECORD_WRITERS(SchemaSnapshot, writeSnapshot)

void from_json(const nlohmann::json &j, SchemaChange &c)
{
    const records::ObjectReader in(j);
    in.required("path", c.path);
    in.required("kind", c.kind);
    in.required("severity", c.severity);
    in.optional("baseline", c.baseline);
    in.optional("actual", c.actual);
}

void from_json(const nlohmann::json &j, WireDriftEvent &e)
{
    const records::ObjectReader in(j);
    in.required("key", e.key);
    in.required("trafficId", e.trafficId);
    in.required("breaking", e.breaking);
    in.required("changes", e.changes);
}

void from_json(const nlohmann::json &j, SchemaDriftRecord &d)
{
    const records::ObjectReader in(j);
    in.required("key", d.key);
    in.required("trafficId", d.trafficId);
    in.required("time", d.time);
    in.required("changes", d.changes);
}

void from_json(const nlohmann::json &j, SchemaField &f)
{
    const records::ObjectReader in(j);
    in.required("types", f.types);
    in.required("present", f.present);
}

void from_json(const nlohmann::json &j, SchemaSketch &s)
{
    const records::ObjectReader in(j);
    in.required("paths", s.paths);
    in.required("samples", s.samples);
}

void from_json(const nlohmann::json &j, SchemaBaseline &b)
{
    const records::ObjectReader in(j);
    in.required("key", b.key);
    in.required("method", b.method);
    in.required("host", b.host);
    in.required("path", b.path);
    in.required("locked", b.locked);
    in.required("samples", b.samples);
    in.optional("updated", b.updated);
    in.optional("sketch", b.sketch);
}

void from_json(const nlohmann::json &j, SchemaSnapshot &s)
{
    const records::ObjectReader in(j);
    in.required("baselines", s.baselines);
    in.required("drifts", s.drifts);
}
