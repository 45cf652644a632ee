// File panels for imports and profiles, handing the chosen file to the engine link.
#include "app/file_actions.h"

#include "engine/engine_client.h"

#include <QFileInfo>
#include <QMimeData>
#include <QPointer>

namespace FileActions {

FilePanelRequest importFileRequest()
{
    return {QStringLiteral("Choose a HAR, Charles, Postman, or JSON file"),
            {QStringLiteral("Captures (*.har *.json *.chls *.chlsj)"), QStringLiteral("All files (*)")},
            {}};
}

FilePanelRequest openProfileRequest()
{
    return {QStringLiteral("Choose a .kestrion profile"),
            {QStringLiteral("Kestrion profiles (*.kestrion *.json)"), QStringLiteral("All files (*)")},
            {}};
}

FilePanelRequest importOpenAPIRequest()
{
    return {QStringLiteral("Choose an OpenAPI / Swagger spec (JSON or YAML)"),
            {QStringLiteral("OpenAPI / Swagger (*.json *.yaml *.yml)")},
            {}};
}

FilePanelRequest exportProfileRequest()
{
    return {QStringLiteral("Export this sandbox as a .kestrion profile"), {}, QStringLiteral("session.kestrion")};
}

ImportRefusal checkImportFile(const QUrl &url)
{
    if (!url.isLocalFile())
        return ImportRefusal::notLocal;
    const QFileInfo info(url.toLocalFile());
    if (!info.exists())
        return ImportRefusal::missing;
    // isFile() follows links, so a link to a capture is fine and a link to a FIFO is not.
    if (!info.isFile())
        return ImportRefusal::notRegularFile;
    if (info.size() > MaxImportBytes)
        return ImportRefusal::tooLarge;
    return ImportRefusal::none;
}

QString refusalMessage(ImportRefusal refusal, const QUrl &url)
{
    const QString name = url.isLocalFile() ? QFileInfo(url.toLocalFile()).fileName() : url.toDisplayString();
    const QString lead = QStringLiteral("Couldn't import ") + name + QStringLiteral(" \u2014 ");
    switch (refusal) {
    case ImportRefusal::none:
        return {};
    case ImportRefusal::notLocal:
        return lead + QStringLiteral("only files on this computer can be imported");
    case ImportRefusal::missing:
        return lead + QStringLiteral("the file no longer exists");
    case ImportRefusal::notRegularFile:
        return lead + QStringLiteral("it is not a regular file");
    case ImportRefusal::tooLarge:
        return lead + QStringLiteral("it is larger than the ") + QString::number(MaxImportBytes / (1024 * 1024))
               + QStringLiteral(" MB import limit");
    }
    return {};
}

std::optional<QUrl> firstDroppedFile(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls())
        return std::nullopt;
    const QList<QUrl> urls = mime->urls();
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            return url;
    }
    return std::nullopt;
}

bool acceptsDrag(const QMimeData *mime)
{
    const std::optional<QUrl> url = firstDroppedFile(mime);
    if (!url)
        return false;
    const ImportRefusal refusal = checkImportFile(*url);
    return refusal == ImportRefusal::none || refusal == ImportRefusal::tooLarge;
}

namespace {

// True when the file passes; otherwise the refusal goes to the import banner and the log.
bool passesChecks(EngineClient *engine, const QUrl &url)
{
    const ImportRefusal refusal = checkImportFile(url);
    if (refusal == ImportRefusal::none)
        return true;
    const QString message = refusalMessage(refusal, url);
    engine->appendLog(QStringLiteral("import: ") + message);
    engine->setImportSummary(message);
    return false;
}

} // namespace

bool importCheckedFile(EngineClient *engine, const QUrl &url)
{
    if (!engine || !passesChecks(engine, url))
        return false;
    engine->importFile(url.toLocalFile());
    return true;
}

void importFile(EngineClient *engine, QWidget *parent)
{
    QPointer<EngineClient> link(engine);
    const QString path = FilePanels::chooseFileToOpen(parent, importFileRequest());
    if (path.isEmpty() || !link)
        return;
    importCheckedFile(link, QUrl::fromLocalFile(path));
}

void openProfile(EngineClient *engine, QWidget *parent)
{
    QPointer<EngineClient> link(engine);
    const QString path = FilePanels::chooseFileToOpen(parent, openProfileRequest());
    if (path.isEmpty() || !link || !passesChecks(link, QUrl::fromLocalFile(path)))
        return;
    link->importProfile(path);
}

void importOpenAPI(EngineClient *engine, QWidget *parent)
{
    QPointer<EngineClient> link(engine);
    const QString path = FilePanels::chooseFileToOpen(parent, importOpenAPIRequest());
    if (path.isEmpty() || !link || !passesChecks(link, QUrl::fromLocalFile(path)))
        return;
    link->importOpenAPI(path);
}

void exportProfile(EngineClient *engine, QWidget *parent)
{
    QPointer<EngineClient> link(engine);
    const QString path = FilePanels::chooseFileToSave(parent, exportProfileRequest());
    if (path.isEmpty() || !link)
        return;
    link->exportProfile(path);
}

} // namespace FileActions
