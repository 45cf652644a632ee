// The stand-in engine's command line and its test-only fault switch.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace standin {

struct EngineOptions {
    int controlPort = 0; // 0: any free port
    int proxyPort = 0;   // 0: any free port
    std::string dataDir;
    bool autostart = false;
};

// Parses the arguments after the program name; on failure returns nothing and fills `error`.
std::optional<EngineOptions> parseOptions(const std::vector<std::string> &args, std::string &error);

// Deliberate misbehaviour for the engine link's tests (KESTRION_STANDIN_FAULT); never set by the app.
enum class Fault { None, CrashAfterReady, HangHealth, GarbageEvents, SplitPortLine, LogFlood };

Fault parseFault(const char *text);

} // namespace standin
