// The shared part of the one-line inputs: a frameless line edit in the input box, focus look and all.
#pragma once

#include <QWidget>

class AnimatedFlag;
class QLineEdit;
class QPainter;
struct Palette;

// The box eases into its focused look while the line edit has keyboard focus.
class LineEditBox : public QWidget
{
    Q_OBJECT
public:
    void setPlaceholder(const QString &placeholder);
    QString placeholder() const;
    // Fills the field without emitting textEdited.
    void setText(const QString &text);
    QString text() const;

    QLineEdit *lineEdit() const { return m_edit; }
    bool isFocused() const;

signals:
    // The user changed the text.
    void textEdited(const QString &text);

protected:
    explicit LineEditBox(QWidget *parent);

    // Places the line edit inside the box.
    virtual void relayout() = 0;
    virtual qreal hoverProgress() const { return 0; }
    // Draws what sits in the box beside the text (symbols, buttons).
    virtual void paintDecorations(QPainter &painter, const Palette &palette) const = 0;

    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QLineEdit *m_edit;
    AnimatedFlag *m_focus;
};
