// Open and save panels over QFileDialog.
#include "platform/file_panels.h"

#include <QDir>
#include <QFileDialog>

namespace {

FilePanels::Hook &openHook()
{
    static FilePanels::Hook hook;
    return hook;
}

FilePanels::Hook &saveHook()
{
    static FilePanels::Hook hook;
    return hook;
}

QString filterText(const QStringList &nameFilters)
{
    return nameFilters.join(QStringLiteral(";;"));
}

} // namespace

namespace FilePanels {

QString chooseFileToOpen(QWidget *parent, const FilePanelRequest &request)
{
    if (openHook())
        return openHook()(request);
    // One existing file, never a folder.
    return QFileDialog::getOpenFileName(parent, request.message, QString(), filterText(request.nameFilters));
}

QString chooseFileToSave(QWidget *parent, const FilePanelRequest &request)
{
    if (saveHook())
        return saveHook()(request);
    const QString proposed = request.suggestedName.isEmpty()
                                 ? QString()
                                 : QDir::home().filePath(request.suggestedName);
    return QFileDialog::getSaveFileName(parent, request.message, proposed, filterText(request.nameFilters));
}

void setOpenHook(Hook hook)
{
    openHook() = std::move(hook);
}

void setSaveHook(Hook hook)
{
    saveHook() = std::move(hook);
}

} // namespace FilePanels
