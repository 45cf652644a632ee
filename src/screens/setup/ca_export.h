// Writing the root CA's PEM text to a file the user chose, whole or not at all.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace CaExport {

// Writes the bytes through a temporary file that replaces the target only once complete, so a
// failed write leaves an existing file as it was. Returns the error to show, or none on success.
// Empty PEM text is refused: a certificate file without a certificate helps nobody.
std::optional<QString> writePem(const QString &path, const QByteArray &pem);

} // namespace CaExport
