// PEM export through QSaveFile.
#include "screens/setup/ca_export.h"

#include <QFileInfo>
#include <QSaveFile>

namespace CaExport {

std::optional<QString> writePem(const QString &path, const QByteArray &pem)
{
    if (pem.isEmpty())
        return QStringLiteral("There is no certificate to export yet.");
    const QString name = QFileInfo(path).fileName();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("Could not write ") + name + QStringLiteral(": ") + file.errorString();
    if (file.write(pem) != pem.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return QStringLiteral("Could not write ") + name + QStringLiteral(": ") + error;
    }
    if (!file.commit())
        return QStringLiteral("Could not write ") + name + QStringLiteral(": ") + file.errorString();
    return std::nullopt;
}

} // namespace CaExport
