// EngineClient: OpenAPI / Swagger import; the engine builds a project of routes from the document.
#include "engine/engine_client.h"

#include "engine/import_summary_logic.h"

#include <QTextBoundaryFinder>

namespace {

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
    readFileOffThread(path, MaxImportBytes, [this](const std::optional<QByteArray> &data, const QString &name) {
        if (data)
            performOpenAPIImport(*data, name);
        else
            setImportSummary(QStringLiteral("Couldn't read ") + name);
    });
}

void EngineClient::performOpenAPIImport(const QByteArray &data, const QString &filename, Done done)
{
    // The project active before the import gets its latest routes and environments first.
    inTurn(OperationQueue::Kind::other, [this, data, filename, then = std::move(done)](Done ended) {
        const Done done = endingWith(ended, then);
        // The engine makes the imported project active. Edits made during the upload still push; a
        // push that comes due meanwhile is held, and lands in its own project once the answer is in.
        m_gate->beginChange();
        QNetworkReply *reply = sendControl(
            "POST", QStringLiteral("/import/openapi"), {}, data, controlTimeouts().openAPI, this,
            [this, filename, done](const ControlReply &reply) {
                const auto result = reply.isSuccess()
                                        ? decodeRecord<OpenAPIImportResult>(EngineChannel::asView(reply.body))
                                        : std::nullopt;
                if (!result) {
                    const Done failed = [this, filename, done, reply] {
                        m_gate->endChange();
                        reportOpenAPIFailure(reply, filename);
                        if (done)
                            done();
                    };
                    if (reply.timedOut) {
                        // The engine may still make the project and activate it: it is replaced, and the
                        // held edits land in their own project on the new one.
                        replaceHungEngine(QStringLiteral("OpenAPI import"));
                        afterPendingPushes(failed);
                    } else {
                        m_gate->landHeld([failed](bool) { failed(); });
                    }
                    return;
                }
                // Pushes still waiting are held now, while they are known to be the old project's; until
                // the imported project's lists are shown, those shown are the old project's too.
                m_gate->endDebounces();
                m_gate->closeEdits();
                const QString count = QString::number(result->routeCount);
                const QString project = QString::fromStdString(result->name);
                const OpenAPIImportResult imported = *result;
                const Done shown = [this, done, count, project, filename, imported] {
                    m_gate->endChange();
                    m_gate->reopenEdits();
                    const qint64 leftOut = imported.leftOut.value_or(0);
                    if (leftOut > 0)
                        setImportSummary(partialImportSummary(imported.routeCount, leftOut,
                                                              imported.routeLimit.value_or(imported.routeCount),
                                                              QStringLiteral("operations"),
                                                              QStringLiteral(" into ") + project));
                    else
                        setImportSummary(QStringLiteral("Imported ") + count
                                         + (imported.routeCount == 1 ? QStringLiteral(" route") : QStringLiteral(" routes"))
                                         + QStringLiteral(" into ") + project);
                    appendLog(QStringLiteral("imported ") + count + QStringLiteral(" routes from ") + filename
                              + QStringLiteral(" \u2192 ") + project
                              + (leftOut > 0 ? QStringLiteral(", left out ") + QString::number(leftOut)
                                                   + QStringLiteral(" operations past the route limit")
                                             : QString()));
                    if (done)
                        done();
                };
                loadProjects([this, shown] {
                    m_gate->landHeld([this, shown](bool switched) {
                        // A project made active and back on the way: show what the engine now reports.
                        if (switched)
                            loadProjects([this, shown] { reloadActiveProjectIntoUI(shown); });
                        else
                            reloadActiveProjectIntoUI(shown);
                    });
                });
            },
            QByteArrayLiteral("application/octet-stream"));
        if (!reply) {
            m_gate->endChange();
            if (done)
                done();
        }
    });
}

void EngineClient::reportOpenAPIFailure(const ControlReply &reply, const QString &filename)
{
    if (reply.transportFailed()) {
        setImportSummary(QStringLiteral("Import failed \u2014 engine unreachable"));
        return;
    }
    const QString detail = engineErrorText(reply.body).value_or(QStringLiteral("unknown error"));
    setImportSummary(QStringLiteral("Import failed: ") + firstCharacters(detail, SummaryDetailLength));
    appendLog(QStringLiteral("openapi import ") + filename + QStringLiteral(" failed: ") + detail);
}
