// EngineClient: the replacement of an engine that stopped answering, without losing an edit on the way.
#include "engine/engine_client.h"

void EngineClient::tellUser(const QString &message)
{
    appendLog(message);
    emit notice(message);
}

void EngineClient::replaceHungEngine(const QString &what)
{
    if (m_gate->recovering())
        return;
    if (m_shuttingDown) {
        appendLog(QStringLiteral("control ") + what + QStringLiteral(": no answer in time"));
        return;
    }
    if (engineProcessId() == 0) {
        appendLog(QStringLiteral("control ") + what + QStringLiteral(": no answer in time"));
        m_gate->landHeld([](bool) {});
        return;
    }
    // From here every due push is held; the new engine gets them once its active project is known.
    m_gate->beginRecovery();
    tellUser(QStringLiteral("The engine did not answer the ") + what
             + QStringLiteral(" in time and is being restarted; your edits are kept"));
    m_channel->replaceEngine([this](bool launched) {
        if (launched)
            return;
        m_gate->endRecovery();
        // Without an engine the held edits have nowhere to go; the launch failure is in the log.
        m_gate->landHeld([](bool) {});
        tellUser(QStringLiteral("The engine could not be restarted"));
    });
}

void EngineClient::resyncAfterReplace()
{
    // Pushes stay held until the engine's lists are shown again.
    m_gate->beginResync();
    m_gate->endRecovery();
    loadProjects([this] {
        m_gate->landHeld([this](bool switched) {
            // The lists shown are replaced by the engine's, which now hold every edit landed above.
            m_gate->closeEdits();
            const Done shown = [this] {
                m_gate->reopenEdits();
                loadCA();
                loadAIStatus();
                m_gate->endResync();
            };
            if (switched)
                loadProjects([this, shown] { reloadActiveProjectIntoUI(shown); });
            else
                reloadActiveProjectIntoUI(shown);
        });
    });
}

void EngineClient::changeRequest(const QString &what, const QString &path, const QByteArray &method,
                                 const std::optional<QByteArray> &body,
                                 std::function<void(const std::optional<QByteArray> &)> answered, Done gaveUp)
{
    m_channel->projectRequest(path, method, body,
                              [this, what, answered, gaveUp](const std::optional<QByteArray> &reply, bool timedOut) {
                                  if (!timedOut) {
                                      answered(reply);
                                      return;
                                  }
                                  replaceHungEngine(what);
                                  afterPendingPushes(gaveUp);
                              });
}
