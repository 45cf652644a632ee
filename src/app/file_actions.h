// The file panels for capture and OpenAPI imports and for opening and saving profiles.
#pragma once

#include "engine/engine_client.h"
#include "platform/file_panels.h"

#include <QString>
#include <QUrl>

#include <optional>

class QMimeData;
class QWidget;

namespace FileActions {

// Panel settings, exposed so tests can check what the user is asked.
FilePanelRequest importFileRequest();
FilePanelRequest openProfileRequest();
FilePanelRequest importOpenAPIRequest();
FilePanelRequest exportProfileRequest();

inline constexpr qint64 MaxImportBytes = EngineClient::MaxImportBytes;
inline constexpr qint64 MaxProfileBytes = EngineClient::MaxProfileBytes;

// Whether a file may be read whole and sent for import. Only local regular files qualify: reading a
// FIFO or a device never ends (or never stops filling memory).
enum class ImportRefusal { none, notLocal, missing, notRegularFile, tooLarge };
ImportRefusal checkImportFile(const QUrl &url, qint64 maxBytes = MaxImportBytes);
// The message shown for a refused file ("" for none).
QString refusalMessage(ImportRefusal refusal, const QUrl &url, qint64 maxBytes = MaxImportBytes);

// The first file URL a drop carries (only the first is imported); none when it carries no file.
std::optional<QUrl> firstDroppedFile(const QMimeData *mime);
// Whether a drag may be taken: its first file is local and regular (the size is judged on drop).
bool acceptsDrag(const QMimeData *mime);

// Hands the file to the engine link when it passes the checks; otherwise puts the refusal in the
// import banner and the log. Returns whether the import started.
bool importCheckedFile(EngineClient *engine, const QUrl &url);

// Each runs its modal panel and hands a chosen file to the engine link; cancelling does nothing.
void importFile(EngineClient *engine, QWidget *parent = nullptr);
void openProfile(EngineClient *engine, QWidget *parent = nullptr);
void importOpenAPI(EngineClient *engine, QWidget *parent = nullptr);
void exportProfile(EngineClient *engine, QWidget *parent = nullptr);

} // namespace FileActions
