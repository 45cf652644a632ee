// EngineClient: ".kestrion" profile export (engine bytes to a file) and import (file bytes to the engine).
#include "engine/engine_client.h"

#include "engine/import_summary_logic.h"

#include <QFileInfo>
#include <QSaveFile>

QString EngineClient::profileExportName(const QString &fileName)
{
    // A leading dot starts a hidden name, not an extension.
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? fileName.left(dot) : fileName;
}

void EngineClient::exportProfile(const QString &path)
{
    performExport(path);
}

void EngineClient::performExport(const QString &path, Done done)
{
    // The profile holds the edits made before it.
    inTurn(OperationQueue::Kind::other,
           [this, path, done](Done ended) { requestExport(path, endingWith(ended, done)); });
}

void EngineClient::requestExport(const QString &path, Done done)
{
    const QString fileName = QFileInfo(path).fileName();
    QNetworkReply *reply = sendControl(
        "GET", QStringLiteral("profile"), EngineChannel::literalQuery(QStringLiteral("name"), profileExportName(fileName)),
        std::nullopt, generalTimeout(), this,
        [this, path, fileName, done](const ControlReply &reply) {
            if (reply.transportFailed()) {
                appendLog(QStringLiteral("export profile failed"));
            } else if (!reply.isSuccess()) {
                // An error answer is not a profile: the user's file stays as it was.
                appendLog(QStringLiteral("export profile failed: HTTP ") + QString::number(reply.httpStatus));
            } else {
                // Written aside and renamed over the target, so a failed write never leaves half a file.
                QSaveFile file(path);
                const bool written = file.open(QIODevice::WriteOnly) && file.write(reply.body) == reply.body.size()
                                     && file.commit();
                appendLog(written ? QStringLiteral("exported profile \u2192 ") + fileName
                                  : QStringLiteral("could not write ") + fileName);
            }
            if (done)
                done();
        });
    if (!reply && done)
        done();
}

void EngineClient::importProfile(const QString &path)
{
    readFileOffThread(path, MaxProfileBytes, [this](const std::optional<QByteArray> &data, const QString &name) {
        handleProfileImport(data, name);
    });
}

void EngineClient::handleProfileImport(const std::optional<QByteArray> &data, const QString &name, Done done)
{
    if (!data || !controlPort()) {
        appendLog(QStringLiteral("import: could not read ") + name);
        if (done)
            done();
        return;
    }
    // Edits still waiting land first, so none of them lands later over the imported routes.
    inTurn(OperationQueue::Kind::other, [this, data = *data, name, done](Done ended) {
        postProfile(data, name, endingWith(ended, done));
    });
}

void EngineClient::postProfile(const QByteArray &data, const QString &name, Done done)
{
    // Route edits made from here on are held, and laid over the profile's routes.
    const QList<Endpoint> before = endpoints();
    m_gate->beginImport();
    QNetworkReply *reply = sendControl(
        "POST", QStringLiteral("profile"), {}, data, generalTimeout(), this,
        [this, name, done, before](const ControlReply &reply) {
            m_routes->decodeInTurn(reply.isSuccess() ? reply.body : QByteArray(),
                                   [this, name, done, before, reply](RouteList::Decoded routes) {
                                       endPostProfile(name, before, std::move(routes), reply, done);
                                   });
        });
    if (!reply) {
        m_gate->endImport();
        appendLog(QStringLiteral("import: could not read ") + name);
        if (done)
            done();
    }
}

void EngineClient::endPostProfile(const QString &name, const QList<Endpoint> &before, RouteList::Decoded routes,
                                  const ControlReply &reply, const Done &done)
{
    // The engine already holds these routes; only the edits made meanwhile are pushed.
    endImport(before, routes, reply);
    if (!reply.isSuccess()) {
        appendLog(QStringLiteral("import ") + name + QStringLiteral(" failed (invalid .kestrion?)"));
        if (done)
            done();
        return;
    }
    const auto counts = decodeRecord<ImportCounts>(reply.header(kImportCountsHeader).toStdString());
    if (counts && counts->leftOut > 0)
        setImportSummary(partialImportSummary(counts->imported, counts->leftOut, counts->routeLimit,
                                              QStringLiteral("routes"), QStringLiteral(" from ") + name));
    // A profile also carries chaos presets.
    loadChaos([this, name, done, counts] {
        appendLog(QStringLiteral("imported profile ") + name
                  + (counts && counts->leftOut > 0 ? QStringLiteral(", left out ") + QString::number(counts->leftOut)
                                                         + QStringLiteral(" routes past the route limit")
                                                   : QString()));
        if (done)
            done();
    });
}
