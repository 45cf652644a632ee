// The search box.
#include "design/search_field.h"

#include "design/hover_animation.h"
#include "design/palette.h"
#include "design/symbols.h"

#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int Pad = 10;
constexpr int Spacing = 8;
constexpr qreal SymbolSize = 12;

int symbolWidth()
{
    return int(Symbols::glyphPixelSize(SymbolSize));
}

} // namespace

SearchField::SearchField(QWidget *parent) : LineEditBox(parent), m_hover(new HoverAnimation(this))
{
    connect(lineEdit(), &QLineEdit::textChanged, this, [this] {
        relayout();
        update();
    });
    setFixedHeight(BoxHeight);
    relayout();
}

bool SearchField::clearButtonVisible() const
{
    return !text().isEmpty();
}

QRect SearchField::clearButtonRect() const
{
    if (!clearButtonVisible())
        return {};
    return {width() - Pad - symbolWidth(), 0, symbolWidth(), height()};
}

void SearchField::relayout()
{
    const int left = Pad + symbolWidth() + Spacing;
    const int right = Pad + (clearButtonVisible() ? symbolWidth() + Spacing : 0);
    const int editHeight = qMin(height(), lineEdit()->sizeHint().height());
    lineEdit()->setGeometry(left, (height() - editHeight) / 2, qMax(0, width() - left - right), editHeight);
}

QSize SearchField::sizeHint() const
{
    return {240, BoxHeight};
}

QSize SearchField::minimumSizeHint() const
{
    return {2 * Pad + 2 * symbolWidth() + 2 * Spacing + 40, BoxHeight};
}

qreal SearchField::hoverProgress() const
{
    return m_hover->progress();
}

void SearchField::mousePressEvent(QMouseEvent *event)
{
    m_clearPressed = event->button() == Qt::LeftButton && clearButtonRect().contains(event->position().toPoint());
    if (!m_clearPressed && event->button() == Qt::LeftButton)
        lineEdit()->setFocus(Qt::MouseFocusReason);
    event->accept();
}

void SearchField::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_clearPressed;
    m_clearPressed = false;
    event->accept();
    if (wasPressed && clearButtonRect().contains(event->position().toPoint())) {
        lineEdit()->clear();
        emit textEdited(QString());
    }
}

void SearchField::paintDecorations(QPainter &p, const Palette &palette) const
{
    Symbols::draw(p, QRectF(Pad, 0, symbolWidth(), height()), QStringLiteral("magnifyingglass"), SymbolSize,
                  palette.faint);
    if (clearButtonVisible())
        Symbols::draw(p, QRectF(clearButtonRect()), QStringLiteral("xmark.circle.fill"), SymbolSize, palette.faint);
}
