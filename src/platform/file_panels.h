// Modal open and save panels behind functions that tests can replace.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

struct FilePanelRequest
{
    QString message;            // the panel's title
    QStringList nameFilters;    // e.g. "OpenAPI (*.json *.yaml *.yml)"; empty allows any file
    QString suggestedName;      // save panels only
};

namespace FilePanels {

// Both return the chosen file's path, or an empty string when the user cancelled.
QString chooseFileToOpen(QWidget *parent, const FilePanelRequest &request);
QString chooseFileToSave(QWidget *parent, const FilePanelRequest &request);

using Hook = std::function<QString(const FilePanelRequest &request)>;
// Tests answer the panels themselves; an empty hook restores the real dialogs.
void setOpenHook(Hook hook);
void setSaveHook(Hook hook);

} // namespace FilePanels
