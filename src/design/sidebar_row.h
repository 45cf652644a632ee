// A sidebar row (mark, label, trailing view) and the count pill that sits at its end.
#pragma once

#include <QColor>
#include <QWidget>

#include <optional>

class QHBoxLayout;
struct Palette;

class SidebarRow final : public QWidget
{
    Q_OBJECT
public:
    explicit SidebarRow(const QString &label, QWidget *parent = nullptr);

    void setLabel(const QString &label);
    QString label() const { return m_label; }
    void setIcon(const QString &symbol);
    void setEmoji(const QString &emoji);
    void setActive(bool active);
    bool isActive() const { return m_active; }
    // Nested rows (indent > 0) are 26 high with 12-point text, top-level rows 30 with 13-point text.
    void setIndent(qreal indent);
    qreal indent() const { return m_indent; }
    void setIconColor(std::optional<QColor> color);
    // Placed at the right end of the row; may be null.
    void setTrailing(QWidget *trailing);
    bool isHovered() const { return m_hovered; }

    static int rowHeight(qreal indent);
    static QColor rowFill(const Palette &palette, bool active, qreal indent, bool hovered);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void relayout();
    bool hasMark() const { return !m_emoji.isEmpty() || !m_icon.isEmpty(); }
    int leadingWidth() const;

    QString m_label;
    QString m_icon;
    QString m_emoji;
    bool m_active = false;
    qreal m_indent = 0;
    std::optional<QColor> m_iconColor;
    QWidget *m_trailing = nullptr;
    QHBoxLayout *m_layout;
    bool m_hovered = false;
    bool m_pressed = false;
};

class SidebarCount final : public QWidget
{
    Q_OBJECT
public:
    explicit SidebarCount(qint64 count = 0, bool emphasized = false, QWidget *parent = nullptr);

    void setCount(qint64 count);
    qint64 count() const { return m_count; }
    void setEmphasized(bool emphasized);
    bool isEmphasized() const { return m_emphasized; }
    QString text() const { return QString::number(m_count); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qint64 m_count;
    bool m_emphasized;
};
