// The one-line text input.
#include "design/snow_text_field.h"

#include "design/animated_flag.h"
#include "design/fonts.h"
#include "design/palette.h"
#include "design/snow_input.h"
#include "design/symbols.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPainter>

namespace {

constexpr int Pad = 10;
constexpr int Spacing = 8;
constexpr qreal IconSize = 13;

} // namespace

SnowTextField::SnowTextField(QWidget *parent)
    : QWidget(parent), m_edit(new QLineEdit(this)), m_focus(new AnimatedFlag(this, 150))
{
    m_edit->setFont(Fonts::inter(13));
    m_edit->installEventFilter(this);
    SnowInputLook::styleLineEdit(m_edit, Palette::of(this));
    connect(m_edit, &QLineEdit::textEdited, this, &SnowTextField::textEdited);
    connect(m_edit, &QLineEdit::returnPressed, this, &SnowTextField::submitted);
    setFocusProxy(m_edit);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    relayout();
}

void SnowTextField::setPlaceholder(const QString &placeholder)
{
    m_edit->setPlaceholderText(placeholder);
}

QString SnowTextField::placeholder() const
{
    return m_edit->placeholderText();
}

void SnowTextField::setText(const QString &text)
{
    if (m_edit->text() != text)
        m_edit->setText(text);
}

QString SnowTextField::text() const
{
    return m_edit->text();
}

void SnowTextField::setIcon(const QString &symbol)
{
    m_icon = symbol;
    relayout();
}

void SnowTextField::setMono(bool mono)
{
    m_mono = mono;
    m_edit->setFont(mono ? Fonts::ksCode() : Fonts::inter(13));
    relayout();
}

void SnowTextField::setBoxHeight(std::optional<int> height)
{
    m_height = height;
    relayout();
}

bool SnowTextField::isFocused() const
{
    return m_focus->value();
}

void SnowTextField::relayout()
{
    const int iconWidth = m_icon.isEmpty() ? 0 : int(Symbols::glyphPixelSize(IconSize)) + Spacing;
    const int h = sizeHint().height();
    setFixedHeight(h);
    const int editHeight = qMin(h, m_edit->sizeHint().height());
    m_edit->setGeometry(Pad + iconWidth, (h - editHeight) / 2, qMax(0, width() - 2 * Pad - iconWidth), editHeight);
    updateGeometry();
    update();
}

QSize SnowTextField::sizeHint() const
{
    const int natural = qMax(m_edit->sizeHint().height(), QFontMetrics(m_edit->font()).height() + 12);
    return {200, m_height.value_or(natural)};
}

QSize SnowTextField::minimumSizeHint() const
{
    return {2 * Pad + 40, sizeHint().height()};
}

bool SnowTextField::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_edit) {
        if (event->type() == QEvent::FocusIn)
            m_focus->set(true);
        else if (event->type() == QEvent::FocusOut)
            m_focus->set(false);
    }
    return QWidget::eventFilter(watched, event);
}

void SnowTextField::resizeEvent(QResizeEvent *)
{
    relayout();
}

void SnowTextField::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    SnowInputLook::styleLineEdit(m_edit, palette);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    SnowInputLook::paint(p, QRectF(rect()), palette, m_focus->progress(), 0, 8);
    if (!m_icon.isEmpty())
        Symbols::draw(p, QRectF(Pad, 0, Symbols::glyphPixelSize(IconSize), height()), m_icon, IconSize, palette.faint);
}
