// The search box.
#include "design/search_field.h"

#include "design/animated_flag.h"
#include "design/fonts.h"
#include "design/hover_animation.h"
#include "design/palette.h"
#include "design/snow_input.h"
#include "design/symbols.h"

#include <QEvent>
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

SearchField::SearchField(QWidget *parent)
    : QWidget(parent), m_edit(new QLineEdit(this)), m_focus(new AnimatedFlag(this, 150)),
      m_hover(new HoverAnimation(this))
{
    m_edit->setFont(Fonts::inter(13));
    m_edit->installEventFilter(this);
    SnowInputLook::styleLineEdit(m_edit, Palette::of(this));
    connect(m_edit, &QLineEdit::textEdited, this, &SearchField::textEdited);
    connect(m_edit, &QLineEdit::textChanged, this, [this] {
        relayout();
        update();
    });
    setFocusProxy(m_edit);
    setFixedHeight(BoxHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    relayout();
}

void SearchField::setPlaceholder(const QString &placeholder)
{
    m_edit->setPlaceholderText(placeholder);
}

QString SearchField::placeholder() const
{
    return m_edit->placeholderText();
}

void SearchField::setText(const QString &text)
{
    if (m_edit->text() != text)
        m_edit->setText(text);
}

QString SearchField::text() const
{
    return m_edit->text();
}

bool SearchField::isFocused() const
{
    return m_focus->value();
}

bool SearchField::clearButtonVisible() const
{
    return !m_edit->text().isEmpty();
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
    const int editHeight = qMin(height(), m_edit->sizeHint().height());
    m_edit->setGeometry(left, (height() - editHeight) / 2, qMax(0, width() - left - right), editHeight);
}

QSize SearchField::sizeHint() const
{
    return {240, BoxHeight};
}

QSize SearchField::minimumSizeHint() const
{
    return {2 * Pad + 2 * symbolWidth() + 2 * Spacing + 40, BoxHeight};
}

bool SearchField::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_edit) {
        if (event->type() == QEvent::FocusIn)
            m_focus->set(true);
        else if (event->type() == QEvent::FocusOut)
            m_focus->set(false);
    }
    return QWidget::eventFilter(watched, event);
}

void SearchField::resizeEvent(QResizeEvent *)
{
    relayout();
}

void SearchField::mousePressEvent(QMouseEvent *event)
{
    m_clearPressed = event->button() == Qt::LeftButton && clearButtonRect().contains(event->position().toPoint());
    if (!m_clearPressed && event->button() == Qt::LeftButton)
        m_edit->setFocus(Qt::MouseFocusReason);
    event->accept();
}

void SearchField::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_clearPressed;
    m_clearPressed = false;
    event->accept();
    if (wasPressed && clearButtonRect().contains(event->position().toPoint())) {
        m_edit->clear();
        emit textEdited(QString());
    }
}

void SearchField::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    SnowInputLook::styleLineEdit(m_edit, palette);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    SnowInputLook::paint(p, QRectF(rect()), palette, m_focus->progress(), m_hover->progress(), 8);
    Symbols::draw(p, QRectF(Pad, 0, symbolWidth(), height()), QStringLiteral("magnifyingglass"), SymbolSize,
                  palette.faint);
    if (clearButtonVisible())
        Symbols::draw(p, QRectF(clearButtonRect()), QStringLiteral("xmark.circle.fill"), SymbolSize, palette.faint);
}
