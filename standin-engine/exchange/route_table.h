// The active project's routes compiled for matching: methods lowered, hosts parsed, patterns split and
// indexed by method, host and port, so a request finds its route without scanning the list or allocating.
#pragma once

#include "mocks/route_matching.h"
#include "store/state_store.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace standin {

class RouteTable final {
public:
    explicit RouteTable(RouteSnapshot routes);
    ~RouteTable();

    // Always the answer findRoute gives over the plain list: the first active route, in list order.
    std::optional<size_t> find(std::string_view method, const ProxyTarget &target) const;

    // The table of this snapshot, compiled on the first request that sees it and kept until a request
    // comes with another snapshot.
    static std::shared_ptr<const RouteTable> of(const RouteSnapshot &routes);

    // What `decide` says of a route's own body (`step` empty) or of one of its steps' bodies, asked on
    // first use and kept with the table, so each body is looked at once per route list. `decide` must
    // give the same answer for the same body every time.
    using BodyVerdict = const std::string *(*)(const std::string &body);
    const std::string *bodyVerdict(size_t route, std::optional<size_t> step, BodyVerdict decide) const;

    // A route's own body (`step` empty) or a step's, with "{{key}}" filled in from `variables`, and what
    // `decide` says of it. Made once and shared by every answer while the route list and the environment
    // stay as they are, so the readers of a large templated body don't each hold a copy; nothing when
    // filled in it would pass `limit` bytes. What the table keeps of them is bounded by kMaxFilledBytes:
    // past it each answer gets a body of its own again.
    struct Filled {
        std::shared_ptr<const std::string> body;
        const std::string *verdict = nullptr;
    };
    static constexpr size_t kMaxFilledBytes = 64 * 1024 * 1024;
    std::optional<Filled> filledBody(size_t route, std::optional<size_t> step, const VariableSnapshot &variables,
                                     size_t limit, BodyVerdict decide) const;

private:
    // A request path split into segments, without allocating: paths longer than this are matched
    // segment by segment as they are walked.
    static constexpr size_t kSplitSegments = 32;
    struct SplitPath {
        std::string_view whole;
        size_t count = 0;
        std::string_view segments[kSplitSegments];
        bool split() const { return count <= kSplitSegments; }
    };

    // A pattern with ":name" segments, split once; the views point into the snapshot's strings.
    struct ParamPattern {
        uint32_t index = 0;
        std::vector<std::string_view> segments;
        bool matches(const SplitPath &path) const;
    };
    // Patterns with ":name" segments and one number of segments, in list order. Each is also filed under
    // one of its plain segments, the position whose values differ most among them, so a request only
    // tries the patterns that share that segment with it.
    struct ParamGroup {
        std::vector<ParamPattern> patterns;
        struct Position {
            size_t at = 0;
            std::unordered_map<std::string_view, std::vector<uint32_t>> byValue; // positions in `patterns`
        };
        std::vector<Position> positions;
        std::vector<uint32_t> allParams; // patterns without a plain segment

        void index();
        void find(const SplitPath &path, uint32_t &best) const;
    };
    // Routes that share one method and one host condition.
    struct Bucket {
        // Patterns without ":name" segments match by plain equality; each keeps its first route only.
        std::unordered_map<std::string_view, uint32_t> literal;
        std::unordered_map<size_t, ParamGroup> withParams; // by number of segments

        void add(uint32_t index, std::string_view pattern);
        void index();
        // Lowers `best` to the first matching route before it.
        void find(const SplitPath &path, uint32_t &best) const;
    };
    struct HostBuckets {
        Bucket anyPort;
        std::vector<std::pair<int, Bucket>> byPort;
    };
    struct StringHash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view> {}(text); }
    };
    struct MethodBuckets {
        std::string method; // lower case
        Bucket anyHost;
        std::unordered_map<std::string, HostBuckets, StringHash, std::equal_to<>> byHost;
    };

    const std::vector<WireRoute> &source() const { return m_routes; }
    MethodBuckets &methodFor(std::string_view lowered);
    static void split(std::string_view path, SplitPath &out);

    RouteSnapshot m_routes; // keeps the strings the buckets point into alive
    std::vector<MethodBuckets> m_methods;
    std::vector<size_t> m_firstVerdict; // per route: its body's place in m_verdicts, its steps' after it
    mutable std::unique_ptr<std::atomic<const std::string *>[]> m_verdicts;
    struct FilledBodies;
    std::unique_ptr<FilledBodies> m_filled;
};

// The answer findRoute gives over the plain list, from the snapshot's compiled table (RouteTable::of).
std::optional<size_t> findRoute(const RouteSnapshot &routes, std::string_view method, const ProxyTarget &target);

} // namespace standin
