// Entry point of the stand-in kestrion-engine: command line, port handshake, exit on stdin EOF or SIGTERM.
#include "core/data_file.h"
#include "core/engine_options.h"
#include "core/engine_support.h"
#include "core/test_switches.h"
#include "net/io_pool.h"
#include "standin_engine.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

// The engine runs on jemalloc (standin-engine/CMakeLists.txt); its own thread hands back what arenas
// left idle after a large request still hold. Freed pages go back within about a second, not ten: under
// a flood of large bodies every I/O thread's arena would otherwise keep hundreds of megabytes it no
// longer uses.
extern "C" {
const char *malloc_conf = "background_thread:true,max_background_threads:1,dirty_decay_ms:1000";
}

namespace {

void printPortLine(int port, const std::string &controlToken, standin::Fault fault)
{
    const std::string tokenLine = standin::kControlTokenPrefix + controlToken + "\n";
    std::fwrite(tokenLine.data(), 1, tokenLine.size(), stdout);
    const std::string line = "KESTRION_CONTROL_PORT=" + std::to_string(port) + "\n";
    if (fault == standin::Fault::SplitPortLine) {
        constexpr size_t kSplit = 13; // inside the word: "KESTRION_CONT" / "ROL_PORT=..."
        std::fwrite(line.data(), 1, kSplit, stdout);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::fwrite(line.data() + kSplit, 1, line.size() - kSplit, stdout);
    } else {
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    std::fflush(stdout);
}

// The app never writes to our stdin; its end means the app is gone, so no engine outlives it.
void watchStdin(standin::StandinEngine &engine)
{
    char buffer[256];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR))
            break;
    }
    engine.requestExit();
}

void watchSignals(standin::StandinEngine &engine, sigset_t signals)
{
    int received = 0;
    sigwait(&signals, &received);
    engine.requestExit();
}

} // namespace

int main(int argc, char **argv)
{
    // Read once, at the start: every part of the engine takes its test switches from this one reading.
    const standin::TestSwitches &switches = standin::testSwitches();
    // Signals are taken by one thread with sigwait; every thread started from here inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // A file size limit then fails the write (and the save says why) instead of killing the engine.
    std::signal(SIGXFSZ, SIG_IGN);
    // Before any port is sized: its connection caps follow the descriptor limit.
    standin::net::raiseDescriptorLimit();

    std::string error;
    const auto options = standin::parseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        standin::logError("kestrion-engine: " + error);
        standin::logError("usage: kestrion-engine --data-dir DIR [--control-port N] [--proxy-port N] [--autostart]");
        return 2;
    }
    // One engine per data folder: a second one would read half-written state and lose saves. An engine
    // that is still exiting gets a moment to let go.
    standin::makePrivate(options->dataDir);
    static standin::DataFolderLock folderLock; // held until the process ends
    if (!folderLock.acquire(options->dataDir, static_cast<int>(options->timings.folderLockGrace.count()), error)) {
        standin::logError("kestrion-engine: " + error);
        return 1;
    }
    standin::removeStaleTemporaries(options->dataDir);
    const standin::Fault fault = standin::parseFault(switches.standinFault.c_str());
    if (fault == standin::Fault::LogFlood) {
        for (int i = 1; i <= 250; ++i)
            standin::logLine("flood line " + std::to_string(i));
    }

    auto *engine = new standin::StandinEngine(*options, fault); // lives until _exit
    const int port = engine->bindControl(error);
    if (port < 0) {
        standin::logError("kestrion-engine: " + error);
        return 1;
    }
    std::thread([engine] { engine->serveControl(); }).detach();
    // The proxy comes up before the handshake, so the first health answer already tells the truth.
    if (options->autostart) {
        std::string proxyError;
        engine->startProxy(proxyError); // a failure is logged; the app sees proxyRunning false
    }
    printPortLine(port, engine->controlToken(), fault);
    standin::logLine("kestrion-engine " + std::string(standin::kEngineVersion) + " (stand-in), data in "
                     + options->dataDir);
    if (const auto problem = engine->rootCA().problem())
        standin::logError("the root CA can't be used: " + *problem
                          + "; HTTPS is relayed without interception until a new CA is generated");

    if (fault == standin::Fault::CrashAfterReady) {
        std::thread([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            std::fflush(stdout);
            std::_Exit(3);
        }).detach();
    }

    std::thread([engine] { watchStdin(*engine); }).detach();
    std::thread([engine, signals] { watchSignals(*engine, signals); }).detach();

    engine->waitForExit();
    engine->prepareExit();
    standin::logLine("kestrion-engine exiting");
    std::fflush(stdout);
    std::fflush(stderr);
    // Held connections (an event stream, a held health request) would keep a normal exit waiting.
    std::_Exit(0);
}
