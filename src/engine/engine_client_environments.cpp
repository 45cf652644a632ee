// EngineClient: "{{key}}" environments, their local edits and the debounced push of the whole set.
#include "engine/engine_client.h"

#include <QNetworkReply>
#include <QTimer>

#include <algorithm>

namespace {

template <class List, class T>
auto findById(List &list, const T &id)
{
    return std::find_if(list.begin(), list.end(), [&](const auto &item) { return item.id == id; });
}

} // namespace

void EngineClient::loadEnvironments(Done done)
{
    projectRequest(QStringLiteral("/environments"), "GET", std::nullopt,
                   [this, done](const std::optional<QByteArray> &body) {
                       if (body) {
                           if (auto set = decodeRecord<EnvironmentSet>(asView(*body))) {
                               QList<MockEnvironment> list;
                               list.reserve(qsizetype(set->environments.size()));
                               for (const WireEnvironment &wire : set->environments)
                                   list.append(MockEnvironment::fromWire(wire));
                               applyLoadedEnvironments(list, QString::fromStdString(set->activeId));
                           }
                       }
                       if (done)
                           done();
                   });
}

void EngineClient::applyLoadedEnvironments(const QList<MockEnvironment> &environments, const QString &activeId)
{
    // A push still waiting carries the set it was made from, for the project it was made for.
    m_environments = environments;
    emit environmentsChanged();
    m_activeEnvID = activeId;
    emit activeEnvIDChanged();
}

QList<EnvVar> EngineClient::activeEnvVars() const
{
    const std::string active = m_activeEnvID.toStdString();
    const auto it = findById(m_environments, active);
    if (it == m_environments.end())
        return {};
    QList<EnvVar> vars;
    for (const EnvVar &var : it->vars)
        if (!var.key.empty())
            vars.append(var);
    return vars;
}

// ---- Debounced push ----

void EngineClient::pushEnvironments()
{
    if (!listWritesOpen())
        return;
    // The newest snapshot replaces a waiting one and cancels a post still in flight.
    ++m_envPushGeneration;
    abortInFlight(m_envPushReply);
    const std::vector<MockEnvironment> environments(m_environments.begin(), m_environments.end());
    m_envPushBody = QByteArray::fromStdString(
        encodeRecord(makeEnvironmentSet(environments, m_activeEnvID.toStdString())));
    m_envPushProject = m_activeProjectID;
    m_envPushWaiting = true;
    const int generation = m_envPushGeneration;
    QTimer::singleShot(PushDebounceMs, this, [this, generation] {
        if (generation == m_envPushGeneration && m_envPushWaiting)
            postEnvironmentPush();
    });
}

void EngineClient::postEnvironmentPush()
{
    m_envPushWaiting = false;
    if (!pushMayLand(m_envPushProject)) {
        finishEnvironmentPush();
        return;
    }
    const int generation = m_envPushGeneration;
    // The answer is not examined: a failed push is overtaken by the next push or load.
    m_envPushReply = sendControl("POST", QStringLiteral("/environments"), {}, m_envPushBody,
                                 projectTimeout(), this, [this, generation](const ControlReply &) {
                                     if (generation != m_envPushGeneration)
                                         return;
                                     m_envPushReply = nullptr;
                                     finishEnvironmentPush();
                                 });
    if (!m_envPushReply)
        finishEnvironmentPush();
}

void EngineClient::postEnvironments(const EnvironmentSet &set)
{
    if (!listWritesOpen() || !pushMayLand(m_activeProjectID))
        return;
    sendControl("POST", QStringLiteral("/environments"), {}, QByteArray::fromStdString(encodeRecord(set)),
                projectTimeout(), this, nullptr);
}

bool EngineClient::environmentPushPending() const
{
    return m_envPushWaiting || m_envPushReply;
}

void EngineClient::afterEnvironmentPushSettles(Done done)
{
    if (!done)
        return;
    if (!environmentPushPending()) {
        done();
        return;
    }
    m_envPushWaiters.push_back(std::move(done));
}

void EngineClient::finishEnvironmentPush()
{
    if (environmentPushPending())
        return;
    std::vector<Done> waiters;
    waiters.swap(m_envPushWaiters);
    for (Done &waiter : waiters)
        waiter();
}

QNetworkReply *EngineClient::sendPendingEnvironmentPushNow()
{
    if (m_envPushWaiting)
        postEnvironmentPush();
    return m_envPushReply.data();
}

// ---- Local edits ----

void EngineClient::addEnvironment(const QString &name)
{
    if (!listWritesOpen())
        return;
    MockEnvironment environment;
    environment.id = makeEnvironmentId();
    environment.name = name.toStdString();
    m_environments.append(environment);
    emit environmentsChanged();
    setActiveEnvID(QString::fromStdString(environment.id));
    pushEnvironments();
}

void EngineClient::renameEnvironment(const QString &id, const QString &name)
{
    if (!listWritesOpen())
        return;
    const auto it = findById(m_environments, id.toStdString());
    if (it == m_environments.end())
        return;
    it->name = name.toStdString();
    emit environmentsChanged();
    pushEnvironments();
}

void EngineClient::duplicateEnvironment(const QString &id)
{
    if (!listWritesOpen())
        return;
    const auto it = findById(m_environments, id.toStdString());
    if (it == m_environments.end())
        return;
    MockEnvironment copy = *it;
    copy.id = makeEnvironmentId();
    copy.name += " copy";
    for (EnvVar &var : copy.vars)
        var.id = makeUuidText();
    m_environments.append(copy);
    emit environmentsChanged();
    pushEnvironments();
}

void EngineClient::deleteEnvironment(const QString &id)
{
    if (!listWritesOpen())
        return;
    const std::string key = id.toStdString();
    m_environments.removeIf([&](const MockEnvironment &e) { return e.id == key; });
    // Observers hear of every write to the list, also one that found nothing to remove.
    emit environmentsChanged();
    if (m_activeEnvID == id)
        setActiveEnvID(QString());
    pushEnvironments();
}

void EngineClient::addVar(const QString &environmentId)
{
    if (!listWritesOpen())
        return;
    const auto it = findById(m_environments, environmentId.toStdString());
    if (it == m_environments.end())
        return;
    it->vars.push_back(EnvVar{makeUuidText(), {}, {}});
    emit environmentsChanged();
    pushEnvironments();
}

void EngineClient::setVar(const QString &environmentId, const QString &varId, const std::optional<QString> &key,
                          const std::optional<QString> &value)
{
    if (!listWritesOpen())
        return;
    const auto environment = findById(m_environments, environmentId.toStdString());
    if (environment == m_environments.end())
        return;
    const auto var = findById(environment->vars, varId.toStdString());
    if (var == environment->vars.end())
        return;
    if (key)
        var->key = key->toStdString();
    if (value)
        var->value = value->toStdString();
    emit environmentsChanged();
    pushEnvironments();
}

void EngineClient::removeVar(const QString &environmentId, const QString &varId)
{
    if (!listWritesOpen())
        return;
    const auto environment = findById(m_environments, environmentId.toStdString());
    if (environment == m_environments.end())
        return;
    const std::string key = varId.toStdString();
    std::erase_if(environment->vars, [&](const EnvVar &var) { return var.id == key; });
    emit environmentsChanged();
    pushEnvironments();
}
