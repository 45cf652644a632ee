// A list view for the traffic screens' painted rows on the table's card: no frame, hover tracked,
// and a right-click "Replay request" menu on rows.
#pragma once

#include <QListView>

#include <functional>

class SnowContextMenu;

class TrafficListView final : public QListView
{
    Q_OBJECT
public:
    explicit TrafficListView(QWidget *parent = nullptr);

    // The menu for a row: replay(id) runs its action; enabled() says whether it may be chosen now.
    void setReplayMenu(std::function<QString(const QModelIndex &)> idOf, std::function<bool()> enabled,
                       std::function<void(const QString &)> replay);
    SnowContextMenu *contextMenu() const { return m_menu; }
    // Row under a point of the view's own coordinates.
    QModelIndex rowAt(const QPoint &viewPos) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    SnowContextMenu *m_menu = nullptr;
};
