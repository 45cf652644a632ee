// A mark that spills past a widget's frame (a pulsing halo, a count badge) without changing the layout.
#pragma once

#include <QMargins>
#include <QPointer>
#include <QWidget>

#include <functional>

// Lives in the anchor's parent, covers the anchor's geometry grown by `spill`, stays stacked directly
// under or over the anchor and follows it as it moves, resizes, shows and hides. It ignores the mouse.
// The painter callback receives the anchor's rectangle in the overlay's coordinates.
class AnchoredOverlay final : public QWidget
{
    Q_OBJECT
public:
    using PaintFunction = std::function<void(QPainter &painter, const QRectF &anchorRect)>;
    enum class Stacking { under, over };

    AnchoredOverlay(QWidget *anchor, const QMargins &spill, Stacking stacking, PaintFunction paint);

    void setSpill(const QMargins &spill);
    // Re-reads the anchor's geometry and visibility.
    void follow();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QPointer<QWidget> m_anchor;
    QMargins m_spill;
    Stacking m_stacking;
    PaintFunction m_paint;
};
