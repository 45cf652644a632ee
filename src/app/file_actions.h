// The file panels for capture and OpenAPI imports and for opening and saving profiles.
#pragma once

#include "platform/file_panels.h"

class EngineClient;
class QWidget;

namespace FileActions {

// Panel settings, exposed so tests can check what the user is asked.
FilePanelRequest importFileRequest();
FilePanelRequest openProfileRequest();
FilePanelRequest importOpenAPIRequest();
FilePanelRequest exportProfileRequest();

// Each runs its modal panel and hands a chosen file to the engine link; cancelling does nothing.
void importFile(EngineClient *engine, QWidget *parent = nullptr);
void openProfile(EngineClient *engine, QWidget *parent = nullptr);
void importOpenAPI(EngineClient *engine, QWidget *parent = nullptr);
void exportProfile(EngineClient *engine, QWidget *parent = nullptr);

} // namespace FileActions
