// A one-row heat strip of square cells, one per time bucket, coloured by an activity level 0 to 4.
#pragma once

#include <QColor>
#include <QList>
#include <QRectF>
#include <QWidget>

struct Palette;

namespace ActivityCells {

// The level of cell i: the value at i, or 0 past the end of the list.
int level(const QList<int> &values, qsizetype index);

// muted for 0 and below, mint at 0.35 / 0.6 / 0.85 for 1 to 3, opaque mint from 4 up.
QColor color(int level, const Palette &palette);

// The squares of a row of `columns` cells 3 apart sharing `width`, centred vertically in `height`.
// Zero or negative columns give no cells, and only cells that can be seen are returned (at most one
// per pixel of width), so an absurd column count costs no more than the width.
QList<QRectF> rects(qreal width, qreal height, int columns);

inline constexpr qreal Spacing = 3;
inline constexpr qreal CornerRadius = 2.5;

} // namespace ActivityCells

class ActivityGraph final : public QWidget
{
    Q_OBJECT
public:
    explicit ActivityGraph(const QList<int> &values = {}, int columns = 24, QWidget *parent = nullptr);

    QList<int> values() const { return m_values; }
    void setValues(const QList<int> &values);
    int columns() const { return m_columns; }
    void setColumns(int columns);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<int> m_values;
    int m_columns;
};
