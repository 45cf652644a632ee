// EngineClient: learned response schemas and drift findings (fetch, relearn, clear).
#include "engine/engine_client.h"

#include <unordered_set>

void EngineClient::fetchSchema(QObject *context,
                               std::function<void(const std::vector<SchemaBaseline> &)> done)
{
    const auto finish = whileContextLives(context, std::move(done));
    const int epoch = m_schemaEpoch;
    const qint64 serial = m_driftEventSerial;
    QNetworkReply *reply = sendControl(
        "GET", QStringLiteral("schema"), {}, std::nullopt, generalTimeout(), this,
        [this, finish, epoch, serial](const ControlReply &reply) {
            const auto snapshot = reply.transportFailed() ? std::nullopt
                                                          : decodeRecord<SchemaSnapshot>(asView(reply.body));
            if (!snapshot) {
                finish({});
                return;
            }
            // Findings cleared (or left behind by a project switch) after this fetch started stay cleared.
            if (epoch == m_schemaEpoch) {
                // Findings that arrived by event while the fetch was in flight lead the engine's list,
                // once each: the reply may or may not hold them already.
                std::unordered_set<std::string> ids;
                for (const SchemaDriftRecord &drift : snapshot->drifts)
                    ids.insert(drift.trafficId);
                const qsizetype arrived = qsizetype(std::min<qint64>(m_driftEventSerial - serial, m_schemaDrifts.size()));
                QList<SchemaDriftRecord> merged;
                for (qsizetype i = 0; i < arrived; ++i)
                    if (ids.insert(m_schemaDrifts[i].trafficId).second)
                        merged.append(m_schemaDrifts[i]);
                // The full list as the engine holds it; the live stream's cap does not apply here.
                merged.append(QList<SchemaDriftRecord>(snapshot->drifts.begin(), snapshot->drifts.end()));
                setSchemaDrifts(merged);
            }
            finish(snapshot->baselines);
        });
    if (!reply)
        finish({});
}

void EngineClient::relearnSchema(const std::optional<QString> &key, Done done)
{
    // No key asks for every baseline: the query then reads "key=".
    const QUrlQuery query = literalQuery(QStringLiteral("key"), key.value_or(QString()));
    const QString line = key ? QStringLiteral("\u2022 relearning ") + *key
                             : QStringLiteral("\u2022 relearning all baselines");
    // Logged whatever the answer: the schema screen reloads to show the outcome.
    QNetworkReply *reply = sendControl("POST", QStringLiteral("schema/relearn"), query, std::nullopt,
                                       generalTimeout(), this, [this, line, done](const ControlReply &) {
                                           appendLog(line);
                                           if (done)
                                               done();
                                       });
    if (!reply && done)
        done();
}

void EngineClient::clearSchema(Done done)
{
    ++m_schemaEpoch;
    setSchemaDrifts({});
    setUnseenDrift(0);
    QNetworkReply *reply = sendControl("DELETE", QStringLiteral("schema"), {}, std::nullopt, generalTimeout(), this,
                                       [done](const ControlReply &) {
                                           if (done)
                                               done();
                                       });
    if (!reply && done)
        done();
}
