// File panels for imports and profiles, handing the chosen file to the engine link.
#include "app/file_actions.h"

#include "engine/engine_client.h"
#include "platform/bounded_file.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMimeData>
#include <QPointer>
#include <QThreadPool>

#include <functional>

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

ImportRefusal checkImportFile(const QUrl &url, qint64 maxBytes)
{
    if (!url.isLocalFile())
        return ImportRefusal::notLocal;
    const QFileInfo info(url.toLocalFile());
    if (!info.exists())
        return ImportRefusal::missing;
    // isFile() follows links, so a link to a capture is fine and a link to a FIFO is not.
    if (!info.isFile())
        return ImportRefusal::notRegularFile;
    if (info.size() > maxBytes)
        return ImportRefusal::tooLarge;
    return ImportRefusal::none;
}

QString refusalMessage(ImportRefusal refusal, const QUrl &url, qint64 maxBytes)
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
        return EngineClient::importRefusalMessage(name, BoundedReadFailure::notRegularFile);
    case ImportRefusal::tooLarge:
        return EngineClient::importRefusalMessage(name, BoundedReadFailure::tooLarge, maxBytes);
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

// The refusal goes to the import banner and the log.
void refuse(EngineClient *engine, ImportRefusal refusal, const QUrl &url, qint64 maxBytes = MaxImportBytes)
{
    engine->refuseImport(refusalMessage(refusal, url, maxBytes));
}

// True when the file passes; otherwise it is refused.
bool passesChecks(EngineClient *engine, const QUrl &url, qint64 maxBytes = MaxImportBytes)
{
    const ImportRefusal refusal = checkImportFile(url, maxBytes);
    if (refusal == ImportRefusal::none)
        return true;
    refuse(engine, refusal, url, maxBytes);
    return false;
}

// What an import does with the file's bytes, and what it says when the file could not be read.
struct ImportKind
{
    std::function<void(EngineClient &engine, const QByteArray &data, const QString &name)> send;
    std::function<void(EngineClient &engine, const QString &name)> unreadable;
    qint64 maxBytes = MaxImportBytes;
};

const ImportKind CaptureImport = {
    [](EngineClient &engine, const QByteArray &data, const QString &name) { engine.importData(data, name); },
    [](EngineClient &engine, const QString &name) {
        engine.appendLog(QStringLiteral("import: could not read ") + name);
    }};

const ImportKind OpenAPIImport = {
    [](EngineClient &engine, const QByteArray &data, const QString &name) {
        engine.performOpenAPIImport(data, name);
    },
    [](EngineClient &engine, const QString &name) {
        engine.setImportSummary(QStringLiteral("Couldn't read ") + name);
    }};

const ImportKind ProfileImport = {
    [](EngineClient &engine, const QByteArray &data, const QString &name) {
        engine.handleProfileImport(data, name);
    },
    [](EngineClient &engine, const QString &name) { engine.handleProfileImport(std::nullopt, name); },
    MaxProfileBytes};

// The checks above judge the path; the read judges the file it opened, so a file swapped or grown
// since is refused instead of read whole. It runs off the GUI thread and answers on it while the
// engine link still exists.
void readAndSend(EngineClient *engine, const QString &path, const ImportKind &kind)
{
    QPointer<EngineClient> link(engine);
    QThreadPool::globalInstance()->start([link, path, kind] {
        BoundedRead read = readBoundedFile(path, kind.maxBytes);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [link, path, kind, read = std::move(read)] {
                if (!link)
                    return;
                const QUrl url = QUrl::fromLocalFile(path);
                switch (read.failure) {
                case BoundedReadFailure::none:
                    kind.send(*link, read.data, QFileInfo(path).fileName());
                    return;
                case BoundedReadFailure::notRegularFile:
                    refuse(link, ImportRefusal::notRegularFile, url);
                    return;
                case BoundedReadFailure::tooLarge:
                    refuse(link, ImportRefusal::tooLarge, url, kind.maxBytes);
                    return;
                case BoundedReadFailure::unreadable:
                    kind.unreadable(*link, QFileInfo(path).fileName());
                    return;
                }
            },
            Qt::QueuedConnection);
    });
}

} // namespace

bool importCheckedFile(EngineClient *engine, const QUrl &url)
{
    if (!engine || !passesChecks(engine, url))
        return false;
    readAndSend(engine, url.toLocalFile(), CaptureImport);
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
    if (path.isEmpty() || !link || !passesChecks(link, QUrl::fromLocalFile(path), MaxProfileBytes))
        return;
    readAndSend(link, path, ProfileImport);
}

void importOpenAPI(EngineClient *engine, QWidget *parent)
{
    QPointer<EngineClient> link(engine);
    const QString path = FilePanels::chooseFileToOpen(parent, importOpenAPIRequest());
    if (path.isEmpty() || !link || !passesChecks(link, QUrl::fromLocalFile(path)))
        return;
    readAndSend(link, path, OpenAPIImport);
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
