// File panels for imports and profiles, handing the chosen file to the engine link.
#include "app/file_actions.h"

#include "engine/engine_client.h"

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

void importFile(EngineClient *engine, QWidget *parent)
{
    QPointer<EngineClient> link(engine);
    const QString path = FilePanels::chooseFileToOpen(parent, importFileRequest());
    if (path.isEmpty() || !link)
        return;
    link->importFile(path);
}

void openProfile(EngineClient *engine, QWidget *parent)
{
    QPointer<EngineClient> link(engine);
    const QString path = FilePanels::chooseFileToOpen(parent, openProfileRequest());
    if (path.isEmpty() || !link)
        return;
    link->importProfile(path);
}

void importOpenAPI(EngineClient *engine, QWidget *parent)
{
    QPointer<EngineClient> link(engine);
    const QString path = FilePanels::chooseFileToOpen(parent, importOpenAPIRequest());
    if (path.isEmpty() || !link)
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
