// Small shell scripts that stand in for outside tools, and a blocking way to run one in a test.
#pragma once

#include "platform/tool_runner.h"
#include "support/test_support.h"

#include <QFile>
#include <QObject>
#include <QStringList>
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

// Writes a plain file; false when it could not be written whole.
inline bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// Writes a stand-in at <dir>/bin/<name> that notes each call's arguments in <dir>/<name>.calls, then runs body.
inline QString writeNoting(const QTemporaryDir &dir, const QString &name, const QByteArray &body = {})
{
    const QByteArray log = "'" + dir.filePath(name + QStringLiteral(".calls")).toUtf8() + "'";
    return write(dir, QStringLiteral("bin/") + name,
                 "for a in \"$@\"; do printf '%s\\0' \"$a\"; done >> " + log + "\nprintf '\\036' >> " + log + "\n" + body);
}

// The calls a stand-in of writeNoting received, each as its arguments.
inline QList<QStringList> calls(const QTemporaryDir &dir, const QString &name)
{
    QFile log(dir.filePath(name + QStringLiteral(".calls")));
    QList<QStringList> found;
    if (!log.open(QIODevice::ReadOnly))
        return found;
    QStringList records = QString::fromUtf8(log.readAll()).split(QChar(0x1e));
    records.removeLast(); // after the last call's separator
    for (const QString &record : records) {
        QStringList arguments = record.split(QChar(0));
        arguments.removeLast(); // after the last NUL
        found << arguments;
    }
    return found;
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
