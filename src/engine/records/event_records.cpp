// JSON of the engine's health record and of event-stream objects.
#include "engine/records/event_records.h"

namespace {

template <class Json> void writeHealth(Json &j, const EngineHealth &h)
{
    j = Json::object();
    j["status"] = h.status;
    j["version"] = h.version;
    j["pid"] = h.pid;
    j["uptimeSeconds"] = h.uptimeSeconds;
    j["proxyRunning"] = h.proxyRunning;
    j["proxyPort"] = h.proxyPort;
    j["controlPort"] = h.controlPort;
    j["memoryBytes"] = h.memoryBytes;
    j["goroutines"] = h.goroutines;
    j["routeCount"] = h.routeCount;
}

template <class Json> void writeEvent(Json &j, const EngineEvent &e)
{
    j = Json::object();
    j["type"] = e.type;
    j["time"] = e.time;
    records::putOptional(j, "health", e.health);
    records::putOptional(j, "request", e.request);
    records::putOptional(j, "drift", e.drift);
}

} // namespace

KESTRION_RECORD_WRITERS(EngineHealth, writeHealth)
KESTRION_RECORD_WRITERS(EngineEvent, writeEvent)

void from_json(const nlohmann::json &j, EngineHealth &h)
{
    const records::ObjectReader in(j);
    in.required("status", h.status);
    in.required("version", h.version);
    in.required("pid", h.pid);
    in.required("uptimeSeconds", h.uptimeSeconds);
    in.required("proxyRunning", h.proxyRunning);
    in.required("proxyPort", h.proxyPort);
    in.required("controlPort", h.controlPort);
    in.required("memoryBytes", h.memoryBytes);
    in.required("goroutines", h.goroutines);
    in.required("routeCount", h.routeCount);
}

void from_json(const nlohmann::json &j, EngineEvent &e)
{
    const records::ObjectReader in(j);
    in.required("type", e.type);
    in.required("time", e.time);
    in.optional("health", e.health);
    in.optional("request", e.request);
    in.optional("drift", e.drift);
}
