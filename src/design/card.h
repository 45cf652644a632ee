// The standard card: content padded on the card surface, and the card's title row.
#pragma once

#include <QWidget>

class SnowText;

class Card final : public QWidget
{
    Q_OBJECT
public:
    // Takes ownership of content; the card stretches to the width offered, content leading.
    Card(qreal padding, qreal radius, QWidget *content, QWidget *parent = nullptr);

    QWidget *content() const { return m_content; }
    qreal padding() const { return m_padding; }
    qreal radius() const { return m_radius; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *m_content;
    qreal m_padding;
    qreal m_radius;
};

class CardHeader final : public QWidget
{
    Q_OBJECT
public:
    // trailing may be null.
    explicit CardHeader(const QString &title, QWidget *trailing = nullptr, QWidget *parent = nullptr);

    SnowText *title() const { return m_title; }
    QWidget *trailing() const { return m_trailing; }

private:
    SnowText *m_title;
    QWidget *m_trailing;
};
