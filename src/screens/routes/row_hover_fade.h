// Eases the hovered row of a painted list in and out over 0.15 s, for the delegates that draw its fill.
#pragma once

#include <QObject>
#include <QPersistentModelIndex>

class QAbstractItemView;
class QVariantAnimation;

class RowHoverFade final : public QObject
{
    Q_OBJECT
public:
    static constexpr int DurationMs = 150;

    // Watches the view's viewport; owned by the view.
    explicit RowHoverFade(QAbstractItemView *view);

    // The fade of a row: towards 1 under the pointer, towards 0 for the row it left, 0 elsewhere.
    qreal progress(const QModelIndex &index) const;
    QModelIndex hovered() const { return m_in; }
    void setHovered(const QModelIndex &index);

    // The fade a view carries, or null.
    static const RowHoverFade *of(const QWidget *view);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void repaint(const QModelIndex &index);

    QAbstractItemView *m_view;
    QVariantAnimation *m_animation;
    QPersistentModelIndex m_in;
    QPersistentModelIndex m_out;
    qreal m_inProgress = 0;
    qreal m_outProgress = 0;
    qreal m_outFrom = 0;
};
