// The search box: magnifier, text and a clear button while there is text.
#pragma once

#include <QWidget>

class AnimatedFlag;
class HoverAnimation;
class QLineEdit;

class SearchField final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int BoxHeight = 32;

    explicit SearchField(QWidget *parent = nullptr);

    void setPlaceholder(const QString &placeholder);
    QString placeholder() const;
    // Fills the field without emitting textEdited.
    void setText(const QString &text);
    QString text() const;

    QLineEdit *lineEdit() const { return m_edit; }
    bool isFocused() const;
    bool clearButtonVisible() const;
    // Where the clear button sits (empty while there is no text).
    QRect clearButtonRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The user typed, or emptied the field with the clear button.
    void textEdited(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void relayout();

    QLineEdit *m_edit;
    AnimatedFlag *m_focus;
    HoverAnimation *m_hover;
    bool m_clearPressed = false;
};
