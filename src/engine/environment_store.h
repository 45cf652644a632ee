// EnvironmentStore: the "{{key}}" environments, the active one, their local edits and the debounced push.
#pragma once

#include "engine/records/engine_records.h"
#include "engine/settle_waiters.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class EngineChannel;
class ProjectStore;
class QNetworkReply;

// Every write passes the project gate, as route writes do.
class EnvironmentStore final : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void()>;
    static constexpr int PushDebounceMs = 150;

    EnvironmentStore(EngineChannel *channel, const ProjectStore *projects, QObject *parent = nullptr);

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

    // ---- The debounced push of the whole set ----
    int pushDebounceMs() const { return m_pushDebounceMs; }
    void setPushDebounceMs(int ms) { m_pushDebounceMs = ms; }
    void push();
    void post(const EnvironmentSet &set);
    bool pushPending() const;
    void afterPushSettles(Done done);
    QNetworkReply *sendPendingPushNow();
    void cancelPush();
    void dropWaitingPushOf(const QString &project);

    // As RouteList: a push that comes due while a change of the active project is under way is held
    // with the project it was made for.
    bool hasHeldPush() const { return m_heldBody.has_value(); }
    const QString &heldPushProject() const { return m_heldProject; }
    void holdWaitingPush();
    void postHeldPush(Done sent = {});
    void dropHeldPush();

signals:
    void environmentsChanged();
    void activeEnvIDChanged();

private:
    void postWaitingPush();
    // sent runs once the post has been answered, failed or been overtaken by a newer push.
    void send(const QByteArray &body, Done sent = {});
    void finishPush();

    EngineChannel *m_channel;
    const ProjectStore *m_projects;
    QList<MockEnvironment> m_environments;
    QString m_activeEnvID;

    QByteArray m_pushBody;
    QString m_pushProject;
    std::optional<QByteArray> m_heldBody;
    QString m_heldProject;
    bool m_pushWaiting = false;
    int m_pushDebounceMs = PushDebounceMs;
    QPointer<QNetworkReply> m_pushReply;
    int m_pushGeneration = 0;
    SettleWaiters m_pushWaiters;
};
