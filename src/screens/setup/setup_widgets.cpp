// Shared pieces of the setup screens.
#include "screens/setup/setup_widgets.h"

#include "design/badges.h"
#include "design/card_surface.h"
#include "design/copy_button.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/snow_empty_state.h"
#include "design/snow_toast.h"
#include "screens/setup/setup_logic.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

CodeText::CodeText(const QString &text, ColorRole color, QWidget *parent)
    : QLabel(text, parent)
    , m_color(color ? std::move(color) : SetupWidgets::mutedForeground())
{
    setFont(Fonts::ksCodeSm());
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setCursor(Qt::IBeamCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_code = text;
}

void CodeText::setCode(const QString &code)
{
    m_code = code;
    showCode();
}

void CodeText::setHangingIndent(bool hanging)
{
    m_hanging = hanging;
    showCode();
}

void CodeText::showCode()
{
    if (!m_hanging) {
        setTextFormat(Qt::PlainText);
        setText(m_code);
        return;
    }
    setTextFormat(Qt::RichText);
    setText(SetupLogic::hangingIndentHtml(m_code, fontMetrics().horizontalAdvance(QLatin1Char(' '))));
}

void CodeText::paintEvent(QPaintEvent *event)
{
    // The ink follows the palette in force, whichever theme the window shows now.
    const QColor ink = m_color(Palette::of(this));
    if (palette().color(QPalette::WindowText) != ink || palette().color(QPalette::Text) != ink) {
        QPalette colours = palette();
        colours.setColor(QPalette::WindowText, ink);
        colours.setColor(QPalette::Text, ink);
        colours.setColor(QPalette::Highlight, Palette::primary());
        colours.setColor(QPalette::HighlightedText, Qt::white);
        setPalette(colours);
    }
    QLabel::paintEvent(event);
}

CodeBox::CodeBox(const QString &text, qreal copySize, bool overlayCopy, QWidget *parent)
    : QWidget(parent)
    , m_code(new CodeText(text))
    , m_copy(new CopyButton(text, copySize))
    , m_overlay(overlayCopy)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *layout = new QHBoxLayout(this);
    layout->setSpacing(8);
    layout->addWidget(m_code, 1, Qt::AlignTop);
    if (overlayCopy) {
        m_copy->setParent(this);
        // Room for the floating button, so a long line never runs under it.
        layout->setContentsMargins(12, 12, 12 + 8 + m_copy->sizeHint().width(), 12);
        m_copy->raise();
    } else {
        layout->setContentsMargins(12, 12, 12, 12);
        layout->addWidget(m_copy, 0, Qt::AlignTop);
    }
}

void CodeBox::setText(const QString &text)
{
    m_code->setCode(text);
    m_copy->setText(text);
}

QString CodeBox::text() const
{
    return m_code->code();
}

void CodeBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintPanelStyle(painter, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), Palette::of(this), 12);
}

void CodeBox::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_overlay) {
        const QSize hint = m_copy->sizeHint();
        m_copy->setGeometry(width() - 8 - hint.width(), 8, hint.width(), hint.height());
    }
}

StatusLabel::StatusLabel(qreal dotSize, QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    m_dot = new StatusDot(Qt::gray, dotSize, false, this);
    m_text = SetupWidgets::text({}, Fonts::inter(11, QFont::DemiBold), SetupWidgets::mutedForeground(), this);
    layout->addWidget(m_dot, 0, Qt::AlignVCenter);
    layout->addWidget(m_text, 0, Qt::AlignVCenter);
}

void StatusLabel::setLook(const QString &label, const QColor &dot, bool pulse, ColorRole ink)
{
    m_text->setText(label);
    m_text->setColorRole(std::move(ink));
    m_dot->setColor(dot);
    m_dot->setPulse(pulse);
}

QString StatusLabel::label() const
{
    return m_text->text();
}

namespace SetupWidgets {

ColorRole foreground()
{
    return [](const Palette &p) { return p.foreground; };
}

ColorRole mutedForeground()
{
    return [](const Palette &p) { return p.mutedForeground; };
}

ShellText *text(const QString &text, const QFont &font, ColorRole color, QWidget *parent)
{
    auto *shown = new ShellText(text, font, std::move(color), parent);
    shown->setElideMode(Qt::ElideNone);
    return shown;
}

ShellText *wrapped(const QString &text, const QFont &font, ColorRole color, QWidget *parent)
{
    auto *shown = new ShellText(text, font, std::move(color), parent);
    shown->setWrap(true);
    shown->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return shown;
}

QWidget *row(int spacing, QWidget *parent)
{
    auto *box = new QWidget(parent);
    auto *layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return box;
}

QWidget *column(int spacing, QWidget *parent)
{
    auto *box = new QWidget(parent);
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return box;
}

QScrollArea *scrollArea(QWidget *parent)
{
    auto *scroll = new QScrollArea(parent);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus); // no Tab stop with nothing to show
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // No style sheet here: one on an ancestor would restyle the line edits inside with default colours.
    scroll->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    useThinScrollBars(scroll);
    return scroll;
}

ScrollPage scrollPage(QWidget *parent, int spacing, int maxWidth)
{
    QScrollArea *scroll = scrollArea(parent);
    auto *page = new QWidget;
    QWidget *inset = page;
    if (maxWidth > 0) {
        auto *pageRow = new QHBoxLayout(page);
        pageRow->setContentsMargins(0, 0, 0, 0);
        inset = new QWidget(page);
        inset->setMaximumWidth(maxWidth);
        pageRow->addWidget(inset, 1);
        pageRow->addStretch(0);
    }
    auto *column = new QVBoxLayout(inset);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(spacing);
    scroll->setWidget(page);
    // setWidget() turns the fill on; the page shows what lies behind the scroll area.
    page->setAutoFillBackground(false);
    return {scroll, inset, column};
}

QVBoxLayout *sheetColumn(QWidget *sheet, QWidget *header)
{
    auto *layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header);
    layout->addWidget(new SnowDivider(false, 0, sheet));
    return layout;
}

namespace {

void collect(const QWidget *root, const QWidget *widget, QStringList &out)
{
    for (QObject *child : widget->children()) {
        auto *w = qobject_cast<QWidget *>(child);
        if (!w || w->isHidden())
            continue;
        if (auto *text = qobject_cast<SnowText *>(w))
            out.append(text->text());
        else if (auto *tag = qobject_cast<SnowTag *>(w))
            out.append(tag->shownText());
        else if (auto *button = qobject_cast<KSButton *>(w))
            out.append(button->title());
        else if (auto *toast = qobject_cast<SnowToast *>(w))
            out.append(toast->text());
        else if (auto *code = qobject_cast<CodeText *>(w))
            out.append(code->text());
        collect(root, w, out);
    }
}

} // namespace

QStringList shownTexts(const QWidget *root)
{
    QStringList texts;
    collect(root, root, texts);
    return texts;
}

} // namespace SetupWidgets
