// EngineClient: ".kestrion" profile export (engine bytes to a file) and import (file bytes to the engine).
#include "engine/engine_client.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <QThreadPool>

namespace {

std::string_view asView(const QByteArray &bytes)
{
    return std::string_view(bytes.constData(), std::size_t(bytes.size()));
}

} // namespace

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
    const QString fileName = QFileInfo(path).fileName();
    QNetworkReply *reply = sendControl(
        "GET", QStringLiteral("profile"), literalQuery(QStringLiteral("name"), profileExportName(fileName)),
        std::nullopt, DefaultTimeoutMs, this,
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
    const QString name = QFileInfo(path).fileName();
    QPointer<EngineClient> self(this);
    // The file may be large or on a slow disk: it is read off the GUI thread.
    QThreadPool::globalInstance()->start([self, path, name] {
        QFile file(path);
        std::optional<QByteArray> data;
        if (file.open(QIODevice::ReadOnly))
            data = file.readAll();
        if (file.error() != QFileDevice::NoError)
            data.reset();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, name, data = std::move(data)] {
                if (self)
                    self->handleProfileImport(data, name);
            },
            Qt::QueuedConnection);
    });
}

void EngineClient::handleProfileImport(const std::optional<QByteArray> &data, const QString &name, Done done)
{
    if (!data || !m_controlPort) {
        appendLog(QStringLiteral("import: could not read ") + name);
        if (done)
            done();
        return;
    }
    // A route push still waiting would overwrite the imported routes with the old list.
    cancelRoutePush();

    QNetworkReply *reply = sendControl(
        "POST", QStringLiteral("profile"), {}, *data, DefaultTimeoutMs, this,
        [this, name, done](const ControlReply &reply) {
            if (!reply.isSuccess()) {
                appendLog(QStringLiteral("import ") + name + QStringLiteral(" failed (invalid .kestrion?)"));
                if (done)
                    done();
                return;
            }
            // The engine already holds these routes; they are not pushed back.
            if (auto routes = decodeRecord<std::vector<WireRoute>>(asView(reply.body))) {
                QList<Endpoint> list;
                list.reserve(qsizetype(routes->size()));
                for (const WireRoute &route : *routes)
                    list.append(Endpoint::fromWire(route));
                setEndpoints(list);
            }
            // A profile also carries chaos presets.
            loadChaos([this, name, done] {
                appendLog(QStringLiteral("imported profile ") + name);
                if (done)
                    done();
            });
        });
    if (!reply) {
        appendLog(QStringLiteral("import: could not read ") + name);
        if (done)
            done();
    }
}
