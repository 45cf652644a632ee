// The search box: magnifier, text and a clear button while there is text.
#pragma once

#include "design/line_edit_box.h"

class HoverAnimation;

// textEdited also fires when the clear button empties the field.
class SearchField final : public LineEditBox
{
    Q_OBJECT
public:
    static constexpr int BoxHeight = 32;

    explicit SearchField(QWidget *parent = nullptr);

    bool clearButtonVisible() const;
    // Where the clear button sits (empty while there is no text).
    QRect clearButtonRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void relayout() override;
    qreal hoverProgress() const override;
    void paintDecorations(QPainter &painter, const Palette &palette) const override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    HoverAnimation *m_hover;
    bool m_clearPressed = false;
};
