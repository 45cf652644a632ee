// The stand-in engine's command line, its test-only fault switch and the waits tests may shorten.
#pragma once

#include "core/test_switches.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace standin {

// Waits of the engine that tests shorten through test-only environment variables (never set by the app).
struct EngineTimings {
    // How long a new engine waits for one that is still exiting to let go of the data folder.
    std::chrono::milliseconds folderLockGrace {2000};
    // How often unsaved history and schema, and a state save that failed, are written.
    std::chrono::milliseconds savePeriod {1000};
    // How long an OpenAPI import is held before it is read (none: tests hold one to edit meanwhile).
    std::chrono::milliseconds openAPIImportHold {0};
};

constexpr const char *kTestLockGraceVariable = test_switches::kLockGraceMs;
constexpr const char *kTestSavePeriodVariable = test_switches::kSavePeriodMs;

// The defaults, with whatever the switches set.
EngineTimings timingsFrom(const TestSwitches &switches);

struct EngineOptions {
    int controlPort = 0; // 0: any free port
    int proxyPort = 0;   // 0: any free port
    std::string dataDir;
    bool autostart = false;
    EngineTimings timings;
};

// Parses the arguments after the program name (the timings come from testSwitches()); on failure
// returns nothing and fills `error`.
std::optional<EngineOptions> parseOptions(const std::vector<std::string> &args, std::string &error);

// Deliberate misbehaviour for the engine link's tests (KESTRION_STANDIN_FAULT); never set by the app.
enum class Fault { None, CrashAfterReady, HangHealth, GarbageEvents, SplitPortLine, LogFlood };

Fault parseFault(const char *text);

} // namespace standin
