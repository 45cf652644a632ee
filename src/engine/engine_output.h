// Reading the engine's standard output: UTF-8 lines and the control-port handshake line.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

inline constexpr char ControlPortPrefix[] = "KESTRION_CONTROL_PORT=";
// The line before the port's: the token every control request shows, which only the process that
// reads the engine's output learns, so no other local user can drive the engine.
inline constexpr char ControlTokenPrefix[] = "KESTRION_CONTROL_TOKEN=";
inline constexpr char ControlTokenHeader[] = "X-Kestrion-Token";

struct ControlPortLine
{
    enum class Kind { NotPortLine, Malformed, Port };
    Kind kind = Kind::NotPortLine;
    int port = 0;
};

// Classifies one output line. A port must be a decimal integer within 1...65535 (an optional
// sign, spaces and tabs around it); anything else after the prefix is Malformed.
ControlPortLine parseControlPortLine(QStringView line);

// The token of a control-token line (letters and digits only); none for any other line.
std::optional<QByteArray> parseControlTokenLine(QStringView line);

// Decodes one line as UTF-8; none when the bytes are not valid UTF-8.
std::optional<QString> decodeUtf8Line(QByteArrayView bytes);
