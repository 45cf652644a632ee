// Input box painting and the framing wrapper.
#include "design/snow_input.h"

#include "design/animated_flag.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>

namespace SnowInputLook {

QColor fill(const Palette &palette, qreal focus, qreal hover)
{
    return blendColors(blendColors(palette.inputBackground, palette.mutedStrong, hover), palette.elevated, focus);
}

QColor stroke(const Palette &palette, qreal focus)
{
    return withOpacity(palette.borderStrong, focus);
}

void paint(QPainter &painter, const QRectF &rect, const Palette &palette, qreal focus, qreal hover, qreal radius)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath box;
    box.addRoundedRect(rect, radius, radius);
    painter.fillPath(box, fill(palette, focus, hover));
    if (focus > 0) {
        QPainterPath outline;
        outline.addRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);
        painter.setPen(QPen(stroke(palette, focus), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(outline);
    }
    painter.restore();
}

namespace {

QPalette editorPalette(QPalette pal, const Palette &palette)
{
    pal.setColor(QPalette::Base, Qt::transparent);
    pal.setColor(QPalette::Window, Qt::transparent);
    pal.setColor(QPalette::Text, palette.foreground);
    pal.setColor(QPalette::PlaceholderText, palette.mutedForeground);
    pal.setColor(QPalette::Highlight, withOpacity(Palette::indigo(), 0.45));
    pal.setColor(QPalette::HighlightedText, palette.foreground);
    return pal;
}

} // namespace

void styleEditor(QWidget *editor, const Palette &palette)
{
    if (auto *edit = qobject_cast<QLineEdit *>(editor)) {
        styleLineEdit(edit, palette);
        return;
    }
    const QPalette pal = editorPalette(editor->palette(), palette);
    if (pal != editor->palette())
        editor->setPalette(pal);
    if (auto *area = qobject_cast<QAbstractScrollArea *>(editor)) {
        if (area->frameShape() != QFrame::NoFrame)
            area->setFrameShape(QFrame::NoFrame);
        if (area->viewport()->autoFillBackground())
            area->viewport()->setAutoFillBackground(false);
    }
}

void styleLineEdit(QLineEdit *edit, const Palette &palette)
{
    QPalette pal = editorPalette(edit->palette(), palette);
    if (pal != edit->palette())
        edit->setPalette(pal);
    // Only when changed: these repaint, and the box that calls this from its paint event sits underneath.
    if (edit->hasFrame())
        edit->setFrame(false);
    if (edit->autoFillBackground())
        edit->setAutoFillBackground(false);
    edit->setAttribute(Qt::WA_MacShowFocusRect, false);
}

} // namespace SnowInputLook

SnowInput::SnowInput(QWidget *editor, std::optional<int> height, qreal radius, QWidget *parent)
    : QWidget(parent), m_editor(editor), m_radius(radius), m_focus(new AnimatedFlag(this, 150))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 0, 10, 0);
    layout->addWidget(editor);
    if (height)
        setFixedHeight(*height);
    m_focus->followFocus(editor);
    KeyboardReach::installOnEditor(editor);
    SnowInputLook::styleEditor(editor, Palette::of(this));
}

bool SnowInput::isFocused() const
{
    return m_focus->value();
}

void SnowInput::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    SnowInputLook::styleEditor(m_editor, palette);
    QPainter p(this);
    SnowInputLook::paint(p, QRectF(rect()), palette, m_focus->progress(), 0, m_radius);
    KeyboardReach::paintRing(p, m_editor, QRectF(rect()), m_radius);
}
