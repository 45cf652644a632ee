// Small shell scripts that stand in for outside tools, and a blocking way to run one in a test.
#pragma once

#include "platform/tool_runner.h"
#include "support/test_support.h"

#include <QFile>
#include <QObject>
#include <QTemporaryDir>

#include <optional>

namespace faketool {

// Writes an executable /bin/sh script with the given body and returns its path.
inline QString write(const QTemporaryDir &dir, const QString &name, const QByteArray &body)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return path;
}

// Runs a tool through ToolRunner and waits for its result; nullopt when none arrived in time.
inline std::optional<ToolResult> runAndWait(const QString &program, const QStringList &arguments,
                                            int timeoutMs = ToolRunner::DefaultTimeoutMs, int waitMs = 20000)
{
    QObject context;
    std::optional<ToolResult> result;
    ToolRunner::run(program, arguments, &context, [&result](const ToolResult &r) { result = r; }, timeoutMs);
    testsupport::waitFor([&result] { return result.has_value(); }, waitMs);
    return result;
}

// Sets an environment variable for one scope and puts the old value back afterwards.
class ScopedEnv final
{
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : m_name(name)
        , m_old(qgetenv(name))
        , m_had(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *m_name;
    QByteArray m_old;
    bool m_had;
};

} // namespace faketool
