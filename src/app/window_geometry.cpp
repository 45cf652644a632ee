// First-frame arithmetic of the main window.
#include "app/window_geometry.h"

#include <algorithm>

namespace WindowGeometry {

namespace {
bool g_sized = false;
} // namespace

QRectF firstFrame(const QRectF &visibleFrame)
{
    // The window can't be smaller than its minimum, so centre the size it will really have.
    const qreal w = std::max(std::min(visibleFrame.width() - 140, qreal(defaultWidth)), qreal(minimumWidth));
    const qreal h = std::max(std::min(visibleFrame.height() - 110, qreal(defaultHeight)), qreal(minimumHeight));
    const qreal x = visibleFrame.left() + std::max((visibleFrame.width() - w) / 2, qreal(0));
    const qreal y = visibleFrame.top() + std::max((visibleFrame.height() - h) / 2, qreal(0));
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
