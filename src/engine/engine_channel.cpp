// EngineChannel: starts the engine child, reads its output for the handshake, logs, and sees the child out.
#include "engine/engine_channel.h"

#include "engine/engine_output.h"
#include "platform/preferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// "SIGKILL" for 9; the number itself for a signal without a name.
QString signalName(int signal)
{
    if (const char *abbreviation = sigabbrev_np(signal))
        return QStringLiteral("SIG") + QString::fromLatin1(abbreviation);
    return QStringLiteral("signal ") + QString::number(signal);
}

} // namespace

EngineChannel::EngineChannel(QObject *parent)
    : QObject(parent)
{
    // A stored port that is not a whole number falls back to the default.
    m_proxyPort = Preferences::proxyPort();
    m_network = new QNetworkAccessManager(this);
    // Users point their proxy settings at our own proxy; control requests must never go there.
    m_network->setProxy(QNetworkProxy::NoProxy);
    m_healthTimer.setSingleShot(true);
    connect(&m_healthTimer, &QTimer::timeout, this, &EngineChannel::pollHealth);
    m_startTimer.setSingleShot(true);
    connect(&m_startTimer, &QTimer::timeout, this, &EngineChannel::startTimedOut);
}

EngineChannel::~EngineChannel()
{
    // No engine outlives its link: a child still running (or still stopping) is ended here.
    const auto processes = findChildren<QProcess *>(Qt::FindDirectChildrenOnly);
    for (QProcess *process : processes) {
        process->disconnect(this);
        if (process->state() == QProcess::NotRunning)
            continue;
        process->closeWriteChannel();
        process->terminate();
        // At quit, what is left of the quit's time; otherwise a moment to save and go.
        const int grace = m_quit.isForever() ? 2000 : int(std::clamp<qint64>(m_quit.remainingTime(), 0, 2000));
        if (!process->waitForFinished(grace)) {
            process->kill();
            process->waitForFinished(1000);
        }
    }
}

void EngineChannel::setStatus(const EngineStatus &status)
{
    m_status = status;
    emit statusChanged();
}

void EngineChannel::setProxyRunning(bool running)
{
    m_proxyRunning = running;
    emit proxyRunningChanged();
}

void EngineChannel::setEngineReady(bool ready)
{
    m_engineReady = ready;
    emit engineReadyChanged();
}

void EngineChannel::setHealth(const std::optional<EngineHealth> &health)
{
    m_health = health;
    emit healthChanged();
}

void EngineChannel::setLog(const QStringList &log)
{
    m_log = log.size() > MaxLogLines ? log.mid(log.size() - MaxLogLines) : log;
    emit logChanged();
}

QString EngineChannel::dataDirectory() const
{
    QString path = qEnvironmentVariable("KESTRION_DATA_DIR");
    if (path.isEmpty())
        path = m_dataDirectory;
    if (path.isEmpty()) {
        QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        if (base.isEmpty())
            base = QDir::tempPath();
        path = base + QStringLiteral("/Kestrion");
    }
    QDir().mkpath(path); // a failure shows up as the engine's own error
    return path;
}

QString EngineChannel::engineExecutable() const
{
    const QString fromEnvironment = qEnvironmentVariable("KESTRION_ENGINE");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    if (!m_engineExecutable.isEmpty())
        return m_engineExecutable;
    const QString appDir = QCoreApplication::applicationDirPath();
    const QString beside = appDir + QStringLiteral("/kestrion-engine");
    // A file that is there but can't be run is a failed launch, not a missing engine, so it is kept.
    if (QFileInfo::exists(beside))
        return beside;
    return appDir + QStringLiteral("/resources/kestrion-engine");
}

void EngineChannel::boot(bool autostartProxy)
{
    if (m_process) {
        if (autostartProxy)
            startProxy();
        return;
    }
    m_quit = QDeadlineTimer(QDeadlineTimer::Forever);

    const QString executable = engineExecutable();
    const QFileInfo info(executable);
    if (!info.exists()) {
        setStatus(EngineStatus::error(QStringLiteral("engine binary missing from app bundle")));
        appendLog(QStringLiteral("error: kestrion-engine not found in Resources"));
        return;
    }

    setStatus(EngineStatus::starting());
    setProxyRunning(autostartProxy);
    appendLog(QStringLiteral("launching ") + info.fileName() + QChar(0x2026));

    QStringList arguments{QStringLiteral("--control-port"), QStringLiteral("0"),
                          QStringLiteral("--proxy-port"), QString::number(m_proxyPort),
                          QStringLiteral("--data-dir"), dataDirectory()};
    if (autostartProxy)
        arguments << QStringLiteral("--autostart");

    auto *process = new QProcess(this);
    process->setProgram(executable);
    process->setArguments(arguments);
    // Standard error reaches the log through the same reader as standard output.
    process->setProcessChannelMode(QProcess::MergedChannels);
    connect(process, &QProcess::readyReadStandardOutput, this, [this, process] {
        if (process == m_process)
            ingestOutput(process->readAllStandardOutput());
    });
    connect(process, &QProcess::finished, this, [this, process](int exitCode, QProcess::ExitStatus) {
        handleTermination(process);
        emit engineExited(exitCode);
        process->deleteLater();
    });

    process->start();
    if (!process->waitForStarted(10000)) {
        const QString description = process->errorString();
        process->disconnect(this);
        process->kill();
        process->waitForFinished(1000);
        delete process;
        setStatus(EngineStatus::error(description));
        appendLog(QStringLiteral("failed to launch: ") + description);
        // Without an engine there is no proxy, whatever was asked for.
        setProxyRunning(false);
        return;
    }
    m_outputReader.clear();
    m_controlToken.clear();
    m_controlTokenTaken = false;
    m_process = process;
    m_startTimer.start(m_timeouts.start);
}

void EngineChannel::startTimedOut()
{
    QProcess *process = m_process;
    if (!process || m_controlPort)
        return;
    // Ended here and forgotten, so that its exit says nothing more and a later boot may try again.
    process->disconnect(this);
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->closeWriteChannel();
    process->kill();
    m_process = nullptr;
    m_outputReader.clear();
    setProxyRunning(false);
    const QString message = QStringLiteral("The engine did not start: it gave no control port in ")
                            + QLocale::c().toString(m_timeouts.start / 1000.0) + QStringLiteral(" s");
    setStatus(EngineStatus::error(message));
    appendLog(message);
}

void EngineChannel::replaceEngine(std::function<void(bool launched)> done)
{
    const bool proxy = m_proxyRunning;
    const auto bootAgain = [this, proxy, done] {
        boot(proxy);
        if (done)
            done(m_process != nullptr);
    };
    QProcess *process = m_process;
    if (!process) {
        // Linked to an engine this link did not start: it can't be ended from here.
        if (done)
            done(false);
        return;
    }
    // After the exit has been handled (connected after it), so the new child is not taken for the old one.
    connect(process, &QProcess::finished, this, bootAgain, Qt::SingleShotConnection);
    process->kill();
}

qint64 EngineChannel::engineProcessId() const
{
    return m_process ? m_process->processId() : 0;
}

void EngineChannel::ingestOutput(QByteArrayView chunk)
{
    QStringList lines;
    m_outputReader.feed(chunk, [&lines](QByteArrayView line) {
        // A line that is not valid UTF-8 is dropped; the lines around it are kept.
        if (std::optional<QString> text = decodeUtf8Line(line))
            lines.append(*text);
    });
    for (const QString &line : std::as_const(lines))
        handleOutputLine(line);
}

void EngineChannel::handleOutputLine(const QString &line)
{
    // The token is for control requests alone, never for the log, even when it doesn't read as one.
    if (line.startsWith(QLatin1StringView(ControlTokenPrefix))) {
        // Ours, printed once before the port line: a later one may come from a name the engine logged.
        if (!m_controlTokenTaken)
            m_controlToken = parseControlTokenLine(line).value_or(QByteArray());
        m_controlTokenTaken = true;
        return;
    }
    const ControlPortLine parsed = parseControlPortLine(line);
    switch (parsed.kind) {
    case ControlPortLine::Kind::NotPortLine:
        appendLog(line);
        break;
    case ControlPortLine::Kind::Malformed:
        break;
    case ControlPortLine::Kind::Port:
        m_controlTokenTaken = true;
        connectControl(parsed.port);
        break;
    }
}

void EngineChannel::connectControl(int port)
{
    m_startTimer.stop();
    m_controlPort = port;
    setEngineReady(true);
    m_healthMisses = 0;
    appendLog(QStringLiteral("control ready on :") + QString::number(port));
    startHealthPolling();
    startEventStream();

    emit connected();
}

void EngineChannel::appendLog(const QString &line)
{
    if (m_logToStandardError) {
        // One write per line, so lines from other writers never land inside it.
        const QByteArray bytes = line.toUtf8() + '\n';
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    }
    m_log.append(line);
    if (m_log.size() > MaxLogLines)
        m_log.remove(0, m_log.size() - MaxLogLines);
    emit logChanged();
}

void EngineChannel::handleTermination(QProcess *process)
{
    // An engine still stopping after shutdown() may exit once a new one is linked; its exit
    // must not cancel the new engine's polling and stream.
    if (process != m_process) {
        if (!m_process)
            stopLinkTasks();
        return;
    }
    // What the child wrote last is still owed to the log, an unfinished last line included.
    ingestOutput(process->readAllStandardOutput());
    const QByteArray rest = m_outputReader.takeRemainder();
    if (!rest.isEmpty())
        ingestOutput(rest + '\n');
    stopLinkTasks();
    m_startTimer.stop();

    m_process = nullptr;
    m_controlPort.reset();
    setEngineReady(false);
    emit disconnected();
    setProxyRunning(false);
    if (process->exitStatus() == QProcess::CrashExit) {
        // Killed by a signal: an error, not a stop, whatever the status was.
        const QString signal = signalName(process->exitCode());
        setStatus(EngineStatus::error(QStringLiteral("engine killed by ") + signal));
        appendLog(QStringLiteral("engine exited (code ") + QString::number(process->exitCode())
                  + QStringLiteral(", killed by ") + signal + QLatin1Char(')'));
        return;
    }
    if (!m_status.isError())
        setStatus(EngineStatus::stopped());
    appendLog(QStringLiteral("engine exited (code ") + QString::number(process->exitCode())
              + QLatin1Char(')'));
}

void EngineChannel::stopLinkTasks()
{
    ++m_healthGeneration;
    m_healthTimer.stop();
    abortInFlight(m_healthReply);
    ++m_eventsGeneration;
    abortInFlight(m_eventsReply);
    m_eventReader.clear();
}

void EngineChannel::shutdown(QDeadlineTimer quit)
{
    // A second call (the window closing after the application's quit) keeps the first one's time.
    if (quit < m_quit)
        m_quit = quit;
    stopLinkTasks();
    m_startTimer.stop();

    if (m_process)
        disconnect(m_process, &QProcess::readyReadStandardOutput, this, nullptr);

    // At quit the event loop does not run again, so the request is seen out here (its own timeout
    // bounds the wait); otherwise it would only be queued and never leave.
    if (m_controlPort)
        if (QNetworkReply *reply = sendControl("POST", QStringLiteral("control/shutdown"), {}, std::nullopt,
                                               m_timeouts.shutdown, this, nullptr))
            waitForReplies({reply}, m_timeouts.shutdown);

    if (QProcess *process = m_process) {
        m_process = nullptr;
        process->closeWriteChannel();
        process->terminate();
    }

    m_controlPort.reset();
    setEngineReady(false);
    emit disconnected();
    setProxyRunning(false);
    setStatus(EngineStatus::stopped());
}

void EngineChannel::startProxy()
{
    postControl(QStringLiteral("control/start"), [this](bool ok, const QString &why) {
        if (!ok) {
            setProxyRunning(false);
            // A refused start (the port taken, say) would otherwise go unexplained.
            if (!why.isEmpty())
                appendLog(QStringLiteral("proxy start failed: ") + why);
            return;
        }
        setProxyRunning(true);
        if (m_status.isError())
            setStatus(EngineStatus::healthy());
        emit proxyStarted();
    });
}

void EngineChannel::stopProxyThen(std::function<void()> done)
{
    postControl(QStringLiteral("control/stop"), [this, done = std::move(done)](bool, const QString &) {
        setProxyRunning(false);
        if (done)
            done();
    });
}
