// EngineClient: capture import; the engine merges the capture into the active project's routes.
#include "engine/engine_client.h"

#include "platform/analytics.h"
#include "engine/engine_output.h"
#include "engine/import_summary_logic.h"

#include <QNetworkReply>

#include <algorithm>

// ---- Capture import ----

void EngineClient::importFile(const QString &path)
{
    readFileOffThread(path, MaxImportBytes, [this](const std::optional<QByteArray> &data, const QString &name) {
        if (data)
            importData(*data, name);
        else
            appendLog(QStringLiteral("import: could not read ") + name);
    });
}

void EngineClient::importData(const QByteArray &data, const QString &name, Done done)
{
    // The engine merges the capture into the routes it holds, so edits still waiting reach it first.
    inTurn(OperationQueue::Kind::other, [this, data, name, done](Done ended) {
        postImport(data, name, endingWith(ended, done));
    });
}

void EngineClient::postImport(const QByteArray &data, const QString &name, Done done)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("format"), QStringLiteral("auto"));
    // Route edits made from here on are held, and laid over the engine's answer.
    const QList<Endpoint> before = endpoints();
    m_gate->beginImport();
    QNetworkReply *reply = sendControl(
        "POST", QStringLiteral("import"), query, data, generalTimeout(), this,
        [this, name, done, before](const ControlReply &reply) {
            m_routes->decodeInTurn(reply.isSuccess() ? reply.body : QByteArray(),
                                   [this, name, done, before, reply](RouteList::Decoded routes) {
                                       endPostImport(name, before, std::move(routes), reply, done);
                                   });
        });
    if (!reply) {
        m_gate->endImport();
        if (done)
            done();
    }
}

void EngineClient::endPostImport(const QString &name, const QList<Endpoint> &before, RouteList::Decoded routes,
                                 const ControlReply &reply, const Done &done)
{
    endImport(before, routes, reply);
    if (reply.transportFailed()) {
        appendLog(QStringLiteral("import ") + name + QStringLiteral(": request failed"));
    } else if (routes) {
        // The answer is the project's whole list; the engine says apart what the file brought.
        const auto counts = decodeRecord<ImportCounts>(reply.header(kImportCountsHeader).toStdString());
        const qint64 imported = counts ? counts->imported : qint64(routes->size());
        appendLog(QStringLiteral("imported ") + QString::number(imported) + QStringLiteral(" routes from ")
                  + name);
        if (counts && counts->leftOut > 0) {
            appendLog(QStringLiteral("import ") + name + QStringLiteral(": left out ")
                      + QString::number(counts->leftOut) + QStringLiteral(" requests past the route limit"));
            setImportSummary(partialImportSummary(counts->imported, counts->leftOut, counts->routeLimit,
                                                  QStringLiteral("requests")));
        }
        analytics().track(QStringLiteral("import_completed"), false);
    } else {
        // A body cut inside a UTF-8 sequence is not text either.
        const QString text = decodeUtf8Line(reply.body).value_or(QStringLiteral("unknown error"));
        appendLog(QStringLiteral("import ") + name + QStringLiteral(" failed: ") + text);
    }
    if (done)
        afterPendingPushes(done);
}

void EngineClient::endImport(const QList<Endpoint> &before, const std::optional<QList<Endpoint>> &imported,
                             const ControlReply &reply)
{
    if (reply.timedOut) {
        // The engine may still merge the capture; the held edits go to the engine that replaces it.
        m_gate->endImport([this] { replaceHungEngine(QStringLiteral("import")); });
        return;
    }
    if (!imported) {
        // Nothing changed at the engine: the held edits go as they are.
        m_gate->endImport([this] { m_gate->releaseHeldRoutes(); });
        return;
    }
    // Dropped while the import still holds them: the merged list below carries their edits, and goes
    // before a project change that waited for the import.
    m_gate->dropHeldRoutes();
    m_routes->setEngineHolds(*imported);
    m_gate->endImport([&] {
        const QList<Endpoint> merged = RouteList::withEditsSince(before, endpoints(), *imported);
        m_routes->applyLoaded(merged);
        if (merged != *imported)
            m_routes->pushNow();
    });
}
