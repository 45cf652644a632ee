// The main window's first frame on a screen, and the once-per-process flag that guards it.
#pragma once

#include <QRectF>

namespace WindowGeometry {

inline constexpr int defaultWidth = 1280;
inline constexpr int defaultHeight = 820;
inline constexpr int minimumWidth = 1180;
inline constexpr int minimumHeight = 740;

// min(V.width - 140, 1280) x min(V.height - 110, 820), raised to the window's minimum size, centred in the
// visible frame V (never above or left of it, so the title bar stays reachable on a screen smaller than the window).
QRectF firstFrame(const QRectF &visibleFrame);

// The process-wide "already sized" flag: true the first time it is claimed, never again.
bool claimFirstSizing();
bool firstSizingDone();
// Tests only: lets a test observe a fresh process.
void resetFirstSizingForTests();

} // namespace WindowGeometry
