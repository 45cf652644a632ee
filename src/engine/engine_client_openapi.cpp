// EngineClient: OpenAPI / Swagger import; the engine builds a project of routes from the document.
#include "engine/engine_client.h"

#include "platform/strict_utf8.h"

#include <QTextBoundaryFinder>

namespace {

constexpr int OpenAPITimeoutMs = 20000;
constexpr int SummaryDetailLength = 140;

// The first `count` user-perceived characters, never cutting a surrogate pair or an accent off.
QString firstCharacters(const QString &text, int count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int seen = 0;
    while (seen < count) {
        if (finder.toNextBoundary() < 0)
            return text;
        ++seen;
    }
    return text.left(finder.position());
}

} // namespace

void EngineClient::importOpenAPI(const QString &path)
{
    readFileOffThread(path, [this](const std::optional<QByteArray> &data, const QString &name) {
        if (data)
            performOpenAPIImport(*data, name);
        else
            setImportSummary(QStringLiteral("Couldn't read ") + name);
    });
}

void EngineClient::performOpenAPIImport(const QByteArray &data, const QString &filename, Done done)
{
    // The project active before the import gets its latest routes and environments first.
    afterPendingPushes([this, data, filename, done = std::move(done)] {
        // The engine makes the imported project active: no push may land until it is shown.
        m_projects->beginChange();
        const Done finish = [this, done] {
            m_projects->endChange();
            if (done)
                done();
        };
        QNetworkReply *reply = sendControl(
            "POST", QStringLiteral("/import/openapi"), {}, data, OpenAPITimeoutMs, this,
            [this, filename, done = finish](const ControlReply &reply) {
                if (reply.transportFailed()) {
                    setImportSummary(QStringLiteral("Import failed \u2014 engine unreachable"));
                    if (done)
                        done();
                    return;
                }
                const auto result = reply.isSuccess()
                                        ? decodeRecord<OpenAPIImportResult>(EngineChannel::asView(reply.body))
                                        : std::nullopt;
                if (!result) {
                    const QString detail = strictUtf8(reply.body).value_or(QStringLiteral("unknown error"));
                    setImportSummary(QStringLiteral("Import failed: ")
                                     + firstCharacters(detail, SummaryDetailLength));
                    appendLog(QStringLiteral("openapi import ") + filename + QStringLiteral(" failed: ")
                              + detail);
                    if (done)
                        done();
                    return;
                }
                const QString count = QString::number(result->routeCount);
                const QString project = QString::fromStdString(result->name);
                loadProjects([this, done, count, project, filename, routeCount = result->routeCount] {
                    reloadActiveProjectIntoUI([this, done, count, project, filename, routeCount] {
                        setImportSummary(QStringLiteral("Imported ") + count
                                         + (routeCount == 1 ? QStringLiteral(" route") : QStringLiteral(" routes"))
                                         + QStringLiteral(" into ") + project);
                        appendLog(QStringLiteral("imported ") + count + QStringLiteral(" routes from ")
                                  + filename + QStringLiteral(" \u2192 ") + project);
                        if (done)
                            done();
                    });
                });
            },
            QByteArrayLiteral("application/octet-stream"));
        if (!reply)
            finish();
    });
}
