// Overlays that follow an anchor widget.
#include "design/anchored_overlay.h"

#include <QEvent>
#include <QPainter>

AnchoredOverlay::AnchoredOverlay(QWidget *anchor, const QMargins &spill, Stacking stacking, PaintFunction paint)
    : QWidget(anchor->parentWidget()), m_anchor(anchor), m_spill(spill), m_stacking(stacking),
      m_paint(std::move(paint))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    anchor->installEventFilter(this);
    follow();
}

void AnchoredOverlay::setSpill(const QMargins &spill)
{
    m_spill = spill;
    follow();
}

void AnchoredOverlay::follow()
{
    if (!m_anchor || m_anchor->parentWidget() != parentWidget()) {
        hide();
        return;
    }
    setGeometry(m_anchor->geometry().marginsAdded(m_spill));
    if (m_stacking == Stacking::under) {
        stackUnder(m_anchor);
    } else {
        raise();
    }
    setVisible(m_anchor->isVisibleTo(parentWidget()));
    update();
}

bool AnchoredOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_anchor) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::ParentChange:
            follow();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void AnchoredOverlay::paintEvent(QPaintEvent *)
{
    if (!m_anchor || !m_paint)
        return;
    QPainter p(this);
    m_paint(p, QRectF(m_spill.left(), m_spill.top(), m_anchor->width(), m_anchor->height()));
}
