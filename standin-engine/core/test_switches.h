// Every environment variable the engine's tests set to drive the real engine process: its names in one
// place, each with the tests that use it, and their values, read once when the engine starts. The app
// never sets any of them.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace standin::test_switches {

// How long the data folder's lock waits for an earlier engine: engine link and data folder tests.
constexpr const char *kLockGraceMs = "KESTRION_TEST_LOCK_GRACE_MS";
// How often the state is saved: data folder and proxy-and-traffic tests that wait for a save.
constexpr const char *kSavePeriodMs = "KESTRION_TEST_SAVE_PERIOD_MS";
// Holds an OpenAPI import this long: the engine link's OpenAPI and kept-edit tests.
constexpr const char *kOpenAPIHoldMs = "KESTRION_TEST_OPENAPI_HOLD_MS";
// The grace a request body has before its minimum pace: crowded-port and connection-flood tests.
constexpr const char *kBodyGraceMs = "KESTRION_TEST_BODY_GRACE_MS";
// The bound on bodies held in memory: the engine limits tests that reach it with a few requests.
constexpr const char *kBodyBudget = "KESTRION_TEST_BODY_BUDGET";
// Name servers to ask instead of the system's: connection-flood and HTTPS tests with a silent one.
constexpr const char *kNameServers = "KESTRION_TEST_NAME_SERVERS";
// A shorter name lookup deadline: those same tests.
constexpr const char *kLookupDeadlineMs = "KESTRION_TEST_LOOKUP_DEADLINE_MS";
// An extra CA trusted for hosts: forwarding, real-client and HTTPS tests and the proxy bench.
constexpr const char *kUpstreamCa = "KESTRION_TEST_UPSTREAM_CA";
// Holds a control write until a release file appears: the engine link's ordered-push and edit tests.
constexpr const char *kHoldWrite = "KESTRION_TEST_HOLD_WRITE";
// The bound on an event stream's queue: the engine process test that stalls a reader.
constexpr const char *kEventQueueBytes = "KESTRION_TEST_EVENT_QUEUE_BYTES";
// The control port's connection cap: crowded-port, connection-flood and transport tests.
constexpr const char *kControlConnections = "KESTRION_TEST_CONTROL_CONNECTIONS";
// The proxy port's connection cap: those same tests.
constexpr const char *kProxyConnections = "KESTRION_TEST_PROXY_CONNECTIONS";
// The bound on the saved state: the data folder test that fills it with a few writes.
constexpr const char *kStateBytes = "KESTRION_TEST_STATE_BYTES";
// How long a joined pair may carry nothing either way: the joined connections test with a silent client.
constexpr const char *kJoinedIdleMs = "KESTRION_TEST_JOINED_IDLE_MS";
// How long a tunnel waits for its client to speak first, its I/O thread then held until the client has
// spoken and that time is up: the intercepted tunnel test that has both end in one turn of the thread.
constexpr const char *kOpeningStallMs = "KESTRION_TEST_OPENING_STALL_MS";
// Deliberate misbehaviour of the whole engine: the engine link's fault tests and the engine fixture.
constexpr const char *kStandinFault = "KESTRION_STANDIN_FAULT";

} // namespace standin::test_switches

namespace standin {

// Each switch as its reader takes it. A number is there only when its text is one the reader accepts
// (each is above 0; a bad one leaves the engine's own default); a text is empty when unset.
struct TestSwitches {
    // Whole numbers of milliseconds, nothing after the digits.
    std::optional<std::chrono::milliseconds> lockGrace;
    std::optional<std::chrono::milliseconds> savePeriod;
    std::optional<std::chrono::milliseconds> openAPIHold;
    std::optional<std::chrono::milliseconds> joinedIdle;
    std::optional<std::chrono::milliseconds> openingStall;
    // Milliseconds from the text's leading number.
    std::optional<std::chrono::milliseconds> bodyGrace;
    std::optional<std::chrono::milliseconds> lookupDeadline;
    // Whole numbers of bytes, nothing after the digits.
    std::optional<std::size_t> bodyBudget;
    std::optional<std::size_t> eventQueueBytes;
    std::optional<std::size_t> stateBytes;
    // Connection caps from the text's leading number.
    std::optional<std::size_t> controlConnections;
    std::optional<std::size_t> proxyConnections;
    // "127.0.0.1:5353,...": asked instead of the system's servers; the hosts file is still read first.
    std::string nameServers;
    // A CA file trusted for hosts besides the system's store; verification is never switched off.
    std::string upstreamCa;
    // "METHOD PATH DIR" (see control_hold.h).
    std::string holdWrite;
    // A fault's name (see Fault in engine_options.h).
    std::string standinFault;
};

// The switches as the environment holds them now.
TestSwitches readTestSwitches();
// The process's switches, read on the first call: main() makes that its first step, before any thread.
const TestSwitches &testSwitches();

} // namespace standin
