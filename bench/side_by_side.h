// What the proxy benchmark's side-by-side cases share: the cores each side may run on, the CPU a
// process (with its workers) used, the minimal C server, wrk's figures, and alternating rounds.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sched.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace proxybench {
// The cores a variable names ("0-3", "0,2,4-5"); nothing when it is unset.
inline std::optional<cpu_set_t> coresFrom(const char *variable)
{
    const char *text = std::getenv(variable);
    if (!text || !*text)
        return std::nullopt;
    cpu_set_t cores;
    CPU_ZERO(&cores);
    std::istringstream ranges(text);
    std::string range;
    while (std::getline(ranges, range, ',')) {
        const size_t dash = range.find('-');
        const int first = std::atoi(range.c_str());
        const int last = dash == std::string::npos ? first : std::atoi(range.c_str() + dash + 1);
        for (int core = first; core <= last; ++core)
            CPU_SET(core, &cores);
    }
    return cores;
}

// While it lives, processes this thread starts run on the servers' cores, when they are given.
class OnServerCores {
public:
    OnServerCores()
    {
        const auto cores = coresFrom("KESTRION_BENCH_SERVER_CPUS");
        if (!cores || ::sched_getaffinity(0, sizeof m_before, &m_before) != 0)
            return;
        m_pinned = ::sched_setaffinity(0, sizeof *cores, &*cores) == 0;
    }
    ~OnServerCores()
    {
        if (m_pinned)
            ::sched_setaffinity(0, sizeof m_before, &m_before);
    }

private:
    cpu_set_t m_before {};
    bool m_pinned = false;
};

// ---------------------------------------------------------------------------------------------------
// Side by side: wrk loads each side for the same time, and the ratios are printed as counters.

constexpr int kSideBySideSeconds = 3;

inline std::string programOnPath(const std::string &name)
{
    const char *path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// User and system CPU ticks of a process so far, and its parent.
inline double processTicks(const std::string &statFile, pid_t &parent)
{
    parent = 0;
    std::ifstream stat(statFile);
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 > text.size())
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 4)
            parent = static_cast<pid_t>(std::atoi(field.c_str()));
        if (i >= 14) // utime, stime
            ticks += std::stod(field);
    }
    return ticks;
}

// User and system CPU of a process so far, with its children's (nginx's workers).
inline double cpuSeconds(pid_t pid)
{
    pid_t parent = 0;
    double ticks = processTicks("/proc/" + std::to_string(pid) + "/stat", parent);
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc", ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const double child = processTicks(it->path().string() + "/stat", parent);
        if (parent == pid)
            ticks += child;
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// How many TCP connections the process holds to 127.0.0.1:port.
inline int connectionsTo(pid_t pid, int port)
{
    const std::string proc = "/proc/" + std::to_string(pid);
    std::vector<std::string> sockets;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(proc + "/fd", ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const std::string link = std::filesystem::read_symlink(it->path(), ec).string();
        if (link.rfind("socket:[", 0) == 0)
            sockets.push_back(link.substr(8, link.size() - 9));
    }
    char remote[32];
    std::snprintf(remote, sizeof remote, "0100007F:%04X", port);
    std::ifstream table(proc + "/net/tcp");
    std::string line;
    int count = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, peer, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> peer >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
        if (peer == remote && state == "01" && std::find(sockets.begin(), sockets.end(), inode) != sockets.end())
            ++count;
    }
    return count;
}

// The minimal C server (bench/fixed_answer_server.c) answering 200 with a body of the size given.
class AnswerServer {
public:
    explicit AnswerServer(size_t bodyBytes)
    {
        int out[2];
        if (::pipe(out) != 0)
            std::abort();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string program = KESTRION_BENCH_ANSWER_SERVER;
        std::string size = std::to_string(bodyBytes);
        char *argv[] = {program.data(), size.data(), nullptr};
        {
            OnServerCores pinned;
            if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv, environ) != 0)
                std::abort();
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        std::string text;
        char chunk[64];
        while (text.find('\n') == std::string::npos) {
            const ssize_t n = ::read(out[0], chunk, sizeof chunk);
            if (n <= 0)
                std::abort();
            text.append(chunk, static_cast<size_t>(n));
        }
        ::close(out[0]);
        m_port = std::atoi(text.c_str() + text.find("PORT=") + 5);
    }
    ~AnswerServer()
    {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_port = 0;
};

struct Load {
    double requests = 0;
    double perSecond = 0;
    double p50us = 0;
    double p99us = 0;
    double errors = 0;
    double cpuUsPerRequest = 0; // of the measured process
};

inline double microseconds(const std::string &figure)
{
    const double value = std::atof(figure.c_str());
    if (figure.find("us") != std::string::npos)
        return value;
    if (figure.find("ms") != std::string::npos)
        return value * 1000.0;
    if (figure.find('s') != std::string::npos)
        return value * 1e6;
    return value;
}

// wrk over kept-alive connections to 127.0.0.1:port, Host set to `host`; CPU is taken of `measured`.
// `script` names a wrk Lua script (the method and body it sends), `seconds` how long it loads.
inline Load runWrk(int port, const std::string &host, const std::string &path, int connections, pid_t measured,
                   const std::string &script = {}, int seconds = kSideBySideSeconds)
{
    const int threads = std::min(connections, 4);
    const char *loadCores = std::getenv("KESTRION_BENCH_LOAD_CPUS");
    const std::string pin = loadCores && *loadCores ? "taskset -c " + std::string(loadCores) + " " : "";
    const std::string command = pin + programOnPath("wrk") + " -t" + std::to_string(threads) + " -c" + std::to_string(connections)
                                + " -d" + std::to_string(seconds) + "s --timeout 10s --latency"
                                + (script.empty() ? "" : " -s '" + script + "'") + " -H 'Host: " + host
                                + "' 'http://127.0.0.1:" + std::to_string(port) + path + "' 2>&1";
    const double cpuBefore = cpuSeconds(measured);
    std::string output;
    if (FILE *pipe = ::popen(command.c_str(), "r")) {
        char chunk[4096];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
            output.append(chunk, n);
        ::pclose(pipe);
    }
    const double cpu = cpuSeconds(measured) - cpuBefore;
    Load load;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string first;
        std::string second;
        words >> first >> second;
        if (first == "50%")
            load.p50us = microseconds(second);
        else if (first == "99%")
            load.p99us = microseconds(second);
        else if (first == "Requests/sec:")
            load.perSecond = std::atof(second.c_str());
        else if (line.find(" requests in ") != std::string::npos)
            load.requests = std::atof(first.c_str());
        else if (first == "Non-2xx")
            load.errors += std::atof(line.substr(line.rfind(' ') + 1).c_str());
        else if (first == "Socket" && second == "errors:") {
            for (const char *kind : {"connect ", "read ", "write ", "timeout "}) {
                const size_t at = line.find(kind);
                if (at != std::string::npos)
                    load.errors += std::atof(line.c_str() + at + std::strlen(kind));
            }
        }
    }
    if (load.requests > 0)
        load.cpuUsPerRequest = cpu * 1e6 / load.requests;
    return load;
}

// KESTRION_BENCH_ROUNDS (default 1) runs the sides of a case in turn that many times and reports each
// side's median figures, so a machine whose load comes and goes favours no side.
inline std::vector<Load> sideBySide(const std::vector<std::function<Load()>> &sides)
{
    const char *text = std::getenv("KESTRION_BENCH_ROUNDS");
    const int rounds = std::max(1, text ? std::atoi(text) : 1);
    std::vector<std::vector<Load>> runs(sides.size());
    for (int round = 0; round < rounds; ++round) {
        for (size_t side = 0; side < sides.size(); ++side)
            runs[side].push_back(sides[side]());
    }
    std::vector<Load> medians;
    for (auto &loads : runs) {
        const auto median = [&](double Load::*field) {
            std::vector<double> values;
            for (const Load &load : loads)
                values.push_back(load.*field);
            std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
            return values[values.size() / 2];
        };
        medians.push_back({median(&Load::requests), median(&Load::perSecond), median(&Load::p50us),
                           median(&Load::p99us), median(&Load::errors), median(&Load::cpuUsPerRequest)});
    }
    return medians;
}

inline bool haveWrk(benchmark::State &state)
{
    if (!programOnPath("wrk").empty())
        return true;
    state.SkipWithError("skipped: wrk is not installed (scripts/setup installs it)");
    return false;
}

inline void reportLoad(benchmark::State &state, const std::string &side, const Load &load)
{
    state.counters[side + "_req_per_s"] = load.perSecond;
    state.counters[side + "_p99_us"] = load.p99us;
    state.counters[side + "_cpu_us_per_req"] = load.cpuUsPerRequest;
    if (load.errors > 0)
        state.counters[side + "_errors"] = load.errors;
}

inline double ratio(double part, double whole)
{
    return whole > 0 ? part / whole : 0.0;
}

} // namespace proxybench
