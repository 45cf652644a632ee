// Hover fades of painted list rows.
#include "screens/routes/row_hover_fade.h"

#include <QAbstractItemView>
#include <QEasingCurve>
#include <QEvent>
#include <QMouseEvent>
#include <QVariantAnimation>

RowHoverFade::RowHoverFade(QAbstractItemView *view)
    : QObject(view)
    , m_view(view)
    , m_animation(new QVariantAnimation(this))
{
    m_animation->setDuration(DurationMs);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        const qreal t = value.toReal();
        m_inProgress = t;
        m_outProgress = m_outFrom * (1 - t);
        repaint(m_in);
        repaint(m_out);
    });
    view->viewport()->installEventFilter(this);
}

const RowHoverFade *RowHoverFade::of(const QWidget *view)
{
    return view ? view->findChild<RowHoverFade *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

qreal RowHoverFade::progress(const QModelIndex &index) const
{
    if (!index.isValid())
        return 0;
    if (index == m_in)
        return m_inProgress;
    if (index == m_out)
        return m_outProgress;
    return 0;
}

void RowHoverFade::setHovered(const QModelIndex &index)
{
    if (QModelIndex(m_in) == index)
        return;
    repaint(m_out);
    m_out = m_in;
    m_outFrom = m_inProgress;
    m_outProgress = m_inProgress;
    m_in = index;
    m_inProgress = 0;
    m_animation->stop();
    m_animation->start();
}

void RowHoverFade::repaint(const QModelIndex &index)
{
    if (index.isValid())
        m_view->viewport()->update(m_view->visualRect(index));
}

bool RowHoverFade::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::HoverMove:
        setHovered(m_view->indexAt(static_cast<QSinglePointEvent *>(event)->position().toPoint()));
        break;
    case QEvent::Leave:
    case QEvent::HoverLeave:
        setHovered({});
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
