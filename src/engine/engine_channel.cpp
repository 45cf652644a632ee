// EngineChannel: starts the engine child, reads its output for the control port, polls its health, reads its
// event stream and sends control requests by the shared conventions.
#include "engine/engine_channel.h"

#include "engine/engine_output.h"
#include "platform/preferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <cstdio>
#include <cstring>

namespace {

const char TimedOutProperty[] = "ks.timedOut";

// "SIGKILL" for 9; the number itself for a signal without a name.
QString signalName(int signal)
{
    if (const char *abbreviation = sigabbrev_np(signal))
        return QStringLiteral("SIG") + QString::fromLatin1(abbreviation);
    return QStringLiteral("signal ") + QString::number(signal);
}

// Qt also reports 4xx and 5xx statuses as errors (content, server and invalid-operation codes); those
// are answers. Network and proxy errors, and an unknown or failed protocol exchange, mean the reply
// did not arrive whole.
bool brokeOff(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError
           && (error < QNetworkReply::ContentAccessDenied || error == QNetworkReply::ProtocolUnknownError
               || error == QNetworkReply::ProtocolFailure);
}


QByteArrayView trimmedBlanks(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
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
        if (!process->waitForFinished(2000)) {
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
    m_eventsToken.clear();
    m_process = process;
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
    // The token is for the event stream alone, never for the log, even when it doesn't read as one.
    if (line.startsWith(QLatin1StringView(EventsTokenPrefix))) {
        m_eventsToken = parseEventsTokenLine(line).value_or(QByteArray());
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
        connectControl(parsed.port);
        break;
    }
}

void EngineChannel::connectControl(int port)
{
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

void EngineChannel::shutdown()
{
    stopLinkTasks();

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

QUrl EngineChannel::controlUrl(const QString &path, const QUrlQuery &query) const
{
    const QString base = QStringLiteral("http://127.0.0.1:") + QString::number(*m_controlPort);
    QUrl url;
    if (path.startsWith(QLatin1Char('/'))) {
        url = QUrl(base + path, QUrl::StrictMode);
    } else {
        url = QUrl(base);
        // Decoded mode percent-encodes what a path may not hold; "/" stays a separator.
        url.setPath(QLatin1Char('/') + path, QUrl::DecodedMode);
    }
    if (!query.isEmpty()) {
        // A literal "+" would reach the engine as a space.
        QString text = query.toString(QUrl::FullyEncoded);
        text.replace(QLatin1Char('+'), QStringLiteral("%2B"));
        url.setQuery(text, QUrl::StrictMode);
    }
    return url;
}

QNetworkReply *EngineChannel::sendControl(const QByteArray &method, const QString &path,
                                         const QUrlQuery &query, const std::optional<QByteArray> &body,
                                         int timeoutMs, QObject *context, ReplyHandler handler,
                                         const QByteArray &contentType)
{
    if (!m_controlPort)
        return nullptr;
    const QUrl url = controlUrl(path, query);
    if (!url.isValid())
        return nullptr;

    QNetworkRequest request(url);
    if (body)
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);

    QNetworkReply *reply = nullptr;
    const QByteArray payload = body.value_or(QByteArray());
    if (method == "GET")
        reply = m_network->get(request);
    else if (method == "POST" && !body)
        // post() would add a form content type (and warn about it); this sends no body and
        // no content type, with a length of 0.
        reply = m_network->sendCustomRequest(request, method, QByteArray());
    else if (method == "POST")
        reply = m_network->post(request, payload);
    else if (method == "PUT")
        reply = m_network->put(request, payload);
    else if (method == "DELETE" && !body)
        reply = m_network->deleteResource(request);
    else
        reply = m_network->sendCustomRequest(request, method, payload);

    if (timeoutMs > 0) {
        // The transfer timeout only notices idle connections; this bounds the whole request.
        auto *timer = new QTimer(reply);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, reply, [reply] {
            reply->setProperty(TimedOutProperty, true);
            reply->abort();
        });
        timer->start(timeoutMs);
    }
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    if (handler) {
        connect(reply, &QNetworkReply::finished, context ? context : this,
                [reply, handler = std::move(handler)] {
                    ControlReply result;
                    // A reply that broke off (after its status line, mid-body, or at our own timeout) is
                    // a transport failure however good its status looked: its body is not the answer.
                    if (!brokeOff(reply->error()))
                        result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                    // An aborted reply is closed; reading it would only warn.
                    if (reply->isOpen() && result.httpStatus != 0)
                        result.body = reply->readAll();
                    if (result.httpStatus == 0)
                        result.error = reply->property(TimedOutProperty).toBool()
                                           ? QStringLiteral("The request timed out.")
                                           : reply->errorString();
                    handler(result);
                });
    }
    return reply;
}

void EngineChannel::postControl(const QString &path, std::function<void(bool, const QString &)> done)
{
    const QString prefix = QStringLiteral("control ") + path + QStringLiteral(": ");
    QNetworkReply *reply = sendControl(
        "POST", path, {}, std::nullopt, m_timeouts.proxyControl, this,
        [this, prefix, done](const ControlReply &reply) {
            const bool ok = reply.isSuccess();
            QString why;
            if (reply.transportFailed()) {
                appendLog(prefix + reply.error);
                why = reply.error;
            } else if (!ok) {
                const QString status = QStringLiteral("HTTP ") + QString::number(reply.httpStatus);
                appendLog(prefix + status);
                const auto refusal = decodeRecord<ErrorReply>(asView(reply.body));
                // One log line, whatever the engine put in its text.
                why = refusal ? QString::fromStdString(refusal->error).simplified() : QString();
                if (why.isEmpty())
                    why = status;
            }
            if (done)
                done(ok, why);
        });
    if (!reply) {
        appendLog(prefix + QStringLiteral("engine not connected"));
        if (done)
            done(false, QString());
    }
}

void EngineChannel::projectRequest(const QString &path, const QByteArray &method,
                                  const std::optional<QByteArray> &body,
                                  std::function<void(const std::optional<QByteArray> &)> done)
{
    QNetworkReply *reply = sendControl(method, path, {}, body, m_timeouts.project, this,
                                       [done](const ControlReply &reply) {
                                           if (!done)
                                               return;
                                           if (reply.isSuccess())
                                               done(reply.body);
                                           else
                                               done(std::nullopt);
                                       });
    if (!reply && done)
        done(std::nullopt);
}

void EngineChannel::abortInFlight(QPointer<QNetworkReply> &slot)
{
    if (QNetworkReply *reply = slot.data()) {
        slot = nullptr;
        reply->abort();
    }
}

void EngineChannel::waitForReplies(const QList<QPointer<QNetworkReply>> &inFlight, int waitMs)
{
    if (inFlight.isEmpty())
        return;

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto allDone = [&inFlight] {
        for (const QPointer<QNetworkReply> &reply : inFlight)
            if (reply && !reply->isFinished())
                return false;
        return true;
    };
    for (const QPointer<QNetworkReply> &reply : std::as_const(inFlight))
        connect(reply.data(), &QNetworkReply::finished, &loop, [&loop, &allDone] {
            if (allDone())
                loop.quit();
        });
    if (allDone())
        return;
    deadline.start(waitMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void EngineChannel::startHealthPolling()
{
    ++m_healthGeneration;
    m_healthTimer.stop();
    abortInFlight(m_healthReply);
    pollHealth();
}

void EngineChannel::pollHealth()
{
    const int generation = m_healthGeneration;
    QNetworkReply *reply = sendControl(
        "GET", QStringLiteral("health"), {}, std::nullopt, m_timeouts.health, this,
        [this, generation](const ControlReply &reply) {
            if (generation != m_healthGeneration)
                return; // polling was stopped or restarted meanwhile
            m_healthReply = nullptr;
            // The status code is not looked at: a body that decodes is a good answer.
            std::optional<EngineHealth> decoded;
            if (!reply.transportFailed())
                decoded = decodeRecord<EngineHealth>(asView(reply.body));
            if (decoded) {
                setHealth(decoded);
                setProxyRunning(decoded->proxyRunning);
                m_proxyPort = decoded->proxyPort;
                m_healthMisses = 0;
                setStatus(EngineStatus::healthy());
            } else if (++m_healthMisses == 3) {
                setStatus(EngineStatus::error(QStringLiteral("engine not responding")));
                appendLog(QStringLiteral("engine not responding \u2014 3 missed health checks"));
            }
            m_healthTimer.start(m_timeouts.healthInterval);
        });
    m_healthReply = reply;
    if (!reply)
        m_healthTimer.start(m_timeouts.healthInterval);
}

void EngineChannel::startEventStream()
{
    const int generation = ++m_eventsGeneration;
    if (QNetworkReply *old = m_eventsReply.data()) {
        m_eventsReply = nullptr;
        old->abort();
    }
    m_eventReader.clear();
    if (!m_controlPort)
        return;

    QNetworkRequest request(controlUrl(QStringLiteral("events"), {}));
    request.setTransferTimeout(0);
    if (!m_eventsToken.isEmpty())
        request.setRawHeader(EventsTokenHeader, m_eventsToken);
    QNetworkReply *reply = m_network->get(request);
    m_eventsReply = reply;
    connect(reply, &QNetworkReply::readyRead, this, [this, reply, generation] {
        if (generation == m_eventsGeneration)
            ingestEventStream(reply->readAll());
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, generation] {
        // The stream is over (closed, failed or cancelled); it is not reopened from here.
        if (generation == m_eventsGeneration) {
            if (reply->isOpen())
                ingestEventStream(reply->readAll());
            const QByteArray rest = m_eventReader.takeRemainder();
            if (!rest.isEmpty())
                ingestEventStream(rest + '\n');
            m_eventsReply = nullptr;
        }
        reply->deleteLater();
    });
}

void EngineChannel::ingestEventStream(QByteArrayView chunk)
{
    const int generation = m_eventsGeneration;
    m_eventReader.feed(chunk, [this, generation](QByteArrayView line) {
        if (generation != m_eventsGeneration || !line.startsWith("data:"))
            return;
        const QByteArrayView payload = trimmedBlanks(line.sliced(5));
        handleEvent(std::string_view(payload.data(), std::size_t(payload.size())));
    });
}

void EngineChannel::handleEvent(std::string_view payload)
{
    std::optional<EngineEvent> event = decodeRecord<EngineEvent>(payload);
    if (!event)
        return;

    const std::string &type = event->type;
    if (type == "proxy_started") {
        setProxyRunning(true);
        appendLog(QStringLiteral("\u2022 proxy started"));
    } else if (type == "proxy_stopped") {
        setProxyRunning(false);
        appendLog(QStringLiteral("\u2022 proxy stopped"));
    } else if (type == "hello") {
        appendLog(QStringLiteral("\u2022 events connected"));
    } else {
        emit eventArrived(*event);
    }

    // Applied after the type's effect, so the health record has the last word on the proxy flag.
    if (event->health) {
        setHealth(event->health);
        setProxyRunning(event->health->proxyRunning);
    }
}
