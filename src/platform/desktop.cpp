// Clipboard and desktop openers over QClipboard and QDesktopServices.
#include "platform/desktop.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>

namespace {

Desktop::CopyHook &copyHook()
{
    static Desktop::CopyHook hook;
    return hook;
}

Desktop::OpenHook &openHook()
{
    static Desktop::OpenHook hook;
    return hook;
}

} // namespace

namespace Desktop {

void copyText(const QString &text)
{
    if (copyHook()) {
        copyHook()(text);
        return;
    }
    if (QClipboard *clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(text);
    }
}

bool openUrl(const QUrl &url)
{
    if (!url.isValid())
        return false;
    if (openHook())
        return openHook()(url);
    return QDesktopServices::openUrl(url);
}

bool openFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    return openUrl(QUrl::fromLocalFile(path));
}

bool revealFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    // Desktop file managers have no common "select this file" request, so the folder holding it opens.
    const QFileInfo info(path);
    const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    return openUrl(QUrl::fromLocalFile(folder));
}

bool openApplication(const QString &identifier, const QString &fallbackPath)
{
    Q_UNUSED(identifier)
    if (fallbackPath.isEmpty() || !QFileInfo::exists(fallbackPath))
        return false;
    return openUrl(QUrl::fromLocalFile(fallbackPath));
}

void setCopyHook(CopyHook hook)
{
    copyHook() = std::move(hook);
}

void setOpenHook(OpenHook hook)
{
    openHook() = std::move(hook);
}

} // namespace Desktop
