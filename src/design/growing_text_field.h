// A plain multi-line text field in the input look that grows with its text from one line to a limit.
#pragma once

#include "design/exact_plain_text_edit.h"

#include <QWidget>

class AnimatedFlag;

// Longer text scrolls inside the field. The text is kept exactly as given and typed (ExactPlainTextEdit);
// textEdited follows the user's typing only, never setText.
class GrowingTextField final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int VerticalInset = 8;
    static constexpr int HorizontalInset = 10;

    explicit GrowingTextField(QWidget *parent = nullptr);

    QString text() const;
    // Fills the field without emitting textEdited; the cursor stays where it was when the text is unchanged.
    void setText(const QString &text);
    void setPlaceholder(const QString &placeholder);
    QString placeholder() const;
    void setMaxLines(int lines);
    int maxLines() const { return m_maxLines; }
    // Lines the field shows now: the text's laid-out lines between 1 and the limit.
    int shownLines() const;
    // The whole text is in view: it neither scrolls nor takes the wheel from the page around it.
    bool textFits() const;
    void setReadOnly(bool readOnly);

    ExactPlainTextEdit *editor() const { return m_edit; }
    bool isFocused() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void textEdited(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void relayout();
    int lineHeight() const;
    // The text's laid-out lines, counted up to `limit`.
    int laidOutLines(int limit) const;

    ExactPlainTextEdit *m_edit;
    AnimatedFlag *m_focus;
    int m_maxLines = 4;
};
