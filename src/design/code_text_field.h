// A multi-line code field in the input look that lays out only the lines in view, for texts with very long lines.
#pragma once

#include <QWidget>

class AnimatedFlag;
class CodeTextView;

// Shows one to `maxLines` wrapped lines, longer text scrolling inside; the text is kept exactly as typed.
// textEdited follows the user's typing only, never setText.
class CodeTextField final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int VerticalInset = 8;
    static constexpr int HorizontalInset = 10;

    explicit CodeTextField(int maxLines, QWidget *parent = nullptr);

    QString text() const;
    // Fills the field without emitting textEdited; the cursor stays where it was when the text is unchanged.
    void setText(const QString &text);
    void setPlaceholder(const QString &placeholder);
    CodeTextView *view() const { return m_view; }
    bool isFocused() const;

signals:
    void textEdited(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    CodeTextView *m_view;
    AnimatedFlag *m_focus;
};
