// EnvironmentStore: local edits to the environments, one debounced post of the whole set after a burst.
#include "engine/environment_store.h"

#include "engine/engine_channel.h"
#include "engine/project_store.h"
#include "engine/push_gate.h"

#include <algorithm>
#include <utility>

namespace {

template <class List, class T>
auto findById(List &list, const T &id)
{
    return std::find_if(list.begin(), list.end(), [&](const auto &item) { return item.id == id; });
}

} // namespace

EnvironmentStore::EnvironmentStore(EngineChannel *channel, PushGate *gate, QObject *parent)
    : QObject(parent)
    , m_channel(channel)
    , m_gate(gate)
    , m_writes(new OrderedPush(channel, gate, PushGate::Kind::environments, QStringLiteral("/environments"), this))
{
    m_writes->setDebounceMs(PushDebounceMs);
}

void EnvironmentStore::setEnvironments(const QList<MockEnvironment> &environments)
{
    if (!m_gate->editsOpen())
        return;
    m_environments = environments;
    emit environmentsChanged();
}

void EnvironmentStore::setActiveEnvID(const QString &id)
{
    if (!m_gate->editsOpen())
        return;
    m_activeEnvID = id;
    emit activeEnvIDChanged();
}

void EnvironmentStore::applyLoaded(const QList<MockEnvironment> &environments, const QString &activeId)
{
    m_environments = environments;
    emit environmentsChanged();
    m_activeEnvID = activeId;
    emit activeEnvIDChanged();
}

void EnvironmentStore::chooseEnvironment(const QString &id)
{
    if (!m_gate->editsOpen())
        return;
    setActiveEnvID(id);
    push();
}

void EnvironmentStore::load(Done done)
{
    m_channel->projectRequest(QStringLiteral("/environments"), "GET", std::nullopt,
                   [this, done](const std::optional<QByteArray> &body) {
                       if (body) {
                           if (auto set = decodeRecord<EnvironmentSet>(EngineChannel::asView(*body))) {
                               QList<MockEnvironment> list;
                               list.reserve(qsizetype(set->environments.size()));
                               for (const WireEnvironment &wire : set->environments)
                                   list.append(MockEnvironment::fromWire(wire));
                               applyLoaded(list, QString::fromStdString(set->activeId));
                           }
                       }
                       if (done)
                           done();
                   });
}

QList<EnvVar> EnvironmentStore::activeEnvVars() const
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

void EnvironmentStore::push()
{
    if (!m_gate->editsOpen())
        return;
    // Taken now: a load during the debounce must not change what this push sends.
    const std::vector<MockEnvironment> environments(m_environments.begin(), m_environments.end());
    const QByteArray body = QByteArray::fromStdString(
        encodeRecord(makeEnvironmentSet(environments, m_activeEnvID.toStdString())));
    m_writes->schedule([body] { return body; });
}

void EnvironmentStore::post(const EnvironmentSet &set)
{
    if (!m_gate->editsOpen())
        return;
    m_writes->submit(QByteArray::fromStdString(encodeRecord(set)));
}

void EnvironmentStore::addEnvironment(const QString &name)
{
    if (!m_gate->editsOpen())
        return;
    MockEnvironment environment;
    environment.id = makeEnvironmentId();
    environment.name = name.toStdString();
    m_environments.append(environment);
    emit environmentsChanged();
    setActiveEnvID(QString::fromStdString(environment.id));
    push();
}

void EnvironmentStore::renameEnvironment(const QString &id, const QString &name)
{
    if (!m_gate->editsOpen())
        return;
    const auto it = findById(m_environments, id.toStdString());
    if (it == m_environments.end())
        return;
    it->name = name.toStdString();
    emit environmentsChanged();
    push();
}

void EnvironmentStore::duplicateEnvironment(const QString &id)
{
    if (!m_gate->editsOpen())
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
    push();
}

void EnvironmentStore::deleteEnvironment(const QString &id)
{
    if (!m_gate->editsOpen())
        return;
    const std::string key = id.toStdString();
    m_environments.removeIf([&](const MockEnvironment &e) { return e.id == key; });
    // Observers hear of every write to the list, also one that found nothing to remove.
    emit environmentsChanged();
    if (m_activeEnvID == id)
        setActiveEnvID(QString());
    push();
}

void EnvironmentStore::addVar(const QString &environmentId)
{
    if (!m_gate->editsOpen())
        return;
    const auto it = findById(m_environments, environmentId.toStdString());
    if (it == m_environments.end())
        return;
    it->vars.push_back(EnvVar{makeUuidText(), {}, {}});
    emit environmentsChanged();
    push();
}

void EnvironmentStore::setVar(const QString &environmentId, const QString &varId, const std::optional<QString> &key,
                          const std::optional<QString> &value)
{
    if (!m_gate->editsOpen())
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
    push();
}

void EnvironmentStore::removeVar(const QString &environmentId, const QString &varId)
{
    if (!m_gate->editsOpen())
        return;
    const auto environment = findById(m_environments, environmentId.toStdString());
    if (environment == m_environments.end())
        return;
    const std::string key = varId.toStdString();
    std::erase_if(environment->vars, [&](const EnvVar &var) { return var.id == key; });
    emit environmentsChanged();
    push();
}
