// mocks/: what answers in a host's place: route matching, generated bodies, learned schemas.
// How a proxied request finds its route and what the route answers: matching, sequences, overrides,
// "{{key}}" substitution and chaos faults. Pure functions, so each rule is tested on its own.
#pragma once

#include "engine/records/chaos_records.h"
#include "engine/records/environment_records.h"
#include "engine/records/route_records.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// Where a proxied request goes.
struct ProxyTarget {
    std::string scheme = "http";
    std::string host;     // as written, with a port when one was given ("api.test:8080")
    std::string hostname; // lower case, without the port
    int port = 80;
    std::string path = "/";
    std::string query; // without "?"
    // A "?" was written, with or without a query after it: "/p?" is another URI than "/p".
    bool queryMarked = false;
    // An absolute URL without a path ("http://host:8080"), for which `path` is "/".
    bool pathOmitted = false;
};

// Absolute form ("http://host:port/path?q") or, for origin form ("/path"), the Host header.
std::optional<ProxyTarget> parseProxyTarget(std::string_view requestTarget, std::string_view hostHeader);
// The request target a host is sent: the path and query exactly as the client wrote them, "/" for an
// absolute URL without either, and "*" for an OPTIONS of such a URL, which asks about the host itself.
std::string originFormTarget(const ProxyTarget &target, std::string_view method);

// Splits "host", "host:port" or "[v6]:port" into the lower-case host name and the port; `port` keeps
// its value when none is given. False for an empty name or a port outside 1-65535.
bool splitHostPort(std::string_view authority, std::string &hostname, int &port);
// One trailing "/" (or several) does not count, except for the root path itself.
std::string_view withoutTrailingSlash(std::string_view path);

// A route host without a port matches the host on any port; with one, the port must match too.
// A route without a host answers for every host.
bool hostMatches(std::string_view routeHost, const ProxyTarget &target);
// Segment by segment; a ":name" segment matches any one non-empty segment; one trailing "/" is ignored.
bool pathMatches(std::string_view pattern, std::string_view path);
// The first active route for the method, host and path, in list order.
std::optional<size_t> findRoute(const std::vector<WireRoute> &routes, std::string_view method,
                                const ProxyTarget &target);

// The active environment's variables as every request shares them: built once per change and looked
// up by key, so answering costs the placeholders a body has, not the size of the environment.
class VariableSnapshot final {
public:
    VariableSnapshot() = default;
    // Empty keys are left out; of a key given twice, the first counts.
    explicit VariableSnapshot(const std::vector<WireVar> &variables);

    const std::string *find(std::string_view key) const;
    size_t size() const;
    bool empty() const { return size() == 0; }
    // Whether both are the same snapshot, taken from one environment as it stood.
    bool sameAs(const VariableSnapshot &other) const { return m_table == other.m_table; }

private:
    struct Table;
    std::shared_ptr<const Table> m_table;
};

// Replaces every "{{key}}" (blanks inside the braces allowed) with the variable's value; unknown keys stay.
std::string substituteVariables(std::string_view text, const VariableSnapshot &variables);
std::string substituteVariables(std::string_view text, const std::vector<WireVar> &variables);
// The same, or nothing when the result would pass `limit` bytes (found before anything is built).
std::optional<std::string> substituteVariables(std::string_view text, const VariableSnapshot &variables,
                                               size_t limit);

// The key under which schemas are learned: "GET api.test/v2/users/:id".
std::string routeKey(std::string_view method, std::string_view host, std::string_view path);

// What the proxy sends back for one request.
struct PlannedAnswer {
    int status = 200;
    std::string body;
    // The body is the route's own (or, with `step`, that sequence step's), not one an override or a
    // chaos fault put in its place.
    bool routeBody = true;
    std::optional<size_t> step;
    // That body, when it was too large to copy into `body`: left where it is for the caller to share.
    const std::string *uncopied = nullptr;
    int latencyMs = 0;
    bool holdThenTimeout = false; // the "timeout" override: wait, then answer 504
    bool drop = false;            // a chaos "drop" fault, or a sequence step's "timeout": close unanswered
};

// How long a "timeout" override holds the request before giving up with 504.
constexpr int kTimeoutHoldMs = 10000;
// Upper bound for any latency a route or preset asks for.
constexpr int kMaxLatencyMs = 60000;

// The answer of a route on its `hit`-th use (0 first), walking its sequence by its mode
// ("sticky" stays on the last step, "loop" starts over). A body larger than `copyUpTo` bytes is left
// uncopied.
PlannedAnswer planAnswer(const WireRoute &route, size_t hit, size_t copyUpTo = SIZE_MAX);
// Applies the override wire text ("404", "500", "timeout", "custom", anything else ok).
void applyOverride(PlannedAnswer &answer, std::string_view overrideText);
// Rolls each fault of the preset once and applies those that hit.
void applyChaos(const ChaosPreset &preset, PlannedAnswer &answer, std::mt19937_64 &random);

} // namespace standin
