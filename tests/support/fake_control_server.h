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
    bool hold = false; // no answer until release() (a hung engine, or an open event stream)
    bool cutMidBody = false; // the head promises the whole body; half of it comes, then the connection drops
    int cutBodyAt = -1; // when set, the head and only this many body bytes come, then the connection drops

    // No answer until release().
    static CannedReply held()
    {
        CannedReply reply;
        reply.hold = true;
        return reply;
    }
    // 200 with this JSON body.
    static CannedReply ok(const QByteArray &body)
    {
        CannedReply reply;
        reply.body = body;
        return reply;
    }
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

    // Answers a request that the responder held; false when it was not held or its socket is gone.
    // Lets a test decide the order in which replies arrive, without timing.
    bool release(qsizetype requestIndex, const CannedReply &reply)
    {
        const QPointer<QTcpSocket> socket = m_held.take(requestIndex);
        if (!socket)
            return false;
        write(socket, reply, requestIndex);
        return true;
    }

    // Index of the last request whose method and path match; -1 when none.
    qsizetype lastIndexOf(const QByteArray &method, const QByteArray &path) const
    {
        for (qsizetype i = m_requests.size() - 1; i >= 0; --i)
            if (m_requests[i].method == method && m_requests[i].path() == path)
                return i;
        return -1;
    }

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
            QPointer<QTcpSocket> guard(socket);
            if (reply.hold) {
                m_held.insert(index, guard);
                return;
            }
            auto answer = [this, guard, reply, index] { write(guard, reply, index); };
            if (reply.delayMs > 0)
                QTimer::singleShot(reply.delayMs, this, answer);
            else
                answer();
        });
    }

    void write(const QPointer<QTcpSocket> &socket, const CannedReply &reply, qsizetype index)
    {
        if (!socket)
            return;
        QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + " Status\r\n";
        out += "Content-Type: " + reply.contentType + "\r\n";
        out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        const bool cut = reply.cutMidBody || reply.cutBodyAt >= 0;
        const qsizetype sent = reply.cutBodyAt >= 0 ? reply.cutBodyAt : reply.body.size() / 2;
        out += "Connection: close\r\n\r\n" + (cut ? reply.body.left(sent) : reply.body);
        socket->write(out);
        if (cut) {
            socket->flush();
            socket->abort();
        }
        else
            socket->disconnectFromHost();
        m_requests[index].answeredMs = m_clock.elapsed();
    }

    QTcpServer m_server;
    QMap<qsizetype, QPointer<QTcpSocket>> m_held;
    QElapsedTimer m_clock;
    Responder m_responder;
    QList<RecordedRequest> m_requests;
};
