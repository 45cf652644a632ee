// EngineClient: request and drift events, and the live traffic requests (clear, replay, history, records).
#include "engine/engine_client.h"

#include "platform/analytics.h"
#include "platform/background_work.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>


void EngineClient::handleEngineEvent(const EngineEvent &event)
{
    if (event.type == "request") {
        if (event.request)
            appendTraffic(TrafficEntry::fromEvent(*event.request));
    } else if (event.type == "schema_drift") {
        if (event.drift)
            m_drift->record(SchemaDriftRecord::fromEvent(*event.drift, event.time), event.drift->breaking);
    }
}

// ---- Live traffic buffer ----

void EngineClient::appendTraffic(TrafficEntry entry)
{
    if (entry.injected)
        analytics().track(QStringLiteral("first_mock_hit"), true);
    m_trafficFeed->append(std::move(entry));
}

void EngineClient::flushTraffic()
{
    m_trafficFeed->flush();
}

void EngineClient::clearTraffic(Done done)
{
    m_trafficFeed->reset();
    QNetworkReply *reply = sendControl("DELETE", QStringLiteral("traffic"), {}, std::nullopt, generalTimeout(), this,
                                       [done](const ControlReply &) {
                                           if (done)
                                               done();
                                       });
    if (!reply && done)
        done();
}

void EngineClient::replay(const QString &id)
{
    // Logged once the request has finished, whatever its outcome: a replay the engine could not send
    // shows up (or not) in the live traffic.
    sendControl("POST", QStringLiteral("replay/") + id, {}, std::nullopt, generalTimeout(), this,
                [this, id](const ControlReply &) { appendLog(QStringLiteral("\u2022 replayed ") + id); });
}

void EngineClient::fetchHistory(const QString &before, const QString &filter, int limit,
                                QObject *context,
                                std::function<void(const std::vector<TrafficRecord> &)> done)
{
    fetchHistoryPage(before, filter, limit, context,
                     [done](const std::vector<TrafficRecord> &records, bool) {
                         if (done)
                             done(records);
                     });
}

void EngineClient::fetchHistoryPage(const QString &before, const QString &filter, int limit, QObject *context,
                                    std::function<void(const std::vector<TrafficRecord> &, bool failed)> done)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("limit"), QString::number(limit));
    if (!before.isEmpty())
        EngineChannel::addLiteralQueryItem(query, QStringLiteral("before"), before);
    if (!filter.isEmpty())
        EngineChannel::addLiteralQueryItem(query, QStringLiteral("filter"), filter);
    QNetworkReply *reply = sendControl(
        "GET", QStringLiteral("traffic"), query, std::nullopt, generalTimeout(), context,
        [done](const ControlReply &reply) {
            // The body is read whatever the status: an engine may answer a page with an error status.
            std::optional<std::vector<TrafficRecord>> records;
            if (!reply.transportFailed())
                records = decodeRecord<std::vector<TrafficRecord>>(EngineChannel::asView(reply.body));
            if (done)
                done(records.value_or(std::vector<TrafficRecord>{}), !records.has_value());
        });
    if (!reply && done)
        done({}, true);
}

void EngineClient::fetchRecord(const QString &id, QObject *context,
                               std::function<void(const std::optional<TrafficRecord> &)> done)
{
    QPointer<QObject> guard(context);
    const bool tied = context != nullptr;
    QNetworkReply *reply = sendControl(
        "GET", QStringLiteral("traffic/") + id, {}, std::nullopt, generalTimeout(), context,
        [this, done, guard, tied](const ControlReply &reply) {
            if (reply.transportFailed() || reply.body.size() < OffThreadDecodeBytes) {
                std::optional<TrafficRecord> record;
                if (!reply.transportFailed())
                    record = decodeRecord<TrafficRecord>(EngineChannel::asView(reply.body));
                if (done)
                    done(record);
                return;
            }
            // A record with large bodies is decoded on a worker, so the window keeps answering; the answer
            // goes only to a context (and a link) still alive.
            QPointer<EngineClient> self(this);
            BackgroundWork::run(
                tied ? guard.data() : this,
                [body = reply.body] { return decodeRecord<TrafficRecord>(EngineChannel::asView(body)); },
                [done, self](std::optional<TrafficRecord> record) {
                    if (done && self)
                        done(record);
                });
        });
    if (!reply && done)
        done(std::nullopt);
}
