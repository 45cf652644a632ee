// Outside tools run through QProcess on the GUI thread's event loop, so neither the window nor the pipes block.
#include "platform/tool_runner.h"

#include "platform/strict_utf8.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

namespace {

// Tool output that is not valid UTF-8 is dropped rather than shown garbled.
QString decodeUtf8(const QByteArray &bytes)
{
    return strictUtf8(bytes).value_or(QString());
}

// The launch error's description: "execvp: No such file or directory" without the system call's name.
QString launchReason(const QString &errorString)
{
    static const QRegularExpression systemCall(QStringLiteral("^exec\\w*: "));
    QString reason = errorString;
    reason.remove(systemCall);
    return reason;
}

QString limitText(int timeoutMs)
{
    if (timeoutMs % 1000 == 0)
        return QString::number(timeoutMs / 1000) + QStringLiteral(" s");
    return QString::number(timeoutMs) + QStringLiteral(" ms");
}

// One run of one tool; deletes itself once its result is handed over.
class ToolRun final : public QObject
{
public:
    ToolRun(const QString &program, const QStringList &arguments, QObject *context,
            ToolRunner::Callback done, int timeoutMs)
        : QObject(QCoreApplication::instance())
        , m_context(context)
        , m_tied(context != nullptr)
        , m_done(std::move(done))
        , m_timeoutMs(timeoutMs)
    {
        m_process.setProgram(program);
        m_process.setArguments(arguments);
        // A tool that asks for input gets end-of-file instead of waiting for an answer nobody can give.
        m_process.setStandardInputFile(QProcess::nullDevice());
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
    }

    ~ToolRun() override
    {
        // The process must not call back into a half-destroyed run while it is being killed.
        QObject::disconnect(&m_process, nullptr, this, nullptr);
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }

    void start()
    {
        // Both pipes are drained as data arrives, so a tool filling one pipe never stalls on the other.
        connect(&m_process, &QProcess::readyReadStandardOutput, this,
                [this] { m_output += m_process.readAllStandardOutput(); });
        connect(&m_process, &QProcess::readyReadStandardError, this,
                [this] { m_error += m_process.readAllStandardError(); });
        connect(&m_process, &QProcess::finished, this, &ToolRun::onFinished);
        connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                finish({-1, QString(), launchReason(m_process.errorString())});
        });
        if (m_tied)
            connect(m_context, &QObject::destroyed, this, [this] {
                if (m_process.state() != QProcess::NotRunning)
                    m_process.kill();
            });

        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_timedOut = true;
            m_process.kill();
        });
        if (m_timeoutMs > 0)
            m_timer.start(m_timeoutMs);

        if (m_process.program().isEmpty()) {
            finish({-1, QString(), QStringLiteral("Could not start the tool: no program was given")});
            return;
        }
        m_process.start(QIODevice::ReadOnly);
    }

private:
    void onFinished(int exitCode, QProcess::ExitStatus exitStatus)
    {
        m_output += m_process.readAllStandardOutput();
        m_error += m_process.readAllStandardError();
        const QString name = QFileInfo(m_process.program()).fileName();
        ToolResult result{exitCode, decodeUtf8(m_output), decodeUtf8(m_error)};
        if (m_timedOut) {
            result.status = -1;
            result.error = QStringLiteral("%1 did not finish within %2 and was stopped")
                               .arg(name, limitText(m_timeoutMs));
        } else if (exitStatus == QProcess::CrashExit) {
            // Killed by a signal (a cancelled prompt among others): what it wrote is all there is to say.
            result.status = -1;
        }
        finish(std::move(result));
    }

    void finish(ToolResult result)
    {
        if (m_finished)
            return;
        m_finished = true;
        m_timer.stop();
        m_result = std::move(result);
        // Always hand over from the event loop, never from inside run() or a QProcess signal.
        QTimer::singleShot(0, this, [this] {
            if (!m_tied || m_context)
                m_done(m_result);
            deleteLater();
        });
    }

    QProcess m_process;
    QTimer m_timer;
    QPointer<QObject> m_context;
    bool m_tied = false;
    ToolRunner::Callback m_done;
    int m_timeoutMs = ToolRunner::DefaultTimeoutMs;
    QByteArray m_output;
    QByteArray m_error;
    ToolResult m_result;
    bool m_timedOut = false;
    bool m_finished = false;
};

QString fromEnvironment(const char *name, const char *fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? QString::fromLatin1(fallback) : value;
}

} // namespace

void ToolRunner::run(const QString &program, const QStringList &arguments, QObject *context, Callback done,
                     int timeoutMs)
{
    auto *run = new ToolRun(program, arguments, context, std::move(done), timeoutMs >= 0 ? timeoutMs : DefaultTimeoutMs);
    run->start();
}

QString ToolPaths::security()
{
    const QString value = qEnvironmentVariable(SecurityEnv);
    if (!value.isEmpty())
        return value;
    if (QFileInfo(QString::fromLatin1(SecurityDefault)).isExecutable())
        return QString::fromLatin1(SecurityDefault);
    return trustScript();
}

QString ToolPaths::xcrun()
{
    return fromEnvironment(XcrunEnv, XcrunDefault);
}

QString ToolPaths::curl()
{
    return fromEnvironment(CurlEnv, CurlDefault);
}

QString ToolPaths::trustScript()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/kestrion-trust");
}

bool ToolPaths::runnable(const QString &program)
{
    if (program.isEmpty())
        return false;
    if (!program.contains(QLatin1Char('/')))
        return !QStandardPaths::findExecutable(program).isEmpty();
    const QFileInfo file(program);
    return file.isFile() && file.isExecutable();
}

bool ToolPaths::passwordPrompt()
{
    return runnable(QStringLiteral("pkexec"));
}
