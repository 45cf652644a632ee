// Open and save panels over QFileDialog.
#include "platform/file_panels.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>

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

// Qt's own panel reads double quotes in the typed text as a list of names ("a" "b") and would save
// to one of them; a save panel takes one name, so a typed name with quotes is used as it stands.
class SavePanel final : public QFileDialog
{
public:
    using QFileDialog::QFileDialog;

    QString chosenPath() const { return m_typedPath.isEmpty() ? selectedFiles().value(0) : m_typedPath; }

protected:
    void accept() override
    {
        auto *nameField = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!nameField || !nameField->text().contains(QLatin1Char('"'))) {
            QFileDialog::accept();
            return;
        }
        const QFileInfo target(directory().absoluteFilePath(nameField->text()));
        if (target.isDir()) {
            setDirectory(target.absoluteFilePath());
            nameField->clear();
            return;
        }
        if (target.exists()
            && QMessageBox::warning(this, windowTitle(),
                                    tr("%1 already exists.\nDo you want to replace it?").arg(target.fileName()),
                                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                   != QMessageBox::Yes)
            return;
        m_typedPath = target.absoluteFilePath();
        QDialog::accept();
    }

private:
    QString m_typedPath;
};

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
    SavePanel panel(parent, request.message, proposed, filterText(request.nameFilters));
    panel.setAcceptMode(QFileDialog::AcceptSave);
    if (panel.exec() != QDialog::Accepted)
        return {};
    return panel.chosenPath();
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
