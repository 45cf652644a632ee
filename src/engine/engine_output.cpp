// Reading the engine's standard output: UTF-8 lines and the control-port handshake line.
#include "engine/engine_output.h"

#include "platform/strict_utf8.h"

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

} // namespace

ControlPortLine parseControlPortLine(QStringView line)
{
    const QLatin1StringView prefix(ControlPortPrefix);
    if (!line.startsWith(prefix))
        return {};

    QStringView rest = line.sliced(prefix.size());
    while (!rest.isEmpty() && isBlank(rest.front()))
        rest = rest.sliced(1);
    while (!rest.isEmpty() && isBlank(rest.back()))
        rest.chop(1);

    ControlPortLine malformed{ControlPortLine::Kind::Malformed, 0};
    bool negative = false;
    if (!rest.isEmpty() && (rest.front() == QLatin1Char('+') || rest.front() == QLatin1Char('-'))) {
        negative = rest.front() == QLatin1Char('-');
        rest = rest.sliced(1);
    }
    if (rest.isEmpty())
        return malformed;
    long long value = 0;
    for (QChar c : rest) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return malformed;
        value = value * 10 + (c.unicode() - '0');
        if (value > 65535)
            return malformed; // also stops any overflow
    }
    if (negative || value < 1)
        return malformed;
    return {ControlPortLine::Kind::Port, static_cast<int>(value)};
}

std::optional<QByteArray> parseControlTokenLine(QStringView line)
{
    const QLatin1StringView prefix(ControlTokenPrefix);
    if (!line.startsWith(prefix))
        return std::nullopt;
    const QStringView token = line.sliced(prefix.size()).trimmed();
    if (token.isEmpty() || token.size() > 256)
        return std::nullopt;
    for (QChar c : token) {
        if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9')) && !(c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            && !(c >= QLatin1Char('A') && c <= QLatin1Char('Z')))
            return std::nullopt;
    }
    return token.toLatin1();
}

std::optional<QString> decodeUtf8Line(QByteArrayView bytes)
{
    return strictUtf8(bytes);
}
