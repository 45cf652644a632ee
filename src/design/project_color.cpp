// ProjectColor's hash and swatches.
#include "design/project_color.h"

#include "design/palette.h"

#include <cstdint>

namespace ProjectColor {

const QList<QColor> &swatches()
{
    static const QList<QColor> list = {Palette::indigo(), Palette::blue(),   Palette::mint(), Palette::green(),
                                       Palette::purple(), Palette::orange(), Palette::cyan(), Palette::yellow()};
    return list;
}

int swatchIndex(QByteArrayView utf8)
{
    std::uint64_t h = 5381;
    for (const char byte : utf8)
        h = h * 33u + static_cast<std::uint8_t>(byte); // unsigned: wraps modulo 2^64
    return int(h % std::uint64_t(swatches().size()));
}

QColor color(const QString &name)
{
    return swatches().at(swatchIndex(name.toUtf8()));
}

} // namespace ProjectColor
