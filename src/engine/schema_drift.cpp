// SchemaDrift: findings arrive by event and by fetch; a clear or a project switch starts a new epoch.
#include "engine/schema_drift.h"

#include "engine/engine_channel.h"

#include <QNetworkReply>

#include <unordered_set>

SchemaDrift::SchemaDrift(EngineChannel *channel, QObject *parent)
    : QObject(parent)
    , m_channel(channel)
{
}

void SchemaDrift::setDrifts(const QList<SchemaDriftRecord> &drifts)
{
    m_drifts = drifts;
    emit driftsChanged();
}

void SchemaDrift::setUnseen(int count)
{
    m_unseen = count;
    emit unseenChanged();
}

void SchemaDrift::record(SchemaDriftRecord record, int breaking)
{
    const QString key = QString::fromStdString(record.key);
    ++m_eventSerial;
    m_drifts.prepend(std::move(record));
    if (m_drifts.size() > MaxDrifts)
        m_drifts.resize(MaxDrifts);
    emit driftsChanged();
    setUnseen(m_unseen + 1);
    m_channel->appendLog(QStringLiteral("\u26A0\uFE0E schema drift ") + key + QStringLiteral(" \u2014 ")
              + QString::number(breaking) + QStringLiteral(" breaking"));
}

void SchemaDrift::forget()
{
    ++m_epoch;
    setDrifts({});
    setUnseen(0);
}

void SchemaDrift::fetch(QObject *context,
                               std::function<void(const std::vector<SchemaBaseline> &)> done)
{
    const auto finish = EngineChannel::whileContextLives(context, std::move(done));
    const int epoch = m_epoch;
    const qint64 serial = m_eventSerial;
    QNetworkReply *reply = m_channel->sendControl(
        "GET", QStringLiteral("schema"), {}, std::nullopt, m_channel->timeouts().general, this,
        [this, finish, epoch, serial](const ControlReply &reply) {
            const auto snapshot = reply.transportFailed() ? std::nullopt
                                                          : decodeRecord<SchemaSnapshot>(EngineChannel::asView(reply.body));
            if (!snapshot) {
                finish({});
                return;
            }
            // Findings cleared (or left behind by a project switch) after this fetch started stay cleared.
            if (epoch == m_epoch) {
                // Findings that arrived by event while the fetch was in flight lead the engine's list,
                // once each: the reply may or may not hold them already.
                std::unordered_set<std::string> ids;
                for (const SchemaDriftRecord &drift : snapshot->drifts)
                    ids.insert(drift.trafficId);
                const qsizetype arrived = qsizetype(std::min<qint64>(m_eventSerial - serial, m_drifts.size()));
                QList<SchemaDriftRecord> merged;
                for (qsizetype i = 0; i < arrived; ++i)
                    if (ids.insert(m_drifts[i].trafficId).second)
                        merged.append(m_drifts[i]);
                // The full list as the engine holds it; the live stream's cap does not apply here.
                merged.append(QList<SchemaDriftRecord>(snapshot->drifts.begin(), snapshot->drifts.end()));
                setDrifts(merged);
            }
            finish(snapshot->baselines);
        });
    if (!reply)
        finish({});
}

void SchemaDrift::relearn(const std::optional<QString> &key, Done done)
{
    // No key asks for every baseline: the query then reads "key=", which the engine takes as all of them.
    const QUrlQuery query = EngineChannel::literalQuery(QStringLiteral("key"), key.value_or(QString()));
    const QString line = key ? QStringLiteral("\u2022 relearning ") + *key
                             : QStringLiteral("\u2022 relearning all baselines");
    // Logged whatever the answer: the schema screen reloads to show the outcome.
    QNetworkReply *reply = m_channel->sendControl("POST", QStringLiteral("schema/relearn"), query, std::nullopt,
                                       m_channel->timeouts().general, this, [this, line, done](const ControlReply &) {
                                           m_channel->appendLog(line);
                                           if (done)
                                               done();
                                       });
    if (!reply && done)
        done();
}

void SchemaDrift::clear(Done done)
{
    forget();
    QNetworkReply *reply = m_channel->sendControl("DELETE", QStringLiteral("schema"), {}, std::nullopt, m_channel->timeouts().general, this,
                                       [done](const ControlReply &) {
                                           if (done)
                                               done();
                                       });
    if (!reply && done)
        done();
}
