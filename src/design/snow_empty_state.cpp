// The empty-state block.
#include "design/snow_empty_state.h"

#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/palette.h"
#include "design/snow_text.h"
#include "design/symbols.h"

#include <QPainter>
#include <QVBoxLayout>

namespace {

class EmptyStateTile final : public QWidget
{
public:
    EmptyStateTile(const QString &icon, const QColor &tint, bool compact, QWidget *parent)
        : QWidget(parent), m_icon(icon), m_tint(tint), m_compact(compact)
    {
        const int side = SnowEmptyState::tileSide(compact);
        setFixedSize(side, side);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const Palette palette = Palette::of(this);
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(roundedRectPath(QRectF(rect()), 16), withOpacity(m_tint, SnowEmptyState::tileOpacity(palette)));
        Symbols::draw(p, QRectF(rect()), m_icon, m_compact ? 21 : 27, withOpacity(palette.foreground, 0.65));
    }

private:
    QString m_icon;
    QColor m_tint;
    bool m_compact;
};

} // namespace

qreal SnowEmptyState::tileOpacity(const Palette &palette)
{
    return palette.isDark ? 0.25 : 0.35;
}

SnowEmptyState::SnowEmptyState(const QString &icon, const QString &title, std::optional<QString> message,
                               const QColor &tint, bool compact, QWidget *actions, QWidget *parent)
    : QWidget(parent), m_compact(compact), m_actions(actions)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(compact ? 12 : 16);
    column->addStretch(1);

    m_tile = new EmptyStateTile(icon, tint, compact, this);
    column->addWidget(m_tile, 0, Qt::AlignHCenter);

    auto *block = new QVBoxLayout;
    block->setSpacing(5);
    m_title = new SnowText(title, Fonts::inter(compact ? 13 : 14, QFont::DemiBold),
                           [](const Palette &p) { return p.foreground; });
    m_title->setWrap(true);
    m_title->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    block->addWidget(m_title);
    if (message) {
        m_message = new SnowText(*message, Fonts::inter(12), [](const Palette &p) { return p.mutedForeground; });
        m_message->setWrap(true);
        m_message->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        m_message->setMaximumWidth(340);
        block->addWidget(m_message, 0, Qt::AlignHCenter);
    }
    column->addLayout(block);

    if (actions) {
        auto *holder = new QVBoxLayout;
        holder->setContentsMargins(0, 8, 0, 0);
        holder->addWidget(actions, 0, Qt::AlignHCenter);
        column->addLayout(holder);
    }
    column->addStretch(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}
