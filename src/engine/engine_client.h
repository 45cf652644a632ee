// EngineClient: the application's one link to the engine child process and its control API.
#pragma once

#include "engine/certificate_authority.h"
#include "engine/chaos_presets.h"
#include "engine/engine_channel.h"
#include "engine/environment_store.h"
#include "engine/mock_generator.h"
#include "engine/operation_queue.h"
#include "engine/project_store.h"
#include "engine/push_gate.h"
#include "engine/records/engine_records.h"
#include "engine/records/route_records.h"
#include "engine/route_list.h"
#include "engine/schema_drift.h"
#include "engine/traffic_feed.h"
#include "platform/bounded_file.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrlQuery>

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

class Analytics;
class QNetworkAccessManager;
class QNetworkReply;

class EngineClient final : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void()>;
    using ReplyHandler = EngineChannel::ReplyHandler;

    static constexpr int MaxLogLines = EngineChannel::MaxLogLines;
    static constexpr int MaxTrafficEntries = TrafficFeed::MaxEntries;
    static constexpr int MaxDrifts = SchemaDrift::MaxDrifts;
    static constexpr int TrafficFlushDelayMs = TrafficFeed::FlushDelayMs;
    static constexpr int FreshMs = TrafficFeed::FreshMs;
    static constexpr int PushDebounceMs = 150;
    static constexpr int PendingPushWaitMs = 1000;
    // Of a quit's time, what is kept for the engine to exit once asked to stop.
    static constexpr int EngineExitMs = 500;
    // Full records at least this long are decoded off the GUI thread.
    static constexpr qsizetype OffThreadDecodeBytes = 2 * 1024 * 1024;
    // The engine takes at most 64 MiB in one capture or OpenAPI import; a larger file is refused, never
    // read whole.
    static constexpr qint64 MaxImportBytes = 64 * 1024 * 1024;
    // A profile holds a project as saved, so it may be as large as the engine keeps saved data: one the
    // app exported can always be imported back.
    static constexpr qint64 MaxProfileBytes = 64 * 1024 * 1024;

    explicit EngineClient(QObject *parent = nullptr);
    ~EngineClient() override;

    // ---- Published state ----
    const EngineStatus &status() const { return m_channel->status(); }
    void setStatus(const EngineStatus &status) { m_channel->setStatus(status); }
    bool proxyRunning() const { return m_channel->proxyRunning(); }
    void setProxyRunning(bool running) { m_channel->setProxyRunning(running); }
    bool engineReady() const { return m_channel->engineReady(); }
    void setEngineReady(bool ready) { m_channel->setEngineReady(ready); }
    const std::optional<EngineHealth> &health() const { return m_channel->health(); }
    void setHealth(const std::optional<EngineHealth> &health) { m_channel->setHealth(health); }
    const QStringList &log() const { return m_channel->log(); }
    void setLog(const QStringList &log) { m_channel->setLog(log); }
    const QList<Endpoint> &endpoints() const { return m_routes->endpoints(); }
    // Replaces the list locally without a push (seeding); screens change routes through the intents below.
    void setEndpoints(const QList<Endpoint> &endpoints) { m_routes->setEndpoints(endpoints); }
    quint64 endpointsRevision() const { return m_routes->revision(); }
    int editedEndpoint() const { return m_routes->editedEndpoint(); }
    bool routesLoaded() const { return m_routes->routesLoaded(); }
    void setRoutesLoaded(bool loaded) { m_routes->setRoutesLoaded(loaded); }
    const QList<Project> &projects() const { return m_projects->projects(); }
    void setProjects(const QList<Project> &projects) { m_projects->setProjects(projects); }
    const QString &activeProjectID() const { return m_projects->activeProjectID(); }
    void setActiveProjectID(const QString &id) { m_projects->setActiveProjectID(id); }
    // True while a switch runs or waits its turn.
    bool isSwitchingProject() const { return m_projects->isSwitchingProject(); }
    void setIsSwitchingProject(bool switching) { m_projects->setIsSwitchingProject(switching); }
    const std::optional<QString> &importSummary() const { return m_importSummary; }
    void setImportSummary(const std::optional<QString> &summary);
    const QList<MockEnvironment> &environments() const { return m_environments->environments(); }
    void setEnvironments(const QList<MockEnvironment> &environments) { m_environments->setEnvironments(environments); }
    const QString &activeEnvID() const { return m_environments->activeEnvID(); }
    void setActiveEnvID(const QString &id) { m_environments->setActiveEnvID(id); }
    const QList<TrafficEntry> &traffic() const { return m_trafficFeed->traffic(); }
    // Replaces the list whole; the session counts start again from it.
    void setTraffic(const QList<TrafficEntry> &traffic);
    // Request events since `traffic` was last emptied (clear, project switch or reload), and how many
    // of them a route answered; `traffic` itself keeps only the newest MaxTrafficEntries.
    qint64 sessionRequestCount() const { return m_trafficFeed->sessionRequestCount(); }
    qint64 sessionInjectedCount() const { return m_trafficFeed->sessionInjectedCount(); }
    qint64 sessionErrorCount() const { return m_trafficFeed->sessionErrorCount(); }
    qint64 sessionInjectedLatencyMs() const { return m_trafficFeed->sessionInjectedLatencyMs(); }
    const std::optional<CAInfo> &caInfo() const { return m_ca->info(); }
    void setCaInfo(const std::optional<CAInfo> &info) { m_ca->setInfo(info); }
    bool caTrustedOnMac() const { return m_ca->trustedOnMac(); }
    void setCaTrustedOnMac(bool trusted) { m_ca->setTrustedOnMac(trusted); }
    const std::optional<QString> &caTrustMessage() const { return m_ca->trustMessage(); }
    void setCaTrustMessage(const std::optional<QString> &message) { m_ca->setTrustMessage(message); }
    const QList<ChaosPreset> &chaosPresets() const { return m_chaos->presets(); }
    void setChaosPresets(const QList<ChaosPreset> &presets) { m_chaos->setPresets(presets); }
    const QString &activeChaosId() const { return m_chaos->activeId(); }
    void setActiveChaosId(const QString &id) { m_chaos->setActiveId(id); }
    const QList<SchemaDriftRecord> &schemaDrifts() const { return m_drift->drifts(); }
    void setSchemaDrifts(const QList<SchemaDriftRecord> &drifts) { m_drift->setDrifts(drifts); }
    int unseenDrift() const { return m_drift->unseen(); }
    void setUnseenDrift(int count) { m_drift->setUnseen(count); }
    const AIStatus &aiStatus() const { return m_mocks->aiStatus(); }
    void setAiStatus(const AIStatus &status) { m_mocks->setAiStatus(status); }
    const AISetupProgress &aiSetup() const { return m_mocks->aiSetup(); }
    void setAiSetup(const AISetupProgress &progress) { m_mocks->setAiSetup(progress); }
    bool aiSetupActive() const { return m_mocks->aiSetupActive(); }
    void setAiSetupActive(bool active) { m_mocks->setAiSetupActive(active); }

    // Read by views; does not notify. Taken from "ks.proxyPort" and then from each health answer.
    int proxyPort() const { return m_channel->proxyPort(); }
    // Replaces the port the next boot asks for (the snapshot runner picks a free one).
    void setProxyPort(int port) { m_channel->setProxyPort(port); }
    // The control API's port while connected.
    std::optional<int> controlPort() const { return m_channel->controlPort(); }
    // The engine child's process id while one runs, else 0.
    qint64 engineProcessId() const { return m_channel->engineProcessId(); }

    // ---- Engine process ----
    void boot(bool autostartProxy);
    void shutdown();
    void startProxy();
    void stopProxy();
    // Stops the proxy and starts it again once the stop request has finished.
    void restartProxy();

    QString dataDirectory() const { return m_channel->dataDirectory(); }
    void setDataDirectory(const QString &path) { m_channel->setDataDirectory(path); }
    QString engineExecutable() const { return m_channel->engineExecutable(); }
    void setEngineExecutable(const QString &path) { m_channel->setEngineExecutable(path); }
    // Where usage events go; Analytics::shared() unless replaced (tests pass their own).
    void setAnalytics(Analytics *analytics);
    // Health poll interval and reply timeout (2 s each unless changed).
    void setHealthTiming(int intervalMs, int timeoutMs);
    // Every control request's time limit (tests shorten them).
    const ControlTimeouts &controlTimeouts() const { return m_channel->timeouts(); }
    void setControlTimeouts(const ControlTimeouts &timeouts) { m_channel->setTimeouts(timeouts); }
    // How long an edit waits before its list is pushed (PushDebounceMs unless changed; tests shorten it).
    int pushDebounceMs() const { return m_routes->pushDebounceMs(); }
    void setPushDebounceMs(int ms)
    {
        m_routes->setPushDebounceMs(ms);
        m_environments->setPushDebounceMs(ms);
    }
    // How long shutdown waits for the answers to the pushes it sends first (PendingPushWaitMs unless changed).
    int pendingPushWaitMs() const { return m_pendingPushWaitMs; }
    void setPendingPushWaitMs(int ms) { m_pendingPushWaitMs = ms; }
    // How long new traffic waits in the buffer and then stays marked fresh (TrafficFlushDelayMs and
    // FreshMs unless changed).
    int trafficFlushDelayMs() const { return m_trafficFeed->flushDelayMs(); }
    void setTrafficFlushDelayMs(int ms) { m_trafficFeed->setFlushDelayMs(ms); }
    int trafficFreshMs() const { return m_trafficFeed->freshMs(); }
    void setTrafficFreshMs(int ms) { m_trafficFeed->setFreshMs(ms); }

    void appendLog(const QString &line) { m_channel->appendLog(line); }
    // Log lines also go to standard error unless turned off (see EngineChannel).
    void setLogToStandardError(bool on) { m_channel->setLogToStandardError(on); }
    void ingestOutput(QByteArrayView chunk) { m_channel->ingestOutput(chunk); }
    void ingestEventStream(QByteArrayView chunk) { m_channel->ingestEventStream(chunk); }
    void handleEvent(std::string_view payload) { m_channel->handleEvent(payload); }

    // ---- Live traffic ----
    // done runs once the engine has answered the delete, or it failed or could not be sent.
    void clearTraffic(Done done = {});
    void replay(const QString &id);
    void fetchHistory(const QString &before, const QString &filter, int limit, QObject *context,
                      std::function<void(const std::vector<TrafficRecord> &)> done);
    // As fetchHistory, and says whether the page failed (no control port, no reply, or a body that
    // does not decode, whatever its status), which an empty page alone cannot tell.
    void fetchHistoryPage(const QString &before, const QString &filter, int limit, QObject *context,
                          std::function<void(const std::vector<TrafficRecord> &, bool failed)> done);
    void fetchRecord(const QString &id, QObject *context,
                     std::function<void(const std::optional<TrafficRecord> &)> done);
    // Moves buffered entries into `traffic`; runs trafficFlushDelayMs() after the first buffered entry.
    void flushTraffic();
    int pendingTrafficCount() const { return m_trafficFeed->pendingCount(); }

    // ---- Routes: while a project change is under way every write does nothing ----
    void loadRoutes(Done done = {}) { m_routes->load(std::move(done)); }
    void pushRoutes() { m_routes->push(); }
    // Intents: each changes the list and pushes it.
    void replaceEndpoints(const QList<Endpoint> &endpoints) { m_routes->replaceEndpoints(endpoints); }
    void updateEndpoint(Endpoint endpoint) { m_routes->updateEndpoint(std::move(endpoint)); }
    std::optional<QString> duplicateEndpoint(const QString &id) { return m_routes->duplicateEndpoint(id); }
    void toggleEndpoint(const QString &id) { m_routes->toggleEndpoint(id); }
    void deleteEndpoint(const QString &id) { m_routes->deleteEndpoint(id); }
    void setGroup(const QString &id, const QString &group) { m_routes->setGroup(id, group); }
    void renameGroup(const QString &oldName, const QString &newName) { m_routes->renameGroup(oldName, newName); }
    QStringList groupNames() const { return m_routes->groupNames(); }
    // The path imports read the file off the GUI thread under MaxImportBytes; a file that is too large or
    // not a regular file is refused in the import banner and the log, and nothing is sent.
    void importFile(const QString &path);
    // Pending route and environment pushes land first, as the engine merges the capture into its routes.
    void importData(const QByteArray &data, const QString &name, Done done = {});
    // True from pushRoutes() until the newest list has been answered or dropped.
    bool routePushPending() const { return m_routes->pushPending(); }
    // The routes edited since the list the engine is known to hold, while a push is pending (a quit names them).
    QStringList unsentRouteIds() const { return m_routes->unsentRouteIds(); }
    bool listWritesOpen() const { return m_gate->editsOpen(); }
    // True while a project operation, import or export runs or waits its turn.
    bool operationsUnderWay() const { return m_operations->busy(); }

    // ---- Projects ----
    void loadProjects(Done done = {}) { m_projects->load(std::move(done)); }
    // done gets the new project's id, or none on any failure; the project does not become active.
    void createProject(const QString &name, std::function<void(const std::optional<QString> &)> done = {});
    // Pending route and environment pushes reach the old project (after their debounce) before the switch.
    void activateProject(const QString &id);
    void renameProject(const QString &id, const QString &name) { m_projects->rename(id, name); }
    void duplicateProject(const QString &id);
    void deleteProject(const QString &id);
    // Reloads routes, chaos presets and environments, then empties traffic and drift findings.
    void reloadActiveProjectIntoUI(Done done = {});
    static QString projectPath(const QString &id, const QString &suffix = {}) { return ProjectStore::path(id, suffix); }

    // ---- Environments ----
    void loadEnvironments(Done done = {}) { m_environments->load(std::move(done)); }
    QList<EnvVar> activeEnvVars() const { return m_environments->activeEnvVars(); }
    void pushEnvironments() { m_environments->push(); }
    void postEnvironments(const EnvironmentSet &set) { m_environments->post(set); }
    void chooseEnvironment(const QString &id) { m_environments->chooseEnvironment(id); }
    void addEnvironment(const QString &name) { m_environments->addEnvironment(name); }
    void renameEnvironment(const QString &id, const QString &name) { m_environments->renameEnvironment(id, name); }
    void duplicateEnvironment(const QString &id) { m_environments->duplicateEnvironment(id); }
    void deleteEnvironment(const QString &id) { m_environments->deleteEnvironment(id); }
    void addVar(const QString &environmentId) { m_environments->addVar(environmentId); }
    void setVar(const QString &environmentId, const QString &varId, const std::optional<QString> &key,
                const std::optional<QString> &value) { m_environments->setVar(environmentId, varId, key, value); }
    void removeVar(const QString &environmentId, const QString &varId) { m_environments->removeVar(environmentId, varId); }
    bool environmentPushPending() const { return m_environments->pushPending(); }
    void afterEnvironmentPushSettles(Done done) { m_environments->afterPushSettles(std::move(done)); }

    // ---- Chaos presets ----
    void loadChaos(Done done = {}) { m_chaos->load(std::move(done)); }
    void setChaosPreset(const QString &id) { m_chaos->choose(id); }

    // ---- OpenAPI import ----
    void importOpenAPI(const QString &path);
    void performOpenAPIImport(const QByteArray &data, const QString &filename, Done done = {});

    // ---- Root CA ----
    void loadCA(Done done = {}) { m_ca->load(std::move(done)); }
    void refreshTrustFlag() { m_ca->refreshTrustFlag(); }
    void generateCA() { m_ca->generate(); }
    void performGenerateCA(Done done = {}) { m_ca->generate(std::move(done)); }
    void trustCAOnMac(Done done = {}) { m_ca->trust(std::move(done)); }
    static QStringList trustArguments(const QString &caPath) { return CertificateAuthority::trustArguments(caPath); }

    // ---- Profiles ----
    void exportProfile(const QString &path);
    // Pending route and environment pushes land first, so the profile holds the edits made before it.
    void performExport(const QString &path, Done done = {});
    void importProfile(const QString &path);
    void handleProfileImport(const std::optional<QByteArray> &data, const QString &name, Done done = {});
    // The export's "name" query value: the file name without its last extension.
    static QString profileExportName(const QString &fileName);

    // The message of an import refused for what its file is: too large or not a regular file ("" otherwise;
    // each import says in its own words that a file could not be read).
    static QString importRefusalMessage(const QString &fileName, BoundedReadFailure failure,
                                        qint64 maxBytes = MaxImportBytes);
    // Puts the refusal in the import banner and the log.
    void refuseImport(const QString &message);

    // ---- Schema drift ----
    void fetchSchema(QObject *context, std::function<void(const std::vector<SchemaBaseline> &)> done)
    {
        m_drift->fetch(context, std::move(done));
    }
    void relearnSchema(const std::optional<QString> &key, Done done = {}) { m_drift->relearn(key, std::move(done)); }
    void clearSchema(Done done = {}) { m_drift->clear(std::move(done)); }

    // ---- Mock generation and the local model ----
    using GeneratedBody = MockGenerator::GeneratedBody;
    static constexpr int MaxSetupPollFailures = MockGenerator::MaxSetupPollFailures;
    void generateMock(const std::optional<QString> &example, const std::optional<QString> &key, qint64 seed,
                      int count, QObject *context, std::function<void(const std::optional<QString> &)> done)
    {
        m_mocks->generateMock(example, key, seed, count, context, std::move(done));
    }
    void generateMockAI(const QString &prompt, const std::optional<QString> &example,
                        const std::optional<QString> &key, qint64 seed, int count, QObject *context,
                        std::function<void(const std::optional<GeneratedBody> &)> done)
    {
        m_mocks->generateMockAI(prompt, example, key, seed, count, context, std::move(done));
    }
    QNetworkReply *loadAIStatus(Done done = {}) { return m_mocks->loadAIStatus(std::move(done)); }
    void aiLifecycle(const QString &path) { m_mocks->aiLifecycle(path); }
    void setupAI() { m_mocks->setupAI(); }
    void setSetupPollInterval(int intervalMs) { m_mocks->setSetupPollInterval(intervalMs); }

private:
    int generalTimeout() const { return m_channel->timeouts().general; }
    int projectTimeout() const { return m_channel->timeouts().project; }
    // Reads a user-chosen file off the GUI thread under MaxImportBytes, as it may be large or on a slow
    // disk. deliver gets its bytes (none when it could not be read) and its file name on the GUI thread,
    // while this lives; a file too large or not regular is refused instead.
    void readFileOffThread(const QString &path, qint64 maxBytes,
                           std::function<void(const std::optional<QByteArray> &, const QString &)> deliver);
    // Calls done once the pending route and environment pushes have been answered (held ones landed)
    // and no hung engine is being replaced.
    void afterPendingPushes(Done done) { m_gate->afterSettles(std::move(done)); }
    // Runs a project operation, import or export once those asked before it have ended and the
    // edits made before it have reached the engine.
    void inTurn(OperationQueue::Kind kind, OperationQueue::Operation operation)
    {
        m_operations->enqueue(kind, std::move(operation));
    }
    // Ends the operation, then tells its caller.
    static Done endingWith(Done ended, Done then)
    {
        return [ended = std::move(ended), then = std::move(then)] {
            ended();
            if (then)
                then();
        };
    }

    // A request that may change the engine's state got no answer in time, so it may still be carried out
    // after anything sent later: the engine is ended and a new one booted before anything else is
    // written. `what` names the request for the log.
    void replaceHungEngine(const QString &what);
    // For a newly connected engine that replaces a hung one: learns its active project, lands the held
    // pushes in their own projects, then shows what the engine holds.
    void resyncAfterReplace();
    // A project request that, when it goes unanswered past its limit, has the engine replaced (the user
    // is told, naming it by `what`); `answered` gets the reply (none on failure), or `gaveUp` runs once
    // the new engine's state is shown.
    void changeRequest(const QString &what, const QString &path, const QByteArray &method,
                       const std::optional<QByteArray> &body,
                       std::function<void(const std::optional<QByteArray> &)> answered, Done gaveUp);
    // A message for the user, and the same line in the engine log.
    void tellUser(const QString &message);


public:
    // End of the block for projects, environments, chaos, imports, root CA, profiles, schema,
    // mock generation, local model.

    // ---- Control requests, shared by every group of operations (see EngineChannel) ----
    QNetworkReply *sendControl(const QByteArray &method, const QString &path, const QUrlQuery &query,
                               const std::optional<QByteArray> &jsonBody, int timeoutMs,
                               QObject *context, ReplyHandler handler,
                               const QByteArray &contentType = QByteArrayLiteral("application/json"))
    {
        return m_channel->sendControl(method, path, query, jsonBody, timeoutMs, context, std::move(handler),
                                      contentType);
    }
    void postControl(const QString &path, std::function<void(bool ok, const QString &why)> done)
    {
        m_channel->postControl(path, std::move(done));
    }
    void projectRequest(const QString &path, const QByteArray &method, const std::optional<QByteArray> &body,
                        std::function<void(const std::optional<QByteArray> &)> done)
    {
        m_channel->projectRequest(path, method, body, std::move(done));
    }
    void afterRoutePushSettles(Done done) { m_routes->afterPushSettles(std::move(done)); }
    void cancelRoutePush() { m_routes->cancelPush(); }
    // Ends every push's debounce and waits, at most waitMs, until the newest lists have been answered.
    void flushPendingPushes(int waitMs = PendingPushWaitMs);

    Analytics &analytics() const;
    QNetworkAccessManager *network() const { return m_channel->network(); }

signals:
    void statusChanged();
    void proxyRunningChanged();
    void engineReadyChanged();
    void healthChanged();
    void logChanged();
    void endpointsChanged();
    void routesLoadedChanged();
    // The engine took a pushed route list: its project's route count may have changed.
    void routePushLanded();
    void operationsUnderWayChanged();
    void projectsChanged();
    void activeProjectIDChanged();
    void isSwitchingProjectChanged();
    void importSummaryChanged();
    void environmentsChanged();
    void activeEnvIDChanged();
    void trafficChanged();
    // The entries [first, last] of `traffic` changed in place (only their `fresh` mark).
    void trafficEntriesChanged(int first, int last);
    // A flush appended `appended` entries at the end after dropping `removedFromFront` from the
    // front; sent just before trafficChanged() so list models can insert and remove rows.
    void trafficFlushed(int appended, int removedFromFront);
    // `traffic` was replaced whole (a clear or a project switch); sent just before trafficChanged().
    void trafficReset();
    // sessionRequestCount() or sessionInjectedCount() changed; sent before the traffic signals.
    void sessionCountsChanged();
    void caInfoChanged();
    void caTrustedOnMacChanged();
    void caTrustMessageChanged();
    void chaosPresetsChanged();
    void activeChaosIdChanged();
    void schemaDriftsChanged();
    void unseenDriftChanged();
    void aiStatusChanged();
    void aiSetupChanged();
    void aiSetupActiveChanged();
    // Any engine child process has exited (the current one or one being shut down).
    void engineExited(int exitCode);
    // Something the user must be told at once (a write the engine refused, an engine replaced).
    void notice(const QString &message);

private:
    // Starts the loads a newly connected engine owes the published state.
    void loadAfterConnect();
    void handleEngineEvent(const EngineEvent &event);
    void appendTraffic(TrafficEntry entry);
    using Step = std::function<void(Done)>;
    void runLoadChain(std::shared_ptr<const std::vector<Step>> steps, std::size_t index);
    void postImport(const QByteArray &data, const QString &name, Done done);
    // A capture import's answer, once read: the list shown and the log lines.
    void endPostImport(const QString &name, const QList<Endpoint> &before, RouteList::Decoded routes,
                       const ControlReply &reply, const Done &done);
    // After a capture or profile import: the engine's routes with the edits made meanwhile laid over
    // them (imported is none when the engine changed nothing), shown and pushed; `before` is the list
    // the import was sent from.
    void endImport(const QList<Endpoint> &before, const std::optional<QList<Endpoint>> &imported,
                   const ControlReply &reply);
    // The summary and log line of an OpenAPI import that failed.
    void reportOpenAPIFailure(const ControlReply &reply, const QString &filename);
    void requestExport(const QString &path, Done done);
    void postProfile(const QByteArray &data, const QString &name, Done done);
    void endPostProfile(const QString &name, const QList<Endpoint> &before, RouteList::Decoded routes,
                        const ControlReply &reply, const Done &done);

    EngineChannel *m_channel = nullptr;
    ProjectStore *m_projects = nullptr;
    PushGate *m_gate = nullptr;
    OperationQueue *m_operations = nullptr;
    bool m_shuttingDown = false;
    RouteList *m_routes = nullptr;
    EnvironmentStore *m_environments = nullptr;
    TrafficFeed *m_trafficFeed = nullptr;
    SchemaDrift *m_drift = nullptr;
    CertificateAuthority *m_ca = nullptr;
    ChaosPresets *m_chaos = nullptr;
    MockGenerator *m_mocks = nullptr;

    int m_pendingPushWaitMs = PendingPushWaitMs;

    // Published state
    std::optional<QString> m_importSummary;

    QPointer<Analytics> m_analytics;
};
