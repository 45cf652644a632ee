// The app talks to the engine through Qt's network stack; its request shapes must be answered at once.
#include "standin-engine/engine_process.h"

#include "support/test_support.h"

#include "engine/records/engine_records.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using standintest::EngineProcess;

namespace {

struct Answer {
    int status = 0;
    QByteArray body;
    qint64 elapsedMs = 0;
};

Answer finish(QNetworkReply *reply)
{
    QElapsedTimer timer;
    timer.start();
    const bool done = testsupport::waitFor([reply] { return reply->isFinished(); }, 4000);
    Answer answer;
    answer.elapsedMs = timer.elapsed();
    if (done) {
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer.body = reply->readAll();
    }
    reply->deleteLater();
    return answer;
}

} // namespace

TEST(QtClient, EmptyPostsDeletesAndPatchesAreAnsweredAtOnce)
{
    QTemporaryDir dir;
    EngineProcess engine(dir.path());
    ASSERT_TRUE(engine.start());
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(engine.controlPort());
    const auto request = [&](const QString &path, bool json = false) {
        QNetworkRequest r(QUrl(base + path));
        r.setRawHeader("X-Kestrion-Token", QByteArray::fromStdString(engine.controlToken()));
        if (json)
            r.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        return r;
    };

    const Answer generated = finish(network.post(request("ca/generate"), QByteArray()));
    EXPECT_EQ(generated.status, 200);
    EXPECT_LT(generated.elapsedMs, 2000);
    EXPECT_TRUE(decodeRecord<CAInfo>(generated.body.toStdString()));

    const Answer created = finish(network.post(request("projects", true), QByteArray(R"({"name":"Qt"})")));
    const auto project = decodeRecord<Project>(created.body.toStdString());
    ASSERT_TRUE(project) << created.body.toStdString();
    const QString encodedId = QString::fromUtf8(QUrl::toPercentEncoding(QString::fromStdString(project->id)));

    const Answer renamed = finish(
        network.sendCustomRequest(request("projects/" + encodedId, true), "PATCH", QByteArray(R"({"name":"Qt 2"})")));
    EXPECT_EQ(renamed.status, 200);
    const Answer activated = finish(network.post(request("projects/" + encodedId + "/activate"), QByteArray()));
    EXPECT_EQ(activated.status, 200);
    EXPECT_LT(activated.elapsedMs, 2000);
    const Answer removed = finish(network.deleteResource(request("projects/" + encodedId)));
    EXPECT_EQ(removed.status, 200);
    EXPECT_TRUE(decodeRecord<ProjectList>(removed.body.toStdString()));
    EXPECT_EQ(finish(network.deleteResource(request("traffic"))).status / 100, 2);
    EXPECT_EQ(finish(network.post(request("control/stop"), QByteArray())).status, 200);
}
