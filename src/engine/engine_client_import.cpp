// EngineClient: capture import; the engine merges the capture into the active project's routes.
#include "engine/engine_client.h"

#include "platform/analytics.h"
#include "engine/engine_output.h"

#include <QNetworkReply>

#include <algorithm>

// ---- Capture import ----

void EngineClient::importFile(const QString &path)
{
    readFileOffThread(path, [this](const std::optional<QByteArray> &data, const QString &name) {
        if (data)
            importData(*data, name);
        else
            appendLog(QStringLiteral("import: could not read ") + name);
    });
}

void EngineClient::importData(const QByteArray &data, const QString &name, Done done)
{
    // The engine merges the capture into the routes it holds, so edits still waiting reach it first.
    afterPendingPushes([this, data, name, done] { postImport(data, name, done); });
}

void EngineClient::postImport(const QByteArray &data, const QString &name, Done done)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("format"), QStringLiteral("auto"));
    QNetworkReply *reply = sendControl(
        "POST", QStringLiteral("import"), query, data, generalTimeout(), this,
        [this, name, done](const ControlReply &reply) {
            if (reply.transportFailed()) {
                appendLog(QStringLiteral("import ") + name + QStringLiteral(": request failed"));
            } else if (auto routes = reply.isSuccess()
                                         ? decodeRecord<std::vector<WireRoute>>(EngineChannel::asView(reply.body))
                                         : std::nullopt) {
                // A push made while the import was under way was made from the list it replaces.
                m_routes->dropWaitingPush();
                m_routes->applyLoaded(RouteList::fromWire(*routes));
                appendLog(QStringLiteral("imported ") + QString::number(routes->size())
                          + QStringLiteral(" routes from ") + name);
                analytics().track(QStringLiteral("import_completed"), false);
            } else {
                // A body cut inside a UTF-8 sequence is not text either.
                const QString text = decodeUtf8Line(reply.body).value_or(QStringLiteral("unknown error"));
                appendLog(QStringLiteral("import ") + name + QStringLiteral(" failed: ") + text);
            }
            if (done)
                done();
        });
    if (!reply && done)
        done();
}
