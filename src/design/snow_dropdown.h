// A control whose label opens a menu below it on click; the label is drawn by the caller.
#pragma once

#include "design/snow_menu_item.h"

#include <QList>
#include <QWidget>

#include <functional>

class QPainter;
class SnowMenuOpener;
struct Palette;

class SnowDropdown final : public QWidget
{
    Q_OBJECT
public:
    // Draws the label into the dropdown's rectangle; open is true while the menu is shown.
    using LabelPainter = std::function<void(QPainter &, const QRectF &, bool open, const Palette &)>;

    explicit SnowDropdown(QWidget *parent = nullptr);

    void setItems(const QList<SnowMenuItem> &items);
    // Asked each time the menu opens, so the entries follow live state.
    void setItemsProvider(std::function<QList<SnowMenuItem>()> provider);
    void setMenuWidth(int width);
    int menuWidth() const;

    void setLabelPainter(LabelPainter painter);
    // A label made of widgets fills the dropdown and lets clicks through to it.
    void setLabelWidget(QWidget *label);

    bool isOpen() const;
    void setOpen(bool open);
    SnowMenuOpener *menu() const { return m_menu; }

    QSize sizeHint() const override;

signals:
    void openChanged(bool open);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    SnowMenuOpener *m_menu;
    LabelPainter m_painter;
    QWidget *m_label = nullptr;
    bool m_pressed = false;
};
