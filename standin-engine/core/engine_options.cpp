// Command-line parsing for the stand-in engine.
#include "core/engine_options.h"

#include <charconv>

namespace standin {

namespace {

bool parsePort(const std::string &text, int &port)
{
    int value = -1;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < 0 || value > 65535)
        return false;
    port = value;
    return true;
}

} // namespace

EngineTimings timingsFrom(const TestSwitches &switches)
{
    EngineTimings timings;
    timings.folderLockGrace = switches.lockGrace.value_or(timings.folderLockGrace);
    timings.savePeriod = switches.savePeriod.value_or(timings.savePeriod);
    timings.openAPIImportHold = switches.openAPIHold.value_or(timings.openAPIImportHold);
    return timings;
}

std::optional<EngineOptions> parseOptions(const std::vector<std::string> &args, std::string &error)
{
    EngineOptions options;
    options.timings = timingsFrom(testSwitches());
    bool haveDataDir = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--autostart") {
            options.autostart = true;
        } else if (arg == "--control-port" || arg == "--proxy-port") {
            int &target = arg == "--control-port" ? options.controlPort : options.proxyPort;
            if (!hasValue || !parsePort(args[i + 1], target)) {
                error = arg + " needs a port between 0 and 65535";
                return std::nullopt;
            }
            ++i;
        } else if (arg == "--data-dir") {
            if (!hasValue || args[i + 1].empty()) {
                error = "--data-dir needs a directory";
                return std::nullopt;
            }
            options.dataDir = args[++i];
            haveDataDir = true;
        } else {
            error = "unknown argument: " + arg;
            return std::nullopt;
        }
    }
    if (!haveDataDir) {
        error = "--data-dir is required";
        return std::nullopt;
    }
    return options;
}

Fault parseFault(const char *text)
{
    if (!text)
        return Fault::None;
    const std::string value(text);
    if (value == "crash-after-ready")
        return Fault::CrashAfterReady;
    if (value == "hang-health")
        return Fault::HangHealth;
    if (value == "garbage-events")
        return Fault::GarbageEvents;
    if (value == "split-port-line")
        return Fault::SplitPortLine;
    if (value == "log-flood")
        return Fault::LogFlood;
    return Fault::None;
}

} // namespace standin
