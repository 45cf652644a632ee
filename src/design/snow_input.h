// The one look of every input box (search, text field, select) and a frame that gives it to any editor.
#pragma once

#include <QWidget>

#include <optional>

class AnimatedFlag;
class QLineEdit;
class QPainter;
struct Palette;

namespace SnowInputLook {

// The box behind an input: inputBackground, mutedStrong while hovered, elevated while focused (or open),
// with a borderStrong outline while focused. Progress values run 0…1 so the changes can ease.
void paint(QPainter &painter, const QRectF &rect, const Palette &palette, qreal focus, qreal hover, qreal radius);
QColor fill(const Palette &palette, qreal focus, qreal hover);
QColor stroke(const Palette &palette, qreal focus);

// Gives a line edit the plain style the boxes need: no frame, no background, the palette's text colours.
void styleLineEdit(QLineEdit *edit, const Palette &palette);
// The same for any editor: line edits, and multi-line editors (their frame and viewport go clear too).
void styleEditor(QWidget *editor, const Palette &palette);

} // namespace SnowInputLook

// Frames any editor (a line edit, a multi-line field) with the input look: inset 10 left and right,
// an optional fixed height, the focused look following the editor's keyboard focus.
class SnowInput final : public QWidget
{
    Q_OBJECT
public:
    explicit SnowInput(QWidget *editor, std::optional<int> height = std::nullopt, qreal radius = 8,
                       QWidget *parent = nullptr);

    QWidget *editor() const { return m_editor; }
    bool isFocused() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *m_editor;
    qreal m_radius;
    AnimatedFlag *m_focus;
};
