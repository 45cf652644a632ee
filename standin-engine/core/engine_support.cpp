// Time stamps and log lines for the stand-in engine.
#include "core/engine_support.h"

#include "engine/records/output_line_breaks.h"

#include <algorithm>
#include <atomic>
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

namespace {

std::optional<int> digitsAt(std::string_view text, size_t at, size_t count)
{
    if (at + count > text.size())
        return std::nullopt;
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

std::tm localFields(std::chrono::system_clock::time_point when, int &millis)
{
    const auto total = std::chrono::floor<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const auto seconds = static_cast<std::time_t>(total >= 0 ? total / 1000 : (total - 999) / 1000);
    millis = static_cast<int>(total - static_cast<long long>(seconds) * 1000);
    std::tm local {};
    localtime_r(&seconds, &local);
    return local;
}

} // namespace

std::optional<std::chrono::system_clock::time_point> parseIsoTime(std::string_view text)
{
    // "2026-06-28T10:42:00Z" or "2026-06-28T10:42:00.125Z"
    if (text.size() != 20 && text.size() != 24)
        return std::nullopt;
    const auto year = digitsAt(text, 0, 4), month = digitsAt(text, 5, 2), day = digitsAt(text, 8, 2);
    const auto hour = digitsAt(text, 11, 2), minute = digitsAt(text, 14, 2), second = digitsAt(text, 17, 2);
    const auto millis = text.size() == 24 ? digitsAt(text, 20, 3) : std::optional<int>(0);
    if (!year || !month || !day || !hour || !minute || !second || !millis || text[4] != '-' || text[7] != '-'
        || text[10] != 'T' || text[13] != ':' || text[16] != ':' || text.back() != 'Z'
        || (text.size() == 24 && text[19] != '.') || *hour > 23 || *minute > 59 || *second > 60)
        return std::nullopt;
    const std::chrono::year_month_day date {std::chrono::year(*year), std::chrono::month(unsigned(*month)),
                                            std::chrono::day(unsigned(*day))};
    if (!date.ok())
        return std::nullopt;
    return std::chrono::sys_days(date) + std::chrono::hours(*hour) + std::chrono::minutes(*minute)
           + std::chrono::seconds(*second) + std::chrono::milliseconds(*millis);
}

std::string localClockTime(std::chrono::system_clock::time_point when)
{
    int millis = 0;
    const std::tm local = localFields(when, millis);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec, millis);
    return text;
}

std::string shownTime(const std::string &stored, std::chrono::system_clock::time_point now)
{
    const auto when = parseIsoTime(stored);
    if (!when)
        return stored;
    int millis = 0;
    const std::tm local = localFields(*when, millis);
    const std::tm today = localFields(now, millis);
    if (local.tm_year == today.tm_year && local.tm_yday == today.tm_yday)
        return localClockTime(*when);
    char text[32];
    if (local.tm_year != today.tm_year) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
        return text;
    }
    static constexpr const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::snprintf(text, sizeof text, "%s %d %02d:%02d", kMonths[local.tm_mon], local.tm_mday, local.tm_hour,
                  local.tm_min);
    return text;
}

std::string escapedLogLine(std::string_view line)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(std::min(line.size(), kMaxLogLine) + 16);
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (out.size() >= kMaxLogLine) {
            out += " … (line cut)";
            break;
        }
        const char c = line[i];
        const auto byte = static_cast<unsigned char>(c);
        // The C0 breaks are escaped below with every other control character.
        if (const int breakLength = byte >= 0x80 ? outputLineBreakAt(line, i) : 0) {
            out += breakLength == 2 ? "\\u0085" : line[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            i += breakLength - 1;
        } else if (byte >= 0x20 && byte != 0x7F) {
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return out;
}

namespace {

void writeLine(std::FILE *stream, std::string_view line)
{
    // One write with its line end, so a line written elsewhere in one piece never lands inside it.
    const std::string escaped = escapedLogLine(line) + '\n';
    std::lock_guard lock(g_outputMutex);
    std::fwrite(escaped.data(), 1, escaped.size(), stream);
    std::fflush(stream);
}

} // namespace

void logLine(std::string_view line)
{
    writeLine(stdout, line);
}

void logError(std::string_view line)
{
    writeLine(stderr, line);
}

std::string loggedName(std::string_view name)
{
    if (name.size() <= kMaxLoggedName)
        return std::string(name);
    size_t cut = kMaxLoggedName;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut; // not inside a character
    return std::string(name.substr(0, cut)) + "… (" + std::to_string(name.size()) + " bytes)";
}

bool hasControlCharacter(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F || outputLineBreakAt(text, i) > 0)
            return true;
    }
    return false;
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

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

size_t placeOfThisThread(size_t places)
{
    static std::atomic<size_t> next {0};
    thread_local const size_t mine = next++;
    return mine % places;
}

} // namespace standin
