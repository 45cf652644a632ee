// Small helpers every part of the stand-in engine shares: time stamps and log lines.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace standin {

// UTC time as ISO 8601 with milliseconds, e.g. "2026-06-28T10:42:00.125Z".
std::string isoTime(std::chrono::system_clock::time_point when);
std::string nowIso();

// One line on standard output (which the app shows in its engine log); whole lines only.
void logLine(std::string_view line);
// One line on standard error.
void logError(std::string_view line);

std::string lowerAscii(std::string_view text);

} // namespace standin
