// Live traffic rows, stored history records and the "request" event payload.
#pragma once

#include "engine/records/json_rules.h"
#include "engine/records/route_records.h"

#include <map>
#include <optional>
#include <string>

// The payload of a "request" event.
struct WireTrafficEvent {
    std::string id;
    std::string time;
    std::string method;
    std::string host;
    std::string path;
    std::int64_t status = 0;
    std::int64_t latencyMs = 0;
    bool injected = false; // a mock route answered

    bool operator==(const WireTrafficEvent &) const = default;
};
KESTRION_RECORD_JSON(WireTrafficEvent);

// One row of live traffic (application only); identified by `id`.
struct TrafficEntry {
    std::string id;
    std::string timestamp;
    HTTPMethod method = HTTPMethod::GET;
    std::string host;
    std::string path;
    std::int64_t status = 0;
    std::int64_t latency = 0; // milliseconds
    bool injected = false;
    bool fresh = true; // newly arrived; the traffic buffer clears it

    // The row for a "request" event: method upper-cased (outside the six: GET), fresh.
    static TrafficEntry fromEvent(const WireTrafficEvent &event);

    bool operator==(const TrafficEntry &) const = default;
};

// One stored request and response from the engine's history; identified by `id`.
struct TrafficRecord {
    std::string id;
    std::string time;
    std::string method;
    std::string host;
    std::string path;
    std::int64_t status = 0;
    std::int64_t latencyMs = 0;
    bool injected = false;
    std::optional<std::string> scheme;
    std::optional<std::string> query;
    std::optional<std::map<std::string, std::string>> reqHeaders;
    std::optional<std::string> reqBody;
    std::optional<std::string> respBody;

    // scheme (default "http") + "://" + host + path, then "?" + query when there is one.
    std::string url() const;

    bool operator==(const TrafficRecord &) const = default;
};
KESTRION_RECORD_JSON(TrafficRecord);
