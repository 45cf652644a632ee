// EngineClient: learned response schemas and drift findings (fetch, relearn, clear).
#include "engine/engine_client.h"

void EngineClient::fetchSchema(QObject *context,
                               std::function<void(const std::vector<SchemaBaseline> &)> done)
{
    const auto finish = whileContextLives(context, std::move(done));
    QNetworkReply *reply = sendControl(
        "GET", QStringLiteral("schema"), {}, std::nullopt, DefaultTimeoutMs, this,
        [this, finish](const ControlReply &reply) {
            const auto snapshot = reply.transportFailed() ? std::nullopt
                                                          : decodeRecord<SchemaSnapshot>(asView(reply.body));
            if (!snapshot) {
                finish({});
                return;
            }
            // The full list as the engine holds it; the live stream's cap does not apply here.
            setSchemaDrifts(QList<SchemaDriftRecord>(snapshot->drifts.begin(), snapshot->drifts.end()));
            finish(snapshot->baselines);
        });
    if (!reply)
        finish({});
}

void EngineClient::relearnSchema(const std::optional<QString> &key)
{
    // No key asks for every baseline: the query then reads "key=".
    const QUrlQuery query = literalQuery(QStringLiteral("key"), key.value_or(QString()));
    const QString line = key ? QStringLiteral("\u2022 relearning ") + *key
                             : QStringLiteral("\u2022 relearning all baselines");
    // Logged whatever the answer: the schema screen reloads to show the outcome.
    sendControl("POST", QStringLiteral("schema/relearn"), query, std::nullopt, DefaultTimeoutMs, this,
                [this, line](const ControlReply &) { appendLog(line); });
}

void EngineClient::clearSchema()
{
    setSchemaDrifts({});
    setUnseenDrift(0);
    sendControl("DELETE", QStringLiteral("schema"), {}, std::nullopt, DefaultTimeoutMs, this, nullptr);
}
