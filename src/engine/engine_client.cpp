// EngineClient: composes the engine link's areas, forwards their signals, loads after connecting, reads files.
#include "engine/engine_client.h"

#include "engine/engine_output.h"
#include "platform/analytics.h"
#include "platform/background_work.h"
#include "platform/bounded_file.h"
#include "platform/preferences.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstring>


EngineClient::EngineClient(QObject *parent)
    : QObject(parent)
{
    m_channel = new EngineChannel(this);
    connect(m_channel, &EngineChannel::statusChanged, this, &EngineClient::statusChanged);
    connect(m_channel, &EngineChannel::proxyRunningChanged, this, &EngineClient::proxyRunningChanged);
    connect(m_channel, &EngineChannel::engineReadyChanged, this, &EngineClient::engineReadyChanged);
    connect(m_channel, &EngineChannel::healthChanged, this, &EngineClient::healthChanged);
    connect(m_channel, &EngineChannel::logChanged, this, &EngineClient::logChanged);
    connect(m_channel, &EngineChannel::engineExited, this, &EngineClient::engineExited);
    connect(m_channel, &EngineChannel::connected, this, &EngineClient::loadAfterConnect);
    connect(m_channel, &EngineChannel::eventArrived, this, &EngineClient::handleEngineEvent);
    connect(m_channel, &EngineChannel::proxyStarted, this,
            [this] { analytics().track(QStringLiteral("proxy_started"), true); });

    m_projects = new ProjectStore(m_channel, this);
    connect(m_projects, &ProjectStore::projectsChanged, this, &EngineClient::projectsChanged);
    connect(m_projects, &ProjectStore::activeProjectIDChanged, this, &EngineClient::activeProjectIDChanged);
    connect(m_projects, &ProjectStore::isSwitchingProjectChanged, this, &EngineClient::isSwitchingProjectChanged);
    m_gate = new PushGate(m_channel, m_projects, this);
    connect(m_gate, &PushGate::gaveUp, this, &EngineClient::replaceHungEngine);
    connect(m_gate, &PushGate::refused, this, [this](const QString &what, const QString &reason) {
        tellUser(QStringLiteral("The engine refused to save the ") + what + QStringLiteral(": ") + reason);
    });
    connect(m_gate, &PushGate::lost, this, [this](const QString &why) {
        tellUser(QStringLiteral("Edits not yet saved were dropped: ") + why);
    });
    m_operations = new OperationQueue([this](Done go) { afterPendingPushes(std::move(go)); }, this);
    connect(m_operations, &OperationQueue::switchingChanged, this,
            [this] { m_projects->setIsSwitchingProject(m_operations->switching()); });
    connect(m_operations, &OperationQueue::busyChanged, this, &EngineClient::operationsUnderWayChanged);
    m_routes = new RouteList(m_channel, m_gate, this);
    connect(m_routes, &RouteList::endpointsChanged, this, &EngineClient::endpointsChanged);
    connect(m_routes, &RouteList::routesLoadedChanged, this, &EngineClient::routesLoadedChanged);
    connect(m_routes, &RouteList::pushLanded, this, &EngineClient::routePushLanded);
    connect(m_channel, &EngineChannel::disconnected, m_routes, [this] { m_routes->setRoutesLoaded(false); });
    m_environments = new EnvironmentStore(m_channel, m_gate, this);
    connect(m_environments, &EnvironmentStore::environmentsChanged, this, &EngineClient::environmentsChanged);
    connect(m_environments, &EnvironmentStore::activeEnvIDChanged, this, &EngineClient::activeEnvIDChanged);

    m_drift = new SchemaDrift(m_channel, this);
    connect(m_drift, &SchemaDrift::driftsChanged, this, &EngineClient::schemaDriftsChanged);
    connect(m_drift, &SchemaDrift::unseenChanged, this, &EngineClient::unseenDriftChanged);

    m_ca = new CertificateAuthority(m_channel, this);
    connect(m_ca, &CertificateAuthority::infoChanged, this, &EngineClient::caInfoChanged);
    connect(m_ca, &CertificateAuthority::trustedOnMacChanged, this, &EngineClient::caTrustedOnMacChanged);
    connect(m_ca, &CertificateAuthority::trustMessageChanged, this, &EngineClient::caTrustMessageChanged);
    connect(m_ca, &CertificateAuthority::trusted, this, [this] { analytics().track(QStringLiteral("ca_trusted"), true); });

    m_chaos = new ChaosPresets(m_channel, this);
    connect(m_chaos, &ChaosPresets::presetsChanged, this, &EngineClient::chaosPresetsChanged);
    connect(m_chaos, &ChaosPresets::activeIdChanged, this, &EngineClient::activeChaosIdChanged);
    m_mocks = new MockGenerator(m_channel, this);
    connect(m_mocks, &MockGenerator::aiStatusChanged, this, &EngineClient::aiStatusChanged);
    connect(m_mocks, &MockGenerator::aiSetupChanged, this, &EngineClient::aiSetupChanged);
    connect(m_mocks, &MockGenerator::aiSetupActiveChanged, this, &EngineClient::aiSetupActiveChanged);

    m_trafficFeed = new TrafficFeed(this);
    connect(m_trafficFeed, &TrafficFeed::trafficChanged, this, &EngineClient::trafficChanged);
    connect(m_trafficFeed, &TrafficFeed::entriesChanged, this, &EngineClient::trafficEntriesChanged);
    connect(m_trafficFeed, &TrafficFeed::flushed, this, &EngineClient::trafficFlushed);
    connect(m_trafficFeed, &TrafficFeed::wasReset, this, &EngineClient::trafficReset);
    connect(m_trafficFeed, &TrafficFeed::sessionCountsChanged, this, &EngineClient::sessionCountsChanged);

    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &EngineClient::shutdown);
}

EngineClient::~EngineClient() = default;

// ---- Published state ----

void EngineClient::setImportSummary(const std::optional<QString> &summary)
{
    m_importSummary = summary;
    emit importSummaryChanged();
}

void EngineClient::setTraffic(const QList<TrafficEntry> &traffic)
{
    m_trafficFeed->reset(traffic);
}

// ---- Configuration ----

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
    ControlTimeouts timeouts = m_channel->timeouts();
    timeouts.healthInterval = intervalMs;
    timeouts.health = timeoutMs;
    m_channel->setTimeouts(timeouts);
}

// ---- Engine process ----

void EngineClient::boot(bool autostartProxy)
{
    m_shuttingDown = false;
    m_operations->resume();
    m_channel->boot(autostartProxy);
}

void EngineClient::loadAfterConnect()
{
    if (m_gate->recovering()) {
        resyncAfterReplace();
        return;
    }
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

void EngineClient::shutdown()
{
    // From here an engine that does not answer is left as it is: the quit neither waits for it nor
    // launches another, and nothing asked for but not started goes out.
    const QDeadlineTimer quit(controlTimeouts().quit);
    m_shuttingDown = true;
    m_operations->stop();
    // Edits still owed to the engine reach it before it goes, those held for an answer still to come
    // (an OpenAPI upload, a switch, an import) included, within what is left of the quit's time once
    // the engine has been asked to stop.
    if (controlPort() || m_gate->recovering()) {
        m_gate->endDebounces();
        const int wait = int(std::max<qint64>(0, quit.remainingTime() - controlTimeouts().shutdown - EngineExitMs));
        m_gate->flush(m_gate->heldForAnAnswer() ? wait : std::min(m_pendingPushWaitMs, wait));
    }
    const QStringList unsent = m_routes->unsentRouteIds();
    if (!unsent.isEmpty())
        appendLog(QStringLiteral("quit before the engine took the edits to routes ") + unsent.join(QStringLiteral(", ")));
    if (m_environments->pushPending())
        appendLog(QStringLiteral("quit before the engine took the edits to environments"));
    m_routes->cancelPush();
    m_environments->cancelPush();
    m_channel->shutdown(quit);
}

void EngineClient::startProxy()
{
    m_channel->startProxy();
}

void EngineClient::stopProxy()
{
    m_channel->stopProxyThen({});
}

void EngineClient::restartProxy()
{
    m_channel->stopProxyThen([this] { startProxy(); });
}


void EngineClient::flushPendingPushes(int waitMs)
{
    m_gate->flush(waitMs);
}

// ---- Files chosen by the user ----

void EngineClient::readFileOffThread(const QString &path, qint64 maxBytes,
                                     std::function<void(const std::optional<QByteArray> &, const QString &)> deliver)
{
    const QString name = QFileInfo(path).fileName();
    BackgroundWork::run(
        this, [path, maxBytes] { return readBoundedFile(path, maxBytes); },
        [this, name, maxBytes, deliver = std::move(deliver)](BoundedRead read) {
            if (read.failure == BoundedReadFailure::none)
                deliver(std::move(read.data), name);
            else if (read.failure == BoundedReadFailure::unreadable)
                deliver(std::nullopt, name);
            else
                refuseImport(importRefusalMessage(name, read.failure, maxBytes));
        });
}

QString EngineClient::importRefusalMessage(const QString &fileName, BoundedReadFailure failure, qint64 maxBytes)
{
    const QString lead = QStringLiteral("Couldn't import ") + fileName + QStringLiteral(" \u2014 ");
    switch (failure) {
    case BoundedReadFailure::none:
    case BoundedReadFailure::unreadable:
        return {};
    case BoundedReadFailure::notRegularFile:
        return lead + QStringLiteral("it is not a regular file");
    case BoundedReadFailure::tooLarge:
        return lead + QStringLiteral("it is larger than the ") + QString::number(maxBytes / (1024 * 1024))
               + QStringLiteral(" MB import limit");
    }
    return {};
}

void EngineClient::refuseImport(const QString &message)
{
    appendLog(QStringLiteral("import: ") + message);
    setImportSummary(message);
}
