// The test switches read from the environment, each parsed as strictly as its reader always took it.
#include "core/test_switches.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace standin {

namespace {

const char *setText(const char *variable)
{
    const char *text = std::getenv(variable);
    return text && *text ? text : nullptr;
}

std::optional<std::chrono::milliseconds> wholeMilliseconds(const char *variable)
{
    const char *text = setText(variable);
    if (!text)
        return std::nullopt;
    int value = -1;
    const char *end = text + std::strlen(text);
    const auto [ptr, ec] = std::from_chars(text, end, value);
    if (ec == std::errc() && ptr == end && value > 0)
        return std::chrono::milliseconds(value);
    return std::nullopt;
}

std::optional<long> leadingNumber(const char *variable)
{
    const char *text = setText(variable);
    if (!text)
        return std::nullopt;
    const long value = std::strtol(text, nullptr, 10);
    if (value > 0)
        return value;
    return std::nullopt;
}

std::optional<std::chrono::milliseconds> leadingMilliseconds(const char *variable)
{
    if (const auto value = leadingNumber(variable))
        return std::chrono::milliseconds(*value);
    return std::nullopt;
}

std::optional<std::size_t> leadingCount(const char *variable)
{
    if (const auto value = leadingNumber(variable))
        return static_cast<std::size_t>(*value);
    return std::nullopt;
}

std::optional<std::size_t> wholeBytes(const char *variable)
{
    const char *text = setText(variable);
    if (!text)
        return std::nullopt;
    char *end = nullptr;
    const unsigned long long bytes = std::strtoull(text, &end, 10);
    if (end && *end == '\0' && bytes > 0)
        return static_cast<std::size_t>(bytes);
    return std::nullopt;
}

std::string text(const char *variable)
{
    const char *value = setText(variable);
    return value ? value : std::string();
}

} // namespace

TestSwitches readTestSwitches()
{
    using namespace test_switches;
    TestSwitches switches;
    switches.lockGrace = wholeMilliseconds(kLockGraceMs);
    switches.savePeriod = wholeMilliseconds(kSavePeriodMs);
    switches.openAPIHold = wholeMilliseconds(kOpenAPIHoldMs);
    switches.joinedIdle = wholeMilliseconds(kJoinedIdleMs);
    switches.openingStall = wholeMilliseconds(kOpeningStallMs);
    switches.bodyGrace = leadingMilliseconds(kBodyGraceMs);
    switches.lookupDeadline = leadingMilliseconds(kLookupDeadlineMs);
    switches.bodyBudget = wholeBytes(kBodyBudget);
    switches.eventQueueBytes = wholeBytes(kEventQueueBytes);
    switches.stateBytes = wholeBytes(kStateBytes);
    switches.controlConnections = leadingCount(kControlConnections);
    switches.proxyConnections = leadingCount(kProxyConnections);
    switches.nameServers = text(kNameServers);
    switches.upstreamCa = text(kUpstreamCa);
    switches.holdWrite = text(kHoldWrite);
    switches.standinFault = text(kStandinFault);
    return switches;
}

const TestSwitches &testSwitches()
{
    static const TestSwitches switches = readTestSwitches();
    return switches;
}

} // namespace standin
