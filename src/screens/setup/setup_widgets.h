// Small pieces the setup screens share: selectable code text, the code box, icon headers and status labels.
#pragma once

#include "design/shell_widgets.h"

#include <QLabel>
#include <QPointer>
#include <QWidget>

class CopyButton;
class QScrollArea;
class QVBoxLayout;
class StatusDot;

// Code in the small monospaced font, selectable with the mouse, wrapping anywhere when too wide.
class CodeText final : public QLabel
{
    Q_OBJECT
public:
    explicit CodeText(const QString &text = {}, ColorRole color = {}, QWidget *parent = nullptr);

    // The code as given, whatever form the label shows it in.
    void setCode(const QString &code);
    QString code() const { return m_code; }
    // A line too long for the width continues under its own indent and one step more, so the pieces of
    // one line don't read as lines of their own.
    void setHangingIndent(bool hanging);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void showCode();

    ColorRole m_color;
    QString m_code;
    bool m_hanging = false;
};

// The code text and a copy button for the same text, on the outlined panel (radius 12).
// With overlayCopy the button floats 8 in from the top-trailing corner instead of sitting in the row.
class CodeBox final : public QWidget
{
    Q_OBJECT
public:
    explicit CodeBox(const QString &text = {}, qreal copySize = 11, bool overlayCopy = false, QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const;
    CodeText *codeText() const { return m_code; }
    CopyButton *copyButton() const { return m_copy; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    CodeText *m_code;
    CopyButton *m_copy;
    bool m_overlay;
};

// A status dot beside a label whose ink comes from the palette in force.
class StatusLabel final : public QWidget
{
    Q_OBJECT
public:
    explicit StatusLabel(qreal dotSize, QWidget *parent = nullptr);

    void setLook(const QString &label, const QColor &dot, bool pulse, ColorRole ink);
    QString label() const;
    StatusDot *dot() const { return m_dot; }
    ShellText *text() const { return m_text; }

private:
    StatusDot *m_dot;
    ShellText *m_text;
};

namespace SetupWidgets {

ColorRole foreground();
ColorRole mutedForeground();

// Text that keeps its whole width, on one line.
ShellText *text(const QString &text, const QFont &font, ColorRole color, QWidget *parent = nullptr);
// Text that wraps onto as many lines as it needs.
ShellText *wrapped(const QString &text, const QFont &font, ColorRole color, QWidget *parent = nullptr);

// A box with a horizontal or vertical layout without margins.
QWidget *row(int spacing, QWidget *parent = nullptr);
QWidget *column(int spacing, QWidget *parent = nullptr);

// A vertical scroll area with thin bars and a transparent background.
QScrollArea *scrollArea(QWidget *parent);

// A scroll area over a page whose column sits 24 in from every side; with a maxWidth, the column
// is at most that wide, at the leading edge. The caller fills the column and adds the scroll area
// to its own layout.
struct ScrollPage
{
    QScrollArea *scroll;
    QWidget *page; // the column's widget
    QVBoxLayout *column;
};
ScrollPage scrollPage(QWidget *parent, int spacing, int maxWidth = 0);

// A fixed-size sheet's layout: the header over a full-width rule, then what the caller adds.
QVBoxLayout *sheetColumn(QWidget *sheet, QWidget *header);

// Every text shown (visible) in a widget tree, in layout order: texts, tags, buttons, toasts, code.
QStringList shownTexts(const QWidget *root);

} // namespace SetupWidgets
