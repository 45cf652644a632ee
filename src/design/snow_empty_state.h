// The centred block shown where there is nothing to show: a tinted icon tile, a title, a message, actions.
#pragma once

#include <QColor>
#include <QWidget>

#include <optional>

class SnowText;
struct Palette;

class SnowEmptyState final : public QWidget
{
    Q_OBJECT
public:
    // actions may be null; the widget takes ownership of it.
    SnowEmptyState(const QString &icon, const QString &title, std::optional<QString> message, const QColor &tint,
                   bool compact, QWidget *actions = nullptr, QWidget *parent = nullptr);

    bool isCompact() const { return m_compact; }
    SnowText *titleText() const { return m_title; }
    SnowText *messageText() const { return m_message; }
    QWidget *tile() const { return m_tile; }
    QWidget *actions() const { return m_actions; }

    static int tileSide(bool compact) { return compact ? 52 : 64; }
    static qreal tileOpacity(const Palette &palette) ;

private:
    bool m_compact;
    QWidget *m_tile;
    SnowText *m_title;
    SnowText *m_message = nullptr;
    QWidget *m_actions;
};
