// EngineClient: the engine's chaos presets and the choice of the active one.
#include "engine/engine_client.h"

#include <QNetworkReply>

void EngineClient::loadChaos(Done done)
{
    const int choicesAtRequest = m_chaosChoices;
    QNetworkReply *reply = sendControl(
        "GET", QStringLiteral("chaos"), {}, std::nullopt, generalTimeout(), this,
        [this, done, choicesAtRequest](const ControlReply &reply) {
            // An error status with a valid body is still the engine's state.
            if (!reply.transportFailed()) {
                if (auto state = decodeRecord<ChaosState>(asView(reply.body))) {
                    setChaosPresets(QList<ChaosPreset>(state->presets.begin(), state->presets.end()));
                    // A choice made since this was asked is newer than the answer.
                    if (choicesAtRequest == m_chaosChoices && !m_chaosReply)
                        setActiveChaosId(QString::fromStdString(state->activeId));
                }
            }
            if (done)
                done();
        });
    if (!reply && done)
        done();
}

void EngineClient::setChaosPreset(const QString &id)
{
    const QString next = id == m_activeChaosId ? QString() : id;
    // Shown at once; the reload after the requests shows what the engine really holds.
    setActiveChaosId(next);
    ++m_chaosChoices;
    if (!controlPort())
        return;
    // Parallel posts could be applied in any order; queued, the last tap is the one that stays.
    m_chaosQueue.push_back(next);
    if (!m_chaosReply)
        sendNextChaosChoice();
}

void EngineClient::sendNextChaosChoice()
{
    if (m_chaosQueue.empty())
        return;
    const QString id = m_chaosQueue.front();
    m_chaosQueue.pop_front();
    m_chaosReply = sendControl(
        "POST", QStringLiteral("chaos/active"), literalQuery(QStringLiteral("id"), id), std::nullopt,
        generalTimeout(), this, [this, id](const ControlReply &) {
            m_chaosReply = nullptr;
            const QString line = id.isEmpty() ? QStringLiteral("\u2022 chaos off") : QStringLiteral("\u2022 chaos: ") + id;
            if (!m_chaosQueue.empty()) {
                appendLog(line);
                sendNextChaosChoice();
                return;
            }
            loadChaos([this, line] { appendLog(line); });
        });
    if (!m_chaosReply)
        m_chaosQueue.clear();
}
