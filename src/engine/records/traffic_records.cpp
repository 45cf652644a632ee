// JSON of traffic events and history records, and the live row built from an event.
#include "engine/records/traffic_records.h"

namespace {

template <class Json> void writeEvent(Json &j, const WireTrafficEvent &e)
{
    j = Json::object();
    j["id"] = e.id;
    j["time"] = e.time;
    j["method"] = e.method;
    j["host"] = e.host;
    j["path"] = e.path;
    j["status"] = e.status;
    j["latencyMs"] = e.latencyMs;
    j["injected"] = e.injected;
}

template <class Json> void writeRecord(Json &j, const TrafficRecord &r)
{
    j = Json::object();
    j["id"] = r.id;
    j["time"] = r.time;
    j["method"] = r.method;
    j["host"] = r.host;
    j["path"] = r.path;
    j["status"] = r.status;
    j["latencyMs"] = r.latencyMs;
    j["injected"] = r.injected;
    records::putOptional(j, "scheme", r.scheme);
    records::putOptional(j, "query", r.query);
    records::putOptional(j, "reqHeaders", r.reqHeaders);
    records::putOptional(j, "reqBody", r.reqBody);
    records::putOptional(j, "respBody", r.respBody);
}

} // namespace

KESTRION_RECORD_WRITERS(WireTrafficEvent, writeEvent)
KESTRION_RECORD_WRITERS(TrafficRecord, writeRecord)

void from_json(const nlohmann::json &j, WireTrafficEvent &e)
{
    const records::ObjectReader in(j);
    in.required("id", e.id);
    in.required("time", e.time);
    in.required("method", e.method);
    in.required("host", e.host);
    in.required("path", e.path);
    in.required("status", e.status);
    in.required("latencyMs", e.latencyMs);
    in.required("injected", e.injected);
}

void from_json(const nlohmann::json &j, TrafficRecord &r)
{
    const records::ObjectReader in(j);
    in.required("id", r.id);
    in.required("time", r.time);
    in.required("method", r.method);
    in.required("host", r.host);
    in.required("path", r.path);
    in.required("status", r.status);
    in.required("latencyMs", r.latencyMs);
    in.required("injected", r.injected);
    in.optional("scheme", r.scheme);
    in.optional("query", r.query);
    in.optional("reqHeaders", r.reqHeaders);
    in.optional("reqBody", r.reqBody);
    in.optional("respBody", r.respBody);
}

TrafficEntry TrafficEntry::fromEvent(const WireTrafficEvent &event)
{
    TrafficEntry entry;
    entry.id = event.id;
    entry.timestamp = event.time;
    entry.method = httpMethodFromText(event.method);
    entry.host = event.host;
    entry.path = event.path;
    entry.status = event.status;
    entry.latency = event.latencyMs;
    entry.injected = event.injected;
    entry.fresh = true;
    return entry;
}

std::string TrafficRecord::url() const
{
    std::string text = (scheme && !scheme->empty()) ? *scheme : std::string("http");
    text += "://";
    text += host;
    text += path;
    if (query && !query->empty()) {
        text += '?';
        text += *query;
    }
    return text;
}
