// The activity heat strip.
#include "design/activity_graph.h"

#include "design/card_surface.h"
#include "design/palette.h"

#include <QPainter>
#include <QtMath>

namespace ActivityCells {

int level(const QList<int> &values, qsizetype index)
{
    return index >= 0 && index < values.size() ? values.at(index) : 0;
}

QColor color(int level, const Palette &palette)
{
    if (level <= 0)
        return palette.muted;
    if (level == 1)
        return withOpacity(Palette::mint(), 0.35);
    if (level == 2)
        return withOpacity(Palette::mint(), 0.6);
    if (level == 3)
        return withOpacity(Palette::mint(), 0.85);
    return Palette::mint();
}

namespace {

qreal cellSide(qreal width, int columns)
{
    if (columns <= 0)
        return 0;
    // In floating point: the spacing of a huge column count must not overflow an int.
    return qMax(0.0, (width - Spacing * (double(columns) - 1)) / double(columns));
}

} // namespace

QList<QRectF> rects(qreal width, qreal height, int columns)
{
    QList<QRectF> cells;
    const qreal side = cellSide(width, columns);
    if (side <= 0)
        return cells;
    const qreal square = qMin(side, height > 0 ? height : side);
    const qreal top = height > 0 ? (height - square) / 2 : 0;
    cells.reserve(columns);
    for (int i = 0; i < columns; ++i) {
        const qreal x = i * (side + Spacing);
        if (x >= width)
            break;
        // A cell narrower than its slot (height-bound) is centred in it.
        cells.append(QRectF(x + (side - square) / 2, top, square, square));
    }
    return cells;
}

} // namespace ActivityCells

ActivityGraph::ActivityGraph(const QList<int> &values, int columns, QWidget *parent)
    : QWidget(parent), m_values(values), m_columns(columns)
{
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void ActivityGraph::setValues(const QList<int> &values)
{
    m_values = values;
    update();
}

void ActivityGraph::setColumns(int columns)
{
    m_columns = columns;
    updateGeometry();
    update();
}

int ActivityGraph::heightForWidth(int width) const
{
    if (m_columns <= 0)
        return 0;
    return qMax(0, qFloor((width - ActivityCells::Spacing * (double(m_columns) - 1)) / double(m_columns)));
}

QSize ActivityGraph::sizeHint() const
{
    const int width = 240;
    return QSize(width, heightForWidth(width));
}

void ActivityGraph::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const Palette palette = Palette::of(this);
    const QList<QRectF> cells = ActivityCells::rects(width(), height(), m_columns);
    for (qsizetype i = 0; i < cells.size(); ++i)
        p.fillPath(roundedRectPath(cells.at(i), ActivityCells::CornerRadius),
                   ActivityCells::color(ActivityCells::level(m_values, i), palette));
}
