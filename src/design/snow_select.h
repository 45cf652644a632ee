// The select box: shows the current choice and opens the entries' menu below itself.
#pragma once

#include "design/ks_button.h"
#include "design/snow_menu_item.h"

#include <QList>
#include <QWidget>

#include <functional>
#include <optional>

class AnimatedFlag;
class HoverAnimation;
class SnowMenuOpener;

class SnowSelect final : public QWidget
{
    Q_OBJECT
public:
    explicit SnowSelect(QWidget *parent = nullptr);

    // The text in the box: the current choice, or a placeholder drawn faint.
    void setValue(const QString &value, bool placeholder = false);
    QString value() const { return m_value; }
    bool isPlaceholder() const { return m_placeholder; }
    void setIcon(const QString &symbol);
    // Short of room the box can show its icon and chevron alone, at iconOnlyWidth().
    void setValueShown(bool shown);
    bool valueShown() const { return m_valueShown; }
    static int iconOnlyWidth();
    // A fixed width; without one the box takes the width offered.
    void setBoxWidth(std::optional<int> width);
    std::optional<int> boxWidth() const { return m_width; }
    void setSize(KSButton::Size size);
    KSButton::Size size() const { return m_size; }
    void setMenuWidth(int width) { m_menuWidth = width; }
    // The opened menu is as wide as the menu width, or the box's fixed width when that is wider.
    int effectiveMenuWidth() const;
    static int effectiveMenuWidth(int menuWidth, std::optional<int> boxWidth);

    void setItems(const QList<SnowMenuItem> &items);
    void setItemsProvider(std::function<QList<SnowMenuItem>()> provider);

    bool isOpen() const;
    void setOpen(bool open);
    SnowMenuOpener *menu() const { return m_menu; }

    static int boxHeight(KSButton::Size size);
    static qreal textSize(KSButton::Size size);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void openChanged(bool open);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    // Space, Return and the up and down arrows open the menu at the current choice.
    void keyPressEvent(QKeyEvent *event) override;

private:
    void applyGeometry();

    QString m_value;
    bool m_placeholder = false;
    QString m_icon;
    bool m_valueShown = true;
    std::optional<int> m_width;
    KSButton::Size m_size = KSButton::Size::md;
    int m_menuWidth = 200;
    SnowMenuOpener *m_menu;
    HoverAnimation *m_hover;
    AnimatedFlag *m_openLook;
    // The box looks focused while it has the keyboard focus, as the text fields do.
    bool m_pressed = false;
};
