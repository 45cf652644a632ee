// EnvironmentStore: the "{{key}}" environments, the active one, their local edits and the debounced push.
#pragma once

#include "engine/ordered_push.h"
#include "engine/records/engine_records.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class EngineChannel;
class PushGate;

// Every edit and push passes the push gate, as route edits do.
class EnvironmentStore final : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void()>;
    static constexpr int PushDebounceMs = 150;

    EnvironmentStore(EngineChannel *channel, PushGate *gate, QObject *parent = nullptr);

    const QList<MockEnvironment> &environments() const { return m_environments; }
    void setEnvironments(const QList<MockEnvironment> &environments);
    const QString &activeEnvID() const { return m_activeEnvID; }
    void setActiveEnvID(const QString &id);
    // The active environment's variables with a non-empty key.
    QList<EnvVar> activeEnvVars() const;

    void load(Done done = {});
    // Replaces the set with a load's answer, past the gate; a waiting push keeps the set it was made from.
    void applyLoaded(const QList<MockEnvironment> &environments, const QString &activeId);

    // ---- Intents: each changes the set and pushes it ----
    // Makes the environment with this id active ("" for none).
    void chooseEnvironment(const QString &id);
    void addEnvironment(const QString &name);
    void renameEnvironment(const QString &id, const QString &name);
    void duplicateEnvironment(const QString &id);
    void deleteEnvironment(const QString &id);
    void addVar(const QString &environmentId);
    void setVar(const QString &environmentId, const QString &varId, const std::optional<QString> &key,
                const std::optional<QString> &value);
    void removeVar(const QString &environmentId, const QString &varId);

    // ---- The debounced push of the whole set (see OrderedPush) ----
    int pushDebounceMs() const { return m_writes->debounceMs(); }
    void setPushDebounceMs(int ms) { m_writes->setDebounceMs(ms); }
    void push();
    // Sends the set without a debounce, still behind the set on the wire.
    void post(const EnvironmentSet &set);
    bool pushPending() const { return m_writes->pending(); }
    void afterPushSettles(Done done) { m_writes->afterSettles(std::move(done)); }
    void cancelPush() { m_writes->cancel(); }

signals:
    void environmentsChanged();
    void activeEnvIDChanged();

private:
    EngineChannel *m_channel;
    PushGate *m_gate;
    QList<MockEnvironment> m_environments;
    QString m_activeEnvID;
    OrderedPush *m_writes;
};
