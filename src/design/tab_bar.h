// Text tabs with an underline under the selected one.
#pragma once

#include <QList>
#include <QVariant>
#include <QWidget>

class AnimatedFlag;

class TabBar final : public QWidget
{
    Q_OBJECT
public:
    struct Item
    {
        QVariant value;
        QString label;
    };

    explicit TabBar(QWidget *parent = nullptr);

    void setItems(const QList<Item> &items);
    const QList<Item> &items() const { return m_items; }
    // Shows the selection without emitting selectionEdited; a value that matches no tab selects none.
    void setSelection(const QVariant &value);
    QVariant selection() const { return m_selection; }

    int tabCount() const;
    class TabBarTab *tab(int index) const;

signals:
    void selectionEdited(const QVariant &value);

private:
    void refreshTabs(bool animate);

    QList<Item> m_items;
    QVariant m_selection;
    QList<TabBarTab *> m_tabs;
};

class TabBarTab final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int UnderlineHeight = 3;
    static constexpr int Spacing = 4;

    explicit TabBarTab(const QString &label, QWidget *parent = nullptr);
    bool isSelected() const;
    void setSelected(bool selected, bool animate);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QString m_label;
    AnimatedFlag *m_selected;
    bool m_pressed = false;
};
