// The clipboard and the desktop's openers (URLs, files, folders, applications) behind functions tests can replace.
#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace Desktop {

// Replaces the clipboard's contents with plain text (an empty text still clears it).
void copyText(const QString &text);

// Asks the desktop to open a URL, a file with its usual application, or the folder that holds a file.
// They return false when nothing could be opened.
bool openUrl(const QUrl &url);
bool openFile(const QString &path);
bool revealFile(const QString &path);

// Opens an application by its identifier, else the application at fallbackPath when that exists.
// There is no application registry here, so only the fallback can succeed.
bool openApplication(const QString &identifier, const QString &fallbackPath);

using CopyHook = std::function<void(const QString &text)>;
using OpenHook = std::function<bool(const QUrl &url)>;
// Tests watch what would be copied or opened; an empty hook restores the real behaviour.
void setCopyHook(CopyHook hook);
void setOpenHook(OpenHook hook);

} // namespace Desktop
