// exchange/: deciding and recording one proxied exchange: the compiled route table, own answers, the record.
// Deciding and recording one proxied exchange: which route answers, what it answers, the history
// record, the live event and schema learning. Knows nothing of sockets, so tests call it directly.
#pragma once

#include "engine/records/event_records.h"
#include "engine/records/traffic_records.h"
#include "exchange/route_table.h"
#include "mocks/route_matching.h"
#include "mocks/schema_learner.h"
#include "net/proxied_message.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

struct ActiveProjectView;
class ReplayStore;
class EventHub;
class SchemaLearner;
class StateStore;
class KeptRecord;
class TrafficHistory;
class Upstream;

// What the proxy decided for one request from its header alone, before any body or upstream.
struct ExchangePlan {
    std::chrono::system_clock::time_point startedAt;
    std::chrono::steady_clock::time_point started;
    std::string projectId;
    std::optional<ProxyTarget> target;
    TrafficRecord record; // method, host, path, scheme and query filled in
    bool forward = false; // pass the request through to the real host
    ProxiedResponse response; // the answer when not forwarding
    int delayMs = 0;          // wait this long before answering (or forwarding)
    bool injected = false;
    std::string matchedPath;
};

class ExchangeHandler final {
public:
    // Waits the given milliseconds; false when the wait was cut short (the proxy is stopping).
    using Wait = std::function<bool(int milliseconds)>;

    // Response bodies up to this size are kept whole for schema learning when passed through.
    static constexpr std::size_t kMaxLearnedBody = 1024 * 1024;

    // Events go to `events`, their text built only while someone listens.
    ExchangeHandler(StateStore &state, TrafficHistory &history, SchemaLearner &schema, EventHub &events);
    ~ExchangeHandler();

    // Ports on this machine the proxy must never forward to (the control API, the proxy itself).
    void setOwnPorts(std::set<int> ports);
    // Whether the target names one of those ports through a loopback name as written.
    bool isOwnPort(const ProxyTarget &target) const;
    Upstream &upstream() { return *m_upstream; }
    // The name this engine gives itself in the Via field of what it forwards ("kestrion-" and random
    // hex, new each run), so a request that comes back round a loop is recognised.
    const std::string &viaToken() const { return m_viaToken; }
    // Where the exact request of each recorded exchange is kept for replay (none: not kept).
    void setReplayStore(ReplayStore *store) { m_replays = store; }
    // Keeps `request` as the one behind `record`, in place of what the record step kept.
    void keepRequest(const TrafficRecord &record, const ProxiedRequest &request);

    ExchangePlan plan(const ProxiedRequest &request);
    // Whether an active route answers for the host itself rather than passing it on: one that names it,
    // or one without a host, which answers for every host.
    bool mocksHost(const ProxyTarget &target) const;
    // Records and announces a finished exchange; its stored copy is the start of `responseBody`.
    // `request` is kept for replays as it is handed over, and the plan's record becomes the history's.
    std::shared_ptr<const KeptRecord> record(ExchangePlan &plan, ProxiedRequest request, int status,
                                             std::string_view responseBody);
    // Hands a whole answer to schema learning (a 2xx one, that is); best once it went out.
    void learnFrom(const ExchangePlan &plan, const TrafficRecord &recorded, std::string responseBody);
    // Both at once. `responseBody` is the whole answer when `whole`, else its first part (enough for
    // the stored copy, not for learning).
    std::shared_ptr<const KeptRecord> finish(ExchangePlan &plan, const ProxiedRequest &request, int status,
                                             const std::string &responseBody, bool whole);
    // finish, for a caller that needs nothing back and is done with `request` and the plan's record:
    // they are kept as they are handed over.
    void finishAnswer(ExchangePlan &plan, ProxiedRequest request, int status, const std::string &responseBody,
                      bool whole);

    // The whole exchange at once (replay and tests): plan, wait, forward when asked, record. Defined
    // beside the forwarder (forward/forwarder.cpp), which it calls for a forwarded request.
    ProxiedResponse handle(const ProxiedRequest &request, const Wait &wait, TrafficRecord *stored = nullptr);

private:
    // The plan's first step: the request's target, and whether the request is refused before any route
    // is looked at (true, the plan's answer given).
    bool refuseBeforeRoutes(const ProxiedRequest &request, ExchangePlan &plan);
    // A mocking route's answer to this use of it, its body's "{{key}}" filled in: in the answer, or in
    // `filled` when that one is shared by every answer.
    PlannedAnswer mockAnswer(const RouteTable &table, size_t index, const ActiveProjectView &view,
                             std::optional<RouteTable::Filled> &filled);

    // The request is kept for replays and read by the record when it is read.
    // `head` is the plan's record, handed over or copied.
    std::shared_ptr<const KeptRecord> keep(const ExchangePlan &plan, TrafficRecord &&head,
                                           std::shared_ptr<const ProxiedRequest> request, int status,
                                           std::string_view responseBody);
    std::shared_ptr<const KeptRecord> conclude(ExchangePlan &plan, TrafficRecord &&head,
                                               std::shared_ptr<const ProxiedRequest> request, int status,
                                               const std::string &responseBody, bool whole);
    // What learning is told of the answer, when its body is one the route's sample takes.
    std::optional<SchemaLearner::Observation> sampleOf(const ExchangePlan &plan, const TrafficRecord &recorded,
                                                       std::string_view responseBody);
    void learn(SchemaLearner::Observation observation, std::string responseBody);

    StateStore &m_state;
    TrafficHistory &m_history;
    SchemaLearner &m_schema;
    EventHub &m_events;
    std::unique_ptr<Upstream> m_upstream;
    ReplayStore *m_replays = nullptr;
    mutable std::mutex m_mutex;
    std::set<int> m_ownPorts;
    std::mt19937_64 m_random;
    std::string m_viaToken;
};

// JSON error bodies the proxy answers with.
std::string proxyErrorBody(const std::string &message);

// Whether any entry of the message's Via fields was added by the proxy named `token`.
bool viaNames(const std::vector<std::pair<std::string, std::string>> &headers, const std::string &token);

// Names the proxy refuses to forward to on its own ports without resolving them.
bool isLoopbackName(const std::string &hostname);

// A body's content type when the route gives none: JSON when it parses, else plain text.
std::string contentTypeFor(const std::string &body);

} // namespace standin
