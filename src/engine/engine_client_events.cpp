// EngineClient: health polling, the event stream and the live traffic buffer with its requests.
#include "engine/engine_client.h"

#include "platform/analytics.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>

#include <algorithm>

namespace {

QByteArrayView trimmedBlanks(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

} // namespace

// ---- Health ----

void EngineClient::startHealthPolling()
{
    ++m_healthGeneration;
    m_healthTimer.stop();
    abortInFlight(m_healthReply);
    pollHealth();
}

void EngineClient::pollHealth()
{
    const int generation = m_healthGeneration;
    QNetworkReply *reply = sendControl(
        "GET", QStringLiteral("health"), {}, std::nullopt, m_healthTimeoutMs, this,
        [this, generation](const ControlReply &reply) {
            if (generation != m_healthGeneration)
                return; // polling was stopped or restarted meanwhile
            m_healthReply = nullptr;
            // The status code is not looked at: a body that decodes is a good answer.
            std::optional<EngineHealth> decoded;
            if (!reply.transportFailed())
                decoded = decodeRecord<EngineHealth>(asView(reply.body));
            if (decoded) {
                setHealth(decoded);
                setProxyRunning(decoded->proxyRunning);
                m_proxyPort = decoded->proxyPort;
                m_healthMisses = 0;
                setStatus(EngineStatus::healthy());
            } else if (++m_healthMisses == 3) {
                setStatus(EngineStatus::error(QStringLiteral("engine not responding")));
                appendLog(QStringLiteral("engine not responding \u2014 3 missed health checks"));
            }
            m_healthTimer.start(m_healthIntervalMs);
        });
    m_healthReply = reply;
    if (!reply)
        m_healthTimer.start(m_healthIntervalMs);
}

// ---- Event stream ----

void EngineClient::startEventStream()
{
    const int generation = ++m_eventsGeneration;
    if (QNetworkReply *old = m_eventsReply.data()) {
        m_eventsReply = nullptr;
        old->abort();
    }
    m_eventReader.clear();
    if (!m_controlPort)
        return;

    QNetworkRequest request(controlUrl(QStringLiteral("events"), {}));
    request.setTransferTimeout(0);
    QNetworkReply *reply = m_network->get(request);
    m_eventsReply = reply;
    connect(reply, &QNetworkReply::readyRead, this, [this, reply, generation] {
        if (generation == m_eventsGeneration)
            ingestEventStream(reply->readAll());
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, generation] {
        // The stream is over (closed, failed or cancelled); it is not reopened from here.
        if (generation == m_eventsGeneration) {
            if (reply->isOpen())
                ingestEventStream(reply->readAll());
            const QByteArray rest = m_eventReader.takeRemainder();
            if (!rest.isEmpty())
                ingestEventStream(rest + '\n');
            m_eventsReply = nullptr;
        }
        reply->deleteLater();
    });
}

void EngineClient::ingestEventStream(QByteArrayView chunk)
{
    const int generation = m_eventsGeneration;
    m_eventReader.feed(chunk, [this, generation](QByteArrayView line) {
        if (generation != m_eventsGeneration || !line.startsWith("data:"))
            return;
        const QByteArrayView payload = trimmedBlanks(line.sliced(5));
        handleEvent(std::string_view(payload.data(), std::size_t(payload.size())));
    });
}

void EngineClient::handleEvent(std::string_view payload)
{
    std::optional<EngineEvent> event = decodeRecord<EngineEvent>(payload);
    if (!event)
        return;

    const std::string &type = event->type;
    if (type == "proxy_started") {
        setProxyRunning(true);
        appendLog(QStringLiteral("\u2022 proxy started"));
    } else if (type == "proxy_stopped") {
        setProxyRunning(false);
        appendLog(QStringLiteral("\u2022 proxy stopped"));
    } else if (type == "hello") {
        appendLog(QStringLiteral("\u2022 events connected"));
    } else if (type == "request") {
        if (event->request)
            appendTraffic(TrafficEntry::fromEvent(*event->request));
    } else if (type == "schema_drift") {
        if (event->drift)
            recordDrift(SchemaDriftRecord::fromEvent(*event->drift, event->time), event->drift->breaking);
    }

    // Applied after the type's effect, so the health record has the last word on the proxy flag.
    if (event->health) {
        setHealth(event->health);
        setProxyRunning(event->health->proxyRunning);
    }
}

void EngineClient::recordDrift(SchemaDriftRecord record, int breaking)
{
    const QString key = QString::fromStdString(record.key);
    ++m_driftEventSerial;
    m_schemaDrifts.prepend(std::move(record));
    if (m_schemaDrifts.size() > MaxDrifts)
        m_schemaDrifts.resize(MaxDrifts);
    emit schemaDriftsChanged();
    setUnseenDrift(m_unseenDrift + 1);
    appendLog(QStringLiteral("\u26A0\uFE0E schema drift ") + key + QStringLiteral(" \u2014 ")
              + QString::number(breaking) + QStringLiteral(" breaking"));
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
    QNetworkReply *reply = sendControl("DELETE", QStringLiteral("traffic"), {}, std::nullopt, DefaultTimeoutMs, this,
                                       [done](const ControlReply &) {
                                           if (done)
                                               done();
                                       });
    if (!reply && done)
        done();
}

void EngineClient::replay(const QString &id)
{
    sendControl("POST", QStringLiteral("replay/") + id, {}, std::nullopt, DefaultTimeoutMs, this,
                [this, id](const ControlReply &reply) {
                    if (reply.isSuccess()) {
                        appendLog(QStringLiteral("\u2022 replayed ") + id);
                        return;
                    }
                    // A record the engine no longer holds answers 404: say so rather than "replayed".
                    const QString reason = reply.transportFailed()
                                               ? reply.error
                                               : QStringLiteral("HTTP ") + QString::number(reply.httpStatus);
                    appendLog(QStringLiteral("replay failed: ") + id + QStringLiteral(" \u2014 ") + reason);
                });
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
        addLiteralQueryItem(query, QStringLiteral("before"), before);
    if (!filter.isEmpty())
        addLiteralQueryItem(query, QStringLiteral("filter"), filter);
    QNetworkReply *reply = sendControl(
        "GET", QStringLiteral("traffic"), query, std::nullopt, DefaultTimeoutMs, context,
        [done](const ControlReply &reply) {
            std::optional<std::vector<TrafficRecord>> records;
            if (reply.isSuccess())
                records = decodeRecord<std::vector<TrafficRecord>>(asView(reply.body));
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
        "GET", QStringLiteral("traffic/") + id, {}, std::nullopt, DefaultTimeoutMs, context,
        [this, done, guard, tied](const ControlReply &reply) {
            if (reply.transportFailed() || reply.body.size() < OffThreadDecodeBytes) {
                std::optional<TrafficRecord> record;
                if (!reply.transportFailed())
                    record = decodeRecord<TrafficRecord>(asView(reply.body));
                if (done)
                    done(record);
                return;
            }
            // A record with large bodies is decoded on a worker, so the window keeps answering.
            auto record = std::make_shared<std::optional<TrafficRecord>>();
            const QByteArray body = reply.body;
            QThread *worker = QThread::create([body, record] { *record = decodeRecord<TrafficRecord>(asView(body)); });
            connect(worker, &QThread::finished, this, [done, guard, tied, record] {
                if (done && (!tied || guard))
                    done(*record);
            });
            connect(worker, &QThread::finished, worker, &QObject::deleteLater);
            worker->start();
        });
    if (!reply && done)
        done(std::nullopt);
}
