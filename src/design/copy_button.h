// An icon button that puts a text on the clipboard and shows a check mark for 1.6 s.
#pragma once

#include <QWidget>

struct Palette;

class CopyButton final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int ConfirmationMs = 1600;

    explicit CopyButton(const QString &text = {}, qreal size = 12, QWidget *parent = nullptr);

    void setText(const QString &text) { m_text = text; }
    QString text() const { return m_text; }
    // The glyph's point size.
    void setGlyphSize(qreal size);
    qreal glyphSize() const { return m_size; }
    bool isCopied() const { return m_copied; }
    // How long the check mark shows; ConfirmationMs unless a test shortens it.
    int confirmationDuration() const { return m_confirmationMs; }
    void setConfirmationDuration(int ms) { m_confirmationMs = ms; }

    QString symbol() const;
    static QColor symbolColor(const Palette &palette, bool copied);

    // What a click does: replace the clipboard's contents with the text and show the confirmation.
    void copy();

    QSize sizeHint() const override;

signals:
    void copiedChanged(bool copied);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void setCopied(bool copied);

    QString m_text;
    qreal m_size;
    bool m_copied = false;
    int m_confirmationMs = ConfirmationMs;
    bool m_pressed = false;
};
