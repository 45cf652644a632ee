// A notification pill in one of three tones, on a surface that inverts the window's appearance.
#pragma once

#include <QColor>
#include <QWidget>

struct Palette;

class SnowToast final : public QWidget
{
    Q_OBJECT
public:
    enum class Tone { success, error, info };

    SnowToast(const QString &text, Tone tone, QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return m_text; }
    void setTone(Tone tone);
    Tone tone() const { return m_tone; }

    static QString symbol(Tone tone);
    static QColor symbolColor(Tone tone);
    static QColor textColor(const Palette &palette);
    static QColor surfaceColor(const Palette &palette);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    Tone m_tone;
};
