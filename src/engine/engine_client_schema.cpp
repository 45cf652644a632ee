// EngineClient: learned response schemas and drift findings (fetch, relearn, clear).
#include "engine/engine_client.h"

#include <QPointer>

namespace {

std::string_view asView(const QByteArray &bytes)
{
    return std::string_view(bytes.constData(), std::size_t(bytes.size()));
}

} // namespace

void EngineClient::fetchSchema(QObject *context,
                               std::function<void(const std::vector<SchemaBaseline> &)> done)
{
    QPointer<QObject> guard(context);
    const bool tied = context != nullptr;
    auto finish = [guard, tied, done](const std::vector<SchemaBaseline> &baselines) {
        if (done && (!tied || guard))
            done(baselines);
    };
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
