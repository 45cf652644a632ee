// core/: what every folder may use: options, time stamps, log lines, bounded input, data files and text scans.
// Small helpers every part of the stand-in engine shares: time stamps and log lines.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace standin {

// UTC time as ISO 8601 with milliseconds, e.g. "2026-06-28T10:42:00.125Z".
std::string isoTime(std::chrono::system_clock::time_point when);
std::string nowIso();
// The ISO form above (milliseconds optional); nothing for any other text.
std::optional<std::chrono::system_clock::time_point> parseIsoTime(std::string_view text);

// What the app shows in its 96-point time columns, in local time. Live events: "09:43:39.686".
std::string localClockTime(std::chrono::system_clock::time_point when);
// A stored ISO time: the clock time on the day of `now`, "Dec 6 09:43" on another day of that year,
// "2025-12-06" in another year. Any other text comes back as it is.
std::string shownTime(const std::string &stored, std::chrono::system_clock::time_point now);

// One line on standard output (which the app shows in its engine log); whole lines only. The app reads
// that output as a line protocol, so control characters and every other line break it splits at are
// written escaped (a line feed as a backslash and "n", LS as "\u2028") and nothing taken from a
// request, a file or a name can start a line of its own.
void logLine(std::string_view line);
// One line on standard error, escaped the same way.
void logError(std::string_view line);
// `line` as logLine writes it, without its line end; cut past kMaxLogLine bytes.
std::string escapedLogLine(std::string_view line);
constexpr std::size_t kMaxLogLine = 4096;
// A name (host, id, file) fit for a log line: its first kMaxLoggedName bytes, and how long it was.
std::string loggedName(std::string_view name);
constexpr std::size_t kMaxLoggedName = 256;
// Whether `text` holds a control character (below 0x20, or DEL) or a line break the app splits our
// output at: such ids and names are refused.
bool hasControlCharacter(std::string_view text);

std::string lowerAscii(std::string_view text);

// A hex digit's value, either case; -1 for any other character.
int hexValue(char c);

// A place per calling thread among `places`: threads take them in turn, so a few busy threads never
// share one.
size_t placeOfThisThread(size_t places);

// Asks the processor to fetch the `bytes` at `address` into its cache to be written, without waiting
// for them; at most its first kMaxFetchAhead. For memory about to be let go, and so soon written anew.
constexpr std::size_t kMaxFetchAhead = 512;
inline void fetchAhead(const void *address, std::size_t bytes)
{
    constexpr std::uintptr_t kLine = 64;
    // Every line the bytes touch: memory seldom starts on a line.
    const auto start = reinterpret_cast<std::uintptr_t>(address);
    const std::uintptr_t end = start + std::min(bytes, kMaxFetchAhead);
    for (std::uintptr_t line = start & ~(kLine - 1); line < end; line += kLine)
        __builtin_prefetch(reinterpret_cast<const void *>(line), 1);
}
inline void fetchAhead(const std::string &text)
{
    fetchAhead(text.data(), text.size());
}

} // namespace standin
