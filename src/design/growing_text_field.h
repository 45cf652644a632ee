// A plain multi-line text field in the input look that grows with its text from one line to a limit.
#pragma once

#include <QWidget>

class AnimatedFlag;
class QPlainTextEdit;

// Longer text scrolls inside the field. textEdited follows the user's typing only, never setText.
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
    void setReadOnly(bool readOnly);

    QPlainTextEdit *editor() const { return m_edit; }
    bool isFocused() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void textEdited(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void relayout();
    int lineHeight() const;

    QPlainTextEdit *m_edit;
    AnimatedFlag *m_focus;
    int m_maxLines = 4;
    bool m_filling = false;
};
