// The response body's read-only view for short bodies: coloured JSON, selectable by mouse, as tall as its text.
#pragma once

#include <QTextEdit>
#include <QWidget>

class JSONSyntaxHighlighter;

// A short body laid out as rich text, wrapping at word boundaries, as tall as its text (no inner scrolling).
class JsonBodyView final : public QTextEdit
{
    Q_OBJECT
public:
    explicit JsonBodyView(QWidget *parent = nullptr);
    void setBody(const QString &body);
    QString selectedText() const;

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void fitHeight();

    JSONSyntaxHighlighter *m_highlighter;
};
