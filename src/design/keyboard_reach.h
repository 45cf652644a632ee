// Keyboard reach for the painted controls: Tab lands on them, a ring shows where it landed, and
// Space or Return presses them.
#pragma once

#include <QObject>
#include <QRectF>

#include <functional>

class QKeyEvent;
class QPainter;
class QWidget;
struct Palette;

class KeyboardReach final : public QObject
{
    Q_OBJECT
public:
    // Only Tab and Shift+Tab give the control the focus: a click leaves the focus where it was, so
    // clicking a button never takes it from a field still being typed in. The control repaints as the
    // focus comes and goes, and Space or Return runs press (when given) while it has the focus.
    // The focus a window hands its first control when it opens is not the user's: it shows no ring and
    // leaves the keys to the window until the user moves it.
    static KeyboardReach *install(QWidget *control, std::function<void()> press);
    // Whether the control has a focus the user moved there, the one that shows a ring.
    static bool showsRing(const QWidget *control);
    // The keyboard moved within a control that had a focus from a click (a list's arrows): the ring shows.
    static void confirmFocus(QWidget *control);
    // For an editor, which a click focuses too (its focus policy is kept): the focus Tab gives it shows the
    // ring, painted by the box round it with paintRing(painter, editor, box outline, radius).
    static void installOnEditor(QWidget *editor);
    // A control that ignores presses (its own disabled flag) drops out of the Tab order.
    static void setReachable(QWidget *control, bool reachable);

    static bool isActivationKey(const QKeyEvent *event);
    static QColor ringColor(const Palette &palette);
    // The ring inside the control's outline while it has the keyboard focus; a thin line of the
    // window's background inside it keeps it apart from a fill of the same colour.
    static void paintRing(QPainter &painter, const QWidget *control, const QRectF &outline, qreal radius);
    // For a control whose child widgets fill it: the ring is painted over them, round the control's rect.
    static void paintRingOverChildren(QWidget *control, qreal radius);
    // For an editor inside a larger frame (a panel with a title row): the editor's Tab focus rings the frame.
    static void ringFrameOfEditor(QWidget *frame, QWidget *editor, qreal radius);
    // For a control with no ground of its own whose glyph fills it: the ring is painted on its parent, `room`
    // outside it, so the control's place in its layout stays as it is and the ring leaves the glyph whole.
    static void ringOutside(QWidget *control, int room, qreal radius);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    KeyboardReach(QWidget *control, std::function<void()> press);

    std::function<void()> m_press;
    bool m_userFocus = false;
    bool m_editor = false;
};
