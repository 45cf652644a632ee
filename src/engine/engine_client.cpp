// EngineClient: the engine process, its output and handshake, published state, control requests, file reads.
#include "engine/engine_client.h"

#include "engine/engine_output.h"
#include "platform/analytics.h"
#include "platform/preferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QStandardPaths>
#include <QThreadPool>
#include <QUrl>

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

} // namespace

EngineClient::EngineClient(QObject *parent)
    : QObject(parent)
    , m_aiStatus(AIStatus::initial())
    , m_aiSetup(AISetupProgress::initial())
{
    // A stored port that is not a whole number falls back to the default.
    m_proxyPort = Preferences::proxyPort();

    m_network = new QNetworkAccessManager(this);
    // Users point their proxy settings at our own proxy; control requests must never go there.
    m_network->setProxy(QNetworkProxy::NoProxy);

    m_healthTimer.setSingleShot(true);
    connect(&m_healthTimer, &QTimer::timeout, this, &EngineClient::pollHealth);
    m_trafficFeed = new TrafficFeed(this);
    connect(m_trafficFeed, &TrafficFeed::trafficChanged, this, &EngineClient::trafficChanged);
    connect(m_trafficFeed, &TrafficFeed::entriesChanged, this, &EngineClient::trafficEntriesChanged);
    connect(m_trafficFeed, &TrafficFeed::flushed, this, &EngineClient::trafficFlushed);
    connect(m_trafficFeed, &TrafficFeed::wasReset, this, &EngineClient::trafficReset);
    connect(m_trafficFeed, &TrafficFeed::sessionCountsChanged, this, &EngineClient::sessionCountsChanged);
    m_routePushTimer.setSingleShot(true);
    connect(&m_routePushTimer, &QTimer::timeout, this, [this] { postRoutes(routePushBody()); });

    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &EngineClient::shutdown);
}

EngineClient::~EngineClient()
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

// ---- Published state ----

void EngineClient::setStatus(const EngineStatus &status)
{
    m_status = status;
    emit statusChanged();
}

void EngineClient::setProxyRunning(bool running)
{
    m_proxyRunning = running;
    emit proxyRunningChanged();
}

void EngineClient::setEngineReady(bool ready)
{
    m_engineReady = ready;
    emit engineReadyChanged();
}

void EngineClient::setHealth(const std::optional<EngineHealth> &health)
{
    m_health = health;
    emit healthChanged();
}

void EngineClient::setLog(const QStringList &log)
{
    m_log = log.size() > MaxLogLines ? log.mid(log.size() - MaxLogLines) : log;
    emit logChanged();
}

void EngineClient::setEndpoints(const QList<Endpoint> &endpoints)
{
    if (!listWritesOpen())
        return;
    // A waiting push keeps the list it was scheduled with.
    if (m_routePushTimer.isActive() && !m_routePushRoutes)
        m_routePushRoutes = m_endpoints;
    m_endpoints = endpoints;
    endpointsDidChange(-1);
}

void EngineClient::endpointsDidChange(int position)
{
    ++m_endpointsRevision;
    m_editedEndpoint = position;
    emit endpointsChanged();
}

void EngineClient::setRoutesLoaded(bool loaded)
{
    if (m_routesLoaded == loaded)
        return;
    m_routesLoaded = loaded;
    emit routesLoadedChanged();
}

void EngineClient::setProjects(const QList<Project> &projects)
{
    m_projects = projects;
    emit projectsChanged();
}

void EngineClient::setActiveProjectID(const QString &id)
{
    m_activeProjectID = id;
    emit activeProjectIDChanged();
}

void EngineClient::setIsSwitchingProject(bool switching)
{
    m_isSwitchingProject = switching;
    emit isSwitchingProjectChanged();
}

void EngineClient::setImportSummary(const std::optional<QString> &summary)
{
    m_importSummary = summary;
    emit importSummaryChanged();
}

void EngineClient::setEnvironments(const QList<MockEnvironment> &environments)
{
    if (!listWritesOpen())
        return;
    m_environments = environments;
    emit environmentsChanged();
}

void EngineClient::setActiveEnvID(const QString &id)
{
    if (!listWritesOpen())
        return;
    m_activeEnvID = id;
    emit activeEnvIDChanged();
}

void EngineClient::setTraffic(const QList<TrafficEntry> &traffic)
{
    m_trafficFeed->reset(traffic);
}

void EngineClient::setCaInfo(const std::optional<CAInfo> &info)
{
    m_caInfo = info;
    emit caInfoChanged();
}

void EngineClient::setCaTrustedOnMac(bool trusted)
{
    m_caTrustedOnMac = trusted;
    emit caTrustedOnMacChanged();
}

void EngineClient::setCaTrustMessage(const std::optional<QString> &message)
{
    m_caTrustMessage = message;
    emit caTrustMessageChanged();
}

void EngineClient::setChaosPresets(const QList<ChaosPreset> &presets)
{
    m_chaosPresets = presets;
    emit chaosPresetsChanged();
}

void EngineClient::setActiveChaosId(const QString &id)
{
    m_activeChaosId = id;
    emit activeChaosIdChanged();
}

void EngineClient::setSchemaDrifts(const QList<SchemaDriftRecord> &drifts)
{
    m_schemaDrifts = drifts;
    emit schemaDriftsChanged();
}

void EngineClient::setUnseenDrift(int count)
{
    m_unseenDrift = count;
    emit unseenDriftChanged();
}

void EngineClient::setAiStatus(const AIStatus &status)
{
    m_aiStatus = status;
    emit aiStatusChanged();
}

void EngineClient::setAiSetup(const AISetupProgress &progress)
{
    m_aiSetup = progress;
    emit aiSetupChanged();
}

void EngineClient::setAiSetupActive(bool active)
{
    m_aiSetupActive = active;
    emit aiSetupActiveChanged();
}

// ---- Configuration ----

QString EngineClient::dataDirectory() const
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

void EngineClient::setDataDirectory(const QString &path)
{
    m_dataDirectory = path;
}

QString EngineClient::engineExecutable() const
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

void EngineClient::setEngineExecutable(const QString &path)
{
    m_engineExecutable = path;
}

void EngineClient::setAnalytics(Analytics *analytics)
{
    m_analytics = analytics;
}

Analytics &EngineClient::analytics() const
{
    return m_analytics ? *m_analytics : Analytics::shared();
}

void EngineClient::setHealthTiming(int intervalMs, int timeoutMs)
{
    m_healthIntervalMs = intervalMs;
    m_healthTimeoutMs = timeoutMs;
}

// ---- Engine process ----

void EngineClient::boot(bool autostartProxy)
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
    m_process = process;
}

qint64 EngineClient::engineProcessId() const
{
    return m_process ? m_process->processId() : 0;
}

void EngineClient::ingestOutput(QByteArrayView chunk)
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

void EngineClient::handleOutputLine(const QString &line)
{
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

void EngineClient::connectControl(int port)
{
    m_controlPort = port;
    setEngineReady(true);
    m_healthMisses = 0;
    appendLog(QStringLiteral("control ready on :") + QString::number(port));
    startHealthPolling();
    startEventStream();

    auto steps = std::make_shared<const std::vector<Step>>(std::vector<Step>{
        [this](Done done) { loadRoutes(std::move(done)); },
        [this](Done done) { loadProjects(std::move(done)); },
        [this](Done done) { loadCA(std::move(done)); },
        [this](Done done) { loadChaos(std::move(done)); },
        [this](Done done) { loadEnvironments(std::move(done)); },
        [this](Done done) { loadAIStatus(std::move(done)); },
    });
    runLoadChain(steps, 0);
}

void EngineClient::runLoadChain(std::shared_ptr<const std::vector<Step>> steps, std::size_t index)
{
    if (index >= steps->size())
        return;
    const Step &step = (*steps)[index];
    step([this, steps, index] { runLoadChain(steps, index + 1); });
}

void EngineClient::appendLog(const QString &line)
{
    m_log.append(line);
    if (m_log.size() > MaxLogLines)
        m_log.remove(0, m_log.size() - MaxLogLines);
    emit logChanged();
}

void EngineClient::handleTermination(QProcess *process)
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
    setRoutesLoaded(false);
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

void EngineClient::cancelEnvironmentPush()
{
    ++m_envPushGeneration;
    m_envPushWaiting = false;
    abortInFlight(m_envPushReply);
    finishEnvironmentPush();
}

void EngineClient::stopLinkTasks()
{
    ++m_healthGeneration;
    m_healthTimer.stop();
    abortInFlight(m_healthReply);
    ++m_eventsGeneration;
    abortInFlight(m_eventsReply);
    m_eventReader.clear();
}

void EngineClient::shutdown()
{
    // Edits still waiting out their debounce reach the engine before it goes.
    if (m_controlPort)
        flushPendingPushes(PendingPushWaitMs);
    cancelRoutePush();
    cancelEnvironmentPush();
    stopLinkTasks();

    if (m_process)
        disconnect(m_process, &QProcess::readyReadStandardOutput, this, nullptr);

    // At quit the event loop does not run again, so the request is seen out here (its own timeout
    // bounds the wait); otherwise it would only be queued and never leave.
    if (m_controlPort)
        if (QNetworkReply *reply = sendControl("POST", QStringLiteral("control/shutdown"), {}, std::nullopt,
                                               ShutdownTimeoutMs, this, nullptr))
            waitForReplies({reply}, ShutdownTimeoutMs);

    if (QProcess *process = m_process) {
        m_process = nullptr;
        process->closeWriteChannel();
        process->terminate();
    }

    m_controlPort.reset();
    setEngineReady(false);
    setRoutesLoaded(false);
    setProxyRunning(false);
    setStatus(EngineStatus::stopped());
}

void EngineClient::startProxy()
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
        analytics().track(QStringLiteral("proxy_started"), true);
    });
}

void EngineClient::stopProxy()
{
    stopProxyThen({});
}

void EngineClient::stopProxyThen(Done done)
{
    postControl(QStringLiteral("control/stop"), [this, done = std::move(done)](bool, const QString &) {
        setProxyRunning(false);
        if (done)
            done();
    });
}

void EngineClient::restartProxy()
{
    stopProxyThen([this] { startProxy(); });
}

// ---- Control requests ----

QUrl EngineClient::controlUrl(const QString &path, const QUrlQuery &query) const
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

QNetworkReply *EngineClient::sendControl(const QByteArray &method, const QString &path,
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

void EngineClient::postControl(const QString &path, std::function<void(bool, const QString &)> done)
{
    const QString prefix = QStringLiteral("control ") + path + QStringLiteral(": ");
    QNetworkReply *reply = sendControl(
        "POST", path, {}, std::nullopt, ProxyControlTimeoutMs, this,
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

void EngineClient::projectRequest(const QString &path, const QByteArray &method,
                                  const std::optional<QByteArray> &body,
                                  std::function<void(const std::optional<QByteArray> &)> done)
{
    QNetworkReply *reply = sendControl(method, path, {}, body, ProjectTimeoutMs, this,
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

void EngineClient::abortInFlight(QPointer<QNetworkReply> &slot)
{
    if (QNetworkReply *reply = slot.data()) {
        slot = nullptr;
        reply->abort();
    }
}

bool EngineClient::pushMayLand(const QString &project) const
{
    return m_projectChangesSent == 0 && (project == m_activeProjectID || project.isEmpty());
}

void EngineClient::dropWaitingPushesOf(const QString &project)
{
    if (m_routePushTimer.isActive() && m_routePushProject == project)
        dropWaitingRoutePush();
    if (m_envPushWaiting && m_envPushProject == project) {
        m_envPushWaiting = false;
        finishEnvironmentPush();
    }
}

void EngineClient::flushPendingPushes(int waitMs)
{
    QList<QPointer<QNetworkReply>> inFlight;
    if (QNetworkReply *reply = sendPendingRoutePushNow())
        inFlight.append(reply);
    if (QNetworkReply *reply = sendPendingEnvironmentPushNow())
        inFlight.append(reply);
    waitForReplies(inFlight, waitMs);
}

void EngineClient::waitForReplies(const QList<QPointer<QNetworkReply>> &inFlight, int waitMs)
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

// ---- Files chosen by the user ----

void EngineClient::readFileOffThread(const QString &path,
                                     std::function<void(const std::optional<QByteArray> &, const QString &)> deliver)
{
    const QString name = QFileInfo(path).fileName();
    QPointer<EngineClient> self(this);
    QThreadPool::globalInstance()->start([self, path, name, deliver] {
        QFile file(path);
        std::optional<QByteArray> data;
        if (file.open(QIODevice::ReadOnly))
            data = file.readAll();
        if (file.error() != QFileDevice::NoError)
            data.reset();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, name, deliver, data = std::move(data)] {
                if (self)
                    deliver(data, name);
            },
            Qt::QueuedConnection);
    });
}
