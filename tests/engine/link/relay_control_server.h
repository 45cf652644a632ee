// A loopback control server that hands each request on to a real engine, holding back the ones a test names.
#pragma once

// It lets a test stop the real stand-in engine's answers at one chosen point (a project switch
// held open, say) and records every request in the order it came, with when it was answered.

#include "support/fake_control_server.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <functional>

class RelayControlServer final : public QObject
{
public:
    using Hold = std::function<bool(const RecordedRequest &)>;

    explicit RelayControlServer(int enginePort)
        : m_enginePort(enginePort)
    {
        m_network.setProxy(QNetworkProxy::NoProxy);
        m_server.setResponder([this](const RecordedRequest &request) {
            const qsizetype index = m_server.requests().size() - 1;
            // The event stream never ends, so it is never relayed.
            if (request.path() != "/events") {
                if (m_hold && m_hold(request))
                    m_held.append(index);
                else
                    QMetaObject::invokeMethod(this, [this, index] { forward(index); }, Qt::QueuedConnection);
            }
            return CannedReply::held();
        });
    }

    int port() const { return m_server.port(); }
    const FakeControlServer &recorded() const { return m_server; }

    // Requests for which hold answers true wait until releaseHeld().
    void holdWhen(Hold hold) { m_hold = std::move(hold); }
    int heldCount() const { return int(m_held.size()); }

    // Stops holding and relays every request held so far.
    void releaseHeld()
    {
        m_hold = nullptr;
        const QList<qsizetype> held = std::exchange(m_held, {});
        for (qsizetype index : held)
            forward(index);
    }

    int count(const QByteArray &method, const QByteArray &path) const
    {
        return int(m_server.matching(method, path).size());
    }

private:
    void forward(qsizetype index)
    {
        const RecordedRequest request = m_server.requests().at(index);
        QNetworkRequest outgoing(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_enginePort)
                                      + QString::fromLatin1(request.target)));
        for (const QByteArray name : {"content-type", "x-kestrion-token"}) {
            if (request.headers.contains(name))
                outgoing.setRawHeader(name, request.headers.value(name));
        }
        QNetworkReply *reply = m_network.sendCustomRequest(outgoing, request.method, request.body);
        connect(reply, &QNetworkReply::finished, this, [this, reply, index] {
            reply->deleteLater();
            CannedReply answer;
            answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            answer.body = reply->readAll();
            answer.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
            if (answer.contentType.isEmpty())
                answer.contentType = "application/json";
            if (answer.status == 0)
                answer.status = 502;
            m_server.release(index, answer);
        });
    }

    int m_enginePort = 0;
    FakeControlServer m_server;
    QNetworkAccessManager m_network;
    Hold m_hold;
    QList<qsizetype> m_held;
};
