// EngineClient: the engine's chaos presets and the choice of the active one.
#include "engine/engine_client.h"

void EngineClient::loadChaos(Done done)
{
    QNetworkReply *reply = sendControl(
        "GET", QStringLiteral("chaos"), {}, std::nullopt, DefaultTimeoutMs, this,
        [this, done](const ControlReply &reply) {
            // An error status with a valid body is still the engine's state.
            if (!reply.transportFailed()) {
                if (auto state = decodeRecord<ChaosState>(asView(reply.body))) {
                    setChaosPresets(QList<ChaosPreset>(state->presets.begin(), state->presets.end()));
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
    // Shown at once; the reload after the request shows what the engine really holds.
    setActiveChaosId(next);

    sendControl("POST", QStringLiteral("chaos/active"), literalQuery(QStringLiteral("id"), next), std::nullopt,
                DefaultTimeoutMs, this,
                [this, next](const ControlReply &) {
                    loadChaos([this, next] {
                        appendLog(next.isEmpty() ? QStringLiteral("\u2022 chaos off")
                                                 : QStringLiteral("\u2022 chaos: ") + next);
                    });
                });
}
