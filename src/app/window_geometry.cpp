// First-frame arithmetic of the main window.
#include "app/window_geometry.h"

#include <algorithm>

namespace WindowGeometry {

namespace {
bool g_sized = false;
} // namespace

QRectF firstFrame(const QRectF &visibleFrame)
{
    const qreal w = std::min(visibleFrame.width() - 140, qreal(defaultWidth));
    const qreal h = std::min(visibleFrame.height() - 110, qreal(defaultHeight));
    const qreal x = visibleFrame.left() + (visibleFrame.width() - w) / 2;
    const qreal y = visibleFrame.top() + (visibleFrame.height() - h) / 2;
    return QRectF(x, y, w, h);
}

bool claimFirstSizing()
{
    if (g_sized)
        return false;
    g_sized = true;
    return true;
}

bool firstSizingDone()
{
    return g_sized;
}

void resetFirstSizingForTests()
{
    g_sized = false;
}

} // namespace WindowGeometry
