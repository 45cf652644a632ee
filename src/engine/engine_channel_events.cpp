// EngineChannel: the health poll and the event stream, and the events the channel applies itself.
#include "engine/engine_channel.h"

#include "engine/engine_output.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

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

void EngineChannel::startHealthPolling()
{
    ++m_healthGeneration;
    m_healthTimer.stop();
    abortInFlight(m_healthReply);
    pollHealth();
}

void EngineChannel::pollHealth()
{
    const int generation = m_healthGeneration;
    QNetworkReply *reply = sendControl(
        "GET", QStringLiteral("health"), {}, std::nullopt, m_timeouts.health, this,
        [this, generation](const ControlReply &reply) {
            if (generation != m_healthGeneration)
                return; // polling was stopped or restarted meanwhile
            m_healthReply = nullptr;
            // The status code is not looked at: a body that decodes is a good answer.
            std::optional<EngineHealth> decoded;
            if (!reply.transportFailed())
                decoded = decodeRecord<EngineHealth>(asView(reply.body));
            if (decoded) {
                // Before the signals, so what they repaint shows the port just learnt.
                m_proxyPort = decoded->proxyPort;
                setHealth(decoded);
                setProxyRunning(decoded->proxyRunning);
                m_healthMisses = 0;
                setStatus(EngineStatus::healthy());
            } else if (++m_healthMisses == 3) {
                setStatus(EngineStatus::error(QStringLiteral("engine not responding")));
                appendLog(QStringLiteral("engine not responding \u2014 3 missed health checks"));
            }
            m_healthTimer.start(m_timeouts.healthInterval);
        });
    m_healthReply = reply;
    if (!reply)
        m_healthTimer.start(m_timeouts.healthInterval);
}

void EngineChannel::startEventStream()
{
    const int generation = ++m_eventsGeneration;
    if (QNetworkReply *old = m_eventsReply.data()) {
        m_eventsReply = nullptr;
        old->abort();
    }
    m_eventReader.clear();
    if (!m_controlPort)
        return;

    QNetworkRequest request = controlRequest(controlUrl(QStringLiteral("events"), {}));
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

void EngineChannel::ingestEventStream(QByteArrayView chunk)
{
    const int generation = m_eventsGeneration;
    m_eventReader.feed(chunk, [this, generation](QByteArrayView line) {
        if (generation != m_eventsGeneration || !line.startsWith("data:"))
            return;
        const QByteArrayView payload = trimmedBlanks(line.sliced(5));
        handleEvent(std::string_view(payload.data(), std::size_t(payload.size())));
    });
}

void EngineChannel::handleEvent(std::string_view payload)
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
    } else {
        emit eventArrived(*event);
    }

    // Applied after the type's effect, so the health record has the last word on the proxy flag.
    if (event->health) {
        setHealth(event->health);
        setProxyRunning(event->health->proxyRunning);
    }
}
