// A control reply whose body is cut short by a dropped connection is a transport failure, not an answer.
#include "engine/engine_client.h"
#include "support/test_support.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace {

// Answers every request with a status line and a body that stops after `sent` of `promised` bytes.
class CuttingServer final : public QObject
{
public:
    CuttingServer(QByteArray status, int promised, QByteArray sent)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this, status, promised, sent] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket, status, promised, sent] {
                    socket->readAll();
                    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: "
                                  + QByteArray::number(promised) + "\r\n\r\n" + sent);
                    socket->flush();
                    socket->disconnectFromHost();
                });
            }
        });
    }
    int port() const { return m_server.serverPort(); }

private:
    QTcpServer m_server;
};

std::optional<ControlReply> ask(EngineClient &client)
{
    std::optional<ControlReply> answer;
    client.sendControl("POST", QStringLiteral("mock/generate"), {}, QByteArray("{}"), 5000, nullptr,
                       [&answer](const ControlReply &reply) { answer = reply; });
    testsupport::waitFor([&] { return answer.has_value(); });
    return answer;
}

} // namespace

TEST(CutReply, BodyCutShortIsATransportFailure)
{
    CuttingServer server("200 OK", 400, R"({"id":)");
    EngineClient client;
    client.ingestOutput("KESTRION_CONTROL_PORT=" + QByteArray::number(server.port()) + "\n");
    const std::optional<ControlReply> reply = ask(client);
    ASSERT_TRUE(reply.has_value());
    EXPECT_TRUE(reply->transportFailed());
    EXPECT_FALSE(reply->isSuccess());
    EXPECT_FALSE(reply->error.isEmpty());
}

TEST(CutReply, WholeErrorAnswerKeepsItsStatus)
{
    CuttingServer server("422 Unprocessable", 9, R"({"e":"x"})");
    EngineClient client;
    client.ingestOutput("KESTRION_CONTROL_PORT=" + QByteArray::number(server.port()) + "\n");
    const std::optional<ControlReply> reply = ask(client);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->httpStatus, 422);
    EXPECT_EQ(reply->body, R"({"e":"x"})");
}
