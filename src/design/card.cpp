// Card and card header.
#include "design/card.h"

#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/palette.h"
#include "design/snow_text.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

Card::Card(qreal padding, qreal radius, QWidget *content, QWidget *parent)
    : QWidget(parent), m_content(content), m_padding(padding), m_radius(radius)
{
    auto *layout = new QVBoxLayout(this);
    const int pad = qRound(padding);
    layout->setContentsMargins(pad, pad, pad, pad);
    layout->setSpacing(0);
    if (content)
        layout->addWidget(content, 0, Qt::AlignLeft | Qt::AlignTop);
    // The content keeps its own width unless it asks for more; the card always takes the full width.
    if (content && content->sizePolicy().horizontalPolicy() & QSizePolicy::ExpandFlag)
        layout->setAlignment(content, Qt::Alignment());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void Card::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    paintCardSurface(p, QRectF(rect()), Palette::of(this), m_radius);
}

CardHeader::CardHeader(const QString &title, QWidget *trailing, QWidget *parent)
    : QWidget(parent), m_title(new SnowText(title, Fonts::ksSection(), [](const Palette &p) { return p.foreground; })),
      m_trailing(trailing)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(m_title, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    if (trailing)
        layout->addWidget(trailing, 0, Qt::AlignVCenter);
}
