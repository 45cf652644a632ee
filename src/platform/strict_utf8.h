// Strict UTF-8 decoding of a whole text received from elsewhere (a reply body, tool output).
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <optional>

// None when any byte is not valid UTF-8, the end included: a stateless decoder fails a sequence cut
// at the end instead of holding it back for a next chunk that never comes.
inline std::optional<QString> strictUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}
