// Runs outside tools (the keychain stand-in, xcrun, curl) without blocking the window, and where to find them.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QObject;

// What a finished tool left behind. status is -1 when the tool could not start (error: the launch
// error's description), was killed by a signal (error: its standard error as written) or was stopped.
struct ToolResult
{
    int status = -1;
    QString output;
    QString error;
};

class ToolRunner final
{
public:
    using Callback = std::function<void(const ToolResult &)>;

    // Long enough for any tool that is working; short enough that a hung one can't hold a busy flag forever.
    static constexpr int DefaultTimeoutMs = 120'000;
    // For a tool that may wait on the user (a password prompt): it runs as long as it takes.
    static constexpr int NoTimeLimit = 0;

    // Called on the GUI thread. Starts the program (no shell, each argument passed as is, standard input
    // empty, environment inherited) and returns at once. done runs later on the GUI thread, never from
    // inside run(); when context is destroyed first, done is never called and the tool is stopped.
    // A null context ties the result to nothing.
    static void run(const QString &program, const QStringList &arguments, QObject *context, Callback done,
                    int timeoutMs = DefaultTimeoutMs);

private:
    ToolRunner() = delete;
};

// Paths of the outside tools: an environment variable overrides the usual location.
class ToolPaths final
{
public:
    static constexpr char SecurityEnv[] = "KESTRION_SECURITY";
    static constexpr char XcrunEnv[] = "KESTRION_XCRUN";
    static constexpr char CurlEnv[] = "KESTRION_CURL";

    static constexpr char SecurityDefault[] = "/usr/bin/security";
    static constexpr char XcrunDefault[] = "/usr/bin/xcrun";
    static constexpr char CurlDefault[] = "/usr/bin/curl";

    // The keychain tool, or our kestrion-trust script where there is no keychain tool.
    static QString security();
    static QString xcrun();
    static QString curl();

    // kestrion-trust beside the application binary.
    static QString trustScript();

    // Whether a program can be started: an executable file at a path, or one found on PATH for a bare name.
    static bool runnable(const QString &program);
    // Whether the one-click trust can ask for the password the system store needs: kestrion-trust asks through
    // pkexec, found on PATH; without it the store is left for a command the user runs.
    static bool passwordPrompt();

private:
    ToolPaths() = delete;
};
