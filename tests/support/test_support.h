// Helpers every test program shares: temporary folders, renders, the stand-in engine's path.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <Qt>

#include <functional>

class QColor;
class QImage;
class QLineEdit;
class QRect;
class QObject;
class QWidget;

namespace testsupport {

// Path of the stand-in kestrion-engine built alongside the tests.
QString standinEnginePath();

// Root of the source tree (for fixture files).
QString sourceDir();

// Saves what the widget renders as PNG under <build>/renders/<subdir>/<name>.png and returns the path.
QString saveRender(QWidget *widget, const QString &subdir, const QString &name);

// How many pixels of the image inside area are of the colour (each channel within the tolerance):
// whether a focus ring was drawn there.
int pixelsOfColor(const QImage &image, const QRect &area, const QColor &color, int tolerance = 24);

// Clears the field as a user would (select all, Backspace), then types the text key by key.
void retype(QLineEdit *edit, const QString &text);

// Presses and releases a key in the window that has the keyboard focus, as the window system would hand it
// over (shortcuts, popups and focus included); false when no window has the focus.
bool pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Runs the event loop until the predicate holds or the limit passes; true when it held.
bool waitFor(const std::function<bool()> &predicate, int timeoutMs = 5000);

// True when no finite animation under the object runs (endless spinners do not count), so a render
// shows the end state of every transition.
bool animationsSettled(const QObject *root);

// The kestrion-engine child of the given process, or 0 while it has none.
qint64 engineChildOf(qint64 parent);
// True when the process is gone, or only a zombie waiting for a reaper.
bool processGone(qint64 pid);

} // namespace testsupport
