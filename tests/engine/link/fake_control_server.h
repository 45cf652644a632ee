// A recording loopback HTTP server that answers as each test says, standing in for the control API.
#pragma once

// It shows the exact requests the engine link sends (order, timing, headers, bodies), which the
// stand-in engine can't.

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

struct RecordedRequest
{
    QByteArray method;
    QByteArray target; // path and query as sent
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    qint64 receivedMs = 0;
    qint64 answeredMs = -1; // when the answer was written; -1 while held or delayed

    QByteArray path() const { return target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?')); }
};

struct CannedReply
{
    int status = 200;
    QByteArray body = "{}";
    QByteArray contentType = "application/json";
    int delayMs = 0;
    bool hold = false; // never answer (a hung engine, or an open event stream)
    int cutBodyAt = -1; // when set, the head and only this many body bytes are sent, then the connection drops
};

class FakeControlServer final : public QObject
{
public:
    using Responder = std::function<CannedReply(const RecordedRequest &)>;

    FakeControlServer()
    {
        m_clock.start();
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                serve(socket);
        });
        m_server.listen(QHostAddress::LocalHost, 0);
    }

    int port() const { return m_server.serverPort(); }
    void setResponder(Responder responder) { m_responder = std::move(responder); }
    const QList<RecordedRequest> &requests() const { return m_requests; }
    qint64 elapsed() const { return m_clock.elapsed(); }

    // Requests whose method and path (without query) match.
    QList<RecordedRequest> matching(const QByteArray &method, const QByteArray &path) const
    {
        QList<RecordedRequest> found;
        for (const RecordedRequest &request : m_requests)
            if (request.method == method && request.path() == path)
                found.append(request);
        return found;
    }

private:
    void serve(QTcpSocket *socket)
    {
        auto *buffer = new QByteArray;
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [socket, buffer] {
            delete buffer;
            socket->deleteLater();
        });
        QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            const qsizetype headEnd = buffer->indexOf("\r\n\r\n");
            if (headEnd < 0)
                return;
            RecordedRequest request;
            const QList<QByteArray> lines = buffer->left(headEnd).split('\n');
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            request.method = first.value(0);
            request.target = first.value(1);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                if (colon > 0)
                    request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                           lines[i].mid(colon + 1).trimmed());
            }
            const int length = request.headers.value("content-length", "0").toInt();
            if (buffer->size() < headEnd + 4 + length)
                return;
            request.body = buffer->mid(headEnd + 4, length);
            buffer->clear();
            request.receivedMs = m_clock.elapsed();
            const int index = int(m_requests.size());
            m_requests.append(request);

            const CannedReply reply = m_responder ? m_responder(request) : CannedReply{};
            if (reply.hold)
                return;
            QPointer<QTcpSocket> guard(socket);
            auto answer = [this, guard, reply, index] {
                if (!guard)
                    return;
                QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + " Status\r\n";
                out += "Content-Type: " + reply.contentType + "\r\n";
                out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
                out += "Connection: close\r\n\r\n";
                out += reply.cutBodyAt >= 0 ? reply.body.left(reply.cutBodyAt) : reply.body;
                guard->write(out);
                guard->disconnectFromHost();
                m_requests[index].answeredMs = m_clock.elapsed();
            };
            if (reply.delayMs > 0)
                QTimer::singleShot(reply.delayMs, this, answer);
            else
                answer();
        });
    }

    QTcpServer m_server;
    QElapsedTimer m_clock;
    Responder m_responder;
    QList<RecordedRequest> m_requests;
};
