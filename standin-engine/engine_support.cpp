// Time stamps and log lines for the stand-in engine.
#include "engine_support.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace standin {

namespace {
std::mutex g_outputMutex;
}

std::string isoTime(std::chrono::system_clock::time_point when)
{
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm utc {};
    gmtime_r(&seconds, &utc);
    char text[40];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(millis % 1000));
    return text;
}

std::string nowIso()
{
    return isoTime(std::chrono::system_clock::now());
}

void logLine(std::string_view line)
{
    std::lock_guard lock(g_outputMutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void logError(std::string_view line)
{
    std::lock_guard lock(g_outputMutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

std::string lowerAscii(std::string_view text)
{
    std::string out(text);
    for (char &c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

} // namespace standin
