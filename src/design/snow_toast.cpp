// The toast pill.
#include "design/snow_toast.h"

#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/palette.h"
#include "design/symbols.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QHelpEvent>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int PadX = 16;
constexpr int PadY = 10;
constexpr int Spacing = 10;
constexpr qreal SymbolSize = 13;
constexpr qreal Radius = 8;
constexpr qreal ShadowRadius = 12;
constexpr qreal ShadowOpacity = 0.18;
// Below this the text would wrap into a column of single words.
constexpr int MinTextWidth = 160;

QFont textFont()
{
    return Fonts::inter(12, QFont::Medium);
}

int symbolWidth()
{
    return qRound(Symbols::glyphPixelSize(SymbolSize));
}

int chromeWidth()
{
    return 2 * PadX + symbolWidth() + Spacing;
}

// The message as laid out: its own line breaks kept, a long line wrapped at words (or anywhere when a
// word is wider than the pill), at most MaxLines, the last one elided when more would follow.
struct Wrapped
{
    QStringList lines;
    bool cut = false;
};

Wrapped wrapText(const QString &text, int width, const QFont &font = textFont(), int maxLines = SnowToast::MaxLines)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(shown, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    Wrapped wrapped;
    int lastStart = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (wrapped.lines.size() == maxLines) {
            wrapped.cut = true;
            break;
        }
        lastStart = line.textStart();
        wrapped.lines.append(shown.mid(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    if (wrapped.cut) {
        QString rest = shown.mid(lastStart);
        rest.replace(QChar::LineSeparator, QLatin1Char(' '));
        wrapped.lines.last() = QFontMetrics(font).elidedText(rest.simplified(), Qt::ElideRight, width);
    }
    for (QString &line : wrapped.lines) {
        line.remove(QChar::LineSeparator);
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
    }
    if (wrapped.lines.isEmpty())
        wrapped.lines.append(QString());
    return wrapped;
}

int textBlockHeight(int lines)
{
    const QFontMetrics fm(textFont());
    return (lines - 1) * fm.lineSpacing() + fm.height();
}

int contentHeight(int lines)
{
    return qMax(textBlockHeight(lines), symbolWidth());
}

int widestLine(const QStringList &lines)
{
    const QFontMetrics fm(textFont());
    int widest = 0;
    for (const QString &line : lines)
        widest = qMax(widest, fm.horizontalAdvance(line));
    return widest;
}

// One pass of a Gaussian blur along rows (step 1) or columns (step = row length) of an alpha plane.
void blurPass(const std::vector<float> &in, std::vector<float> &out, int width, int height, bool alongRows,
              const std::vector<float> &kernel)
{
    const int reach = int(kernel.size() / 2);
    const int length = alongRows ? width : height;
    const int lines = alongRows ? height : width;
    const int step = alongRows ? 1 : width;
    const int lineStep = alongRows ? width : 1;
    for (int line = 0; line < lines; ++line) {
        const int base = line * lineStep;
        for (int i = 0; i < length; ++i) {
            float sum = 0;
            for (int k = -reach; k <= reach; ++k) {
                const int j = i + k;
                if (j >= 0 && j < length)
                    sum += in[std::size_t(base + j * step)] * kernel[std::size_t(k + reach)];
            }
            out[std::size_t(base + i * step)] = sum;
        }
    }
}

} // namespace

// Paints the toast's shadow around the pill. A graphics effect would do it, but Qt draws nothing for an
// effect inside a parent that has one of its own (a card fading with its CA state). It lies above the
// toast's branch, so whatever that branch paints cannot hide it, and leaves the pill itself uncovered.
class ToastShadow final : public QWidget
{
public:
    explicit ToastShadow(QWidget *parent)
        : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const QSize pill = size() - QSize(2 * SnowToast::ShadowMargin, 2 * SnowToast::ShadowMargin);
        if (pill.isEmpty())
            return;
        if (m_image.isNull() || m_pill != pill) {
            m_image = SnowToast::shadowImage(pill);
            m_pill = pill;
            QPainter cut(&m_image);
            cut.setRenderHint(QPainter::Antialiasing);
            cut.setCompositionMode(QPainter::CompositionMode_DestinationOut);
            const QPointF at(SnowToast::ShadowMargin, SnowToast::ShadowMargin - SnowToast::ShadowDrop);
            cut.fillPath(roundedRectPath(QRectF(at, QSizeF(pill)), Radius), Qt::black);
        }
        QPainter painter(this);
        painter.drawImage(0, 0, m_image);
    }

private:
    QImage m_image;
    QSize m_pill;
};

SnowToast::SnowToast(const QString &text, Tone tone, QWidget *parent) : QWidget(parent), m_text(text), m_tone(tone)
{
    QSizePolicy policy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    placeShadow();
}

SnowToast::~SnowToast()
{
    delete m_shadow.data();
}

QWidget *SnowToast::shadow() const
{
    return m_shadow.data();
}

QImage SnowToast::shadowImage(QSize pill)
{
    const int width = pill.width() + 2 * ShadowMargin;
    const int height = pill.height() + 2 * ShadowMargin;
    QImage shape(width, height, QImage::Format_ARGB32_Premultiplied);
    shape.fill(Qt::transparent);
    {
        QPainter painter(&shape);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(roundedRectPath(QRectF(QPointF(ShadowMargin, ShadowMargin), QSizeF(pill)), Radius), Qt::black);
    }
    // The radius is the blur's reach, two standard deviations of the Gaussian.
    const qreal sigma = ShadowRadius / 2;
    std::vector<float> kernel(std::size_t(2 * ShadowMargin + 1));
    float total = 0;
    for (int k = -ShadowMargin; k <= ShadowMargin; ++k) {
        const float weight = float(std::exp(-(k * k) / (2 * sigma * sigma)));
        kernel[std::size_t(k + ShadowMargin)] = weight;
        total += weight;
    }
    for (float &weight : kernel)
        weight /= total;

    std::vector<float> alpha(std::size_t(width) * std::size_t(height));
    for (int y = 0; y < height; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(shape.constScanLine(y));
        for (int x = 0; x < width; ++x)
            alpha[std::size_t(y * width + x)] = float(qAlpha(line[x])) / 255.0f;
    }
    std::vector<float> across(alpha.size());
    blurPass(alpha, across, width, height, true, kernel);
    blurPass(across, alpha, width, height, false, kernel);

    QImage shadow(width, height, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(shadow.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const float a = std::clamp(alpha[std::size_t(y * width + x)], 0.0f, 1.0f);
            line[x] = qRgba(0, 0, 0, int(std::lround(a * ShadowOpacity * 255)));
        }
    }
    return shadow;
}

void SnowToast::placeShadow()
{
    QWidget *parent = parentWidget();
    if (!parent || isWindow()) {
        delete m_shadow.data();
        return;
    }
    // Climb until the shadow fits, but never out of a scrolled page, whose scrolling the toast never hears of.
    QRect area = geometry().adjusted(-ShadowMargin, -ShadowMargin + ShadowDrop, ShadowMargin, ShadowMargin + ShadowDrop);
    QWidget *host = parent;
    QList<QPointer<QWidget>> between;
    const auto isViewport = [](const QWidget *w) {
        const auto *area = w ? qobject_cast<const QAbstractScrollArea *>(w->parentWidget()) : nullptr;
        return area && area->viewport() == w;
    };
    while (!host->rect().contains(area) && !host->isWindow() && host->parentWidget() && !isViewport(host->parentWidget())) {
        between.append(host);
        area.translate(host->pos());
        host = host->parentWidget();
    }
    for (const QPointer<QWidget> &old : std::as_const(m_watched))
        if (old && !between.contains(old))
            old->removeEventFilter(this);
    for (const QPointer<QWidget> &ancestor : std::as_const(between))
        if (!m_watched.contains(ancestor))
            ancestor->installEventFilter(this);
    m_watched = between;

    if (!m_shadow)
        m_shadow = new ToastShadow(host);
    else if (m_shadow->parentWidget() != host)
        m_shadow->setParent(host);
    m_shadow->setGeometry(area);
    m_shadow->setVisible(isVisibleTo(host));
    m_shadow->raise();
}

bool SnowToast::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        placeShadow();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

bool SnowToast::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        showHoverText(static_cast<QHelpEvent *>(event)->globalPos());
        return true;
    }
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::ParentChange:
    case QEvent::ZOrderChange:
        placeShadow();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void SnowToast::setVisible(bool visible)
{
    QWidget::setVisible(visible);
    placeShadow();
}

void SnowToast::setText(const QString &text)
{
    m_text = text;
    syncToolTip();
    updateGeometry();
    update();
}

void SnowToast::syncToolTip()
{
    // Only a cut message needs the hover to be read whole.
    setToolTip(isCut() ? m_text : QString());
}

QStringList SnowToast::hoverLines(int windowWidth) const
{
    const int width = qMax(MinTextWidth, qMin(HoverMaxWidth, windowWidth - 2 * HoverMargin - 16));
    return wrapText(m_text, width, QToolTip::font(), -1).lines;
}

void SnowToast::showHoverText(const QPoint &globalPos)
{
    if (toolTip().isEmpty()) {
        QToolTip::hideText();
        return;
    }
    // Qt's tip draws plain text on one line however long: the lines are broken here to the window's
    // width, escaped, and kept as broken.
    QStringList lines = hoverLines(window()->width());
    for (QString &line : lines)
        line = line.toHtmlEscaped();
    QToolTip::showText(globalPos,
                       QStringLiteral("<p style='white-space:pre'>") + lines.join(QStringLiteral("<br>"))
                           + QStringLiteral("</p>"),
                       this, rect());
    // The tip stays inside the window, which may lie across screens Qt places the tip on.
    const QRect area = QRect(window()->mapToGlobal(QPoint(0, 0)), window()->size())
                           .adjusted(HoverMargin, HoverMargin, -HoverMargin, -HoverMargin);
    for (QWidget *tip : QApplication::topLevelWidgets()) {
        if (!tip->inherits("QTipLabel") || !tip->isVisible())
            continue;
        QRect placed = tip->geometry();
        placed.moveLeft(qMax(area.left(), qMin(placed.left(), area.right() + 1 - placed.width())));
        placed.moveTop(qMax(area.top(), qMin(placed.top(), area.bottom() + 1 - placed.height())));
        tip->move(placed.topLeft());
    }
}

void SnowToast::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    syncToolTip();
}

QStringList SnowToast::linesAt(int width) const
{
    return wrapText(m_text, qMax(1, width - chromeWidth())).lines;
}

bool SnowToast::isCut() const
{
    return wrapText(m_text, qMax(1, width() - chromeWidth())).cut;
}

int SnowToast::heightForWidth(int width) const
{
    return 2 * PadY + contentHeight(int(linesAt(width).size()));
}

QSize SnowToast::sizeFor(int maxWidth) const
{
    const int width = qMax(qMin(sizeHint().width(), maxWidth), minimumSizeHint().width());
    // A wrapped message takes only the width its widest line needs.
    const QStringList lines = linesAt(width);
    const int snug = qMin(width, chromeWidth() + widestLine(lines) + 1);
    return {snug, heightForWidth(snug)};
}

void SnowToast::setTone(Tone tone)
{
    m_tone = tone;
    update();
}

QString SnowToast::symbol(Tone tone)
{
    switch (tone) {
    case Tone::success:
        return QStringLiteral("checkmark.circle.fill");
    case Tone::error:
        return QStringLiteral("exclamationmark.triangle.fill");
    case Tone::info:
        break;
    }
    return QStringLiteral("info.circle.fill");
}

QColor SnowToast::symbolColor(Tone tone)
{
    switch (tone) {
    case Tone::success:
        return Palette::green();
    case Tone::error:
        return Palette::red();
    case Tone::info:
        break;
    }
    return Palette::indigo();
}

QColor SnowToast::textColor(const Palette &palette)
{
    return palette.isDark ? QColor(Qt::black) : QColor(Qt::white);
}

QColor SnowToast::surfaceColor(const Palette &palette)
{
    return palette.isDark ? QColor::fromRgbF(1, 1, 1, 0.85f) : QColor::fromRgbF(0, 0, 0, 0.8f);
}

QSize SnowToast::sizeHint() const
{
    // Wide enough for every line of the message unwrapped.
    const int width = chromeWidth() + widestLine(wrapText(m_text, QWIDGETSIZE_MAX).lines) + 1;
    return {width, heightForWidth(width)};
}

QSize SnowToast::minimumSizeHint() const
{
    const int width = qMin(sizeHint().width(), chromeWidth() + MinTextWidth);
    return {width, heightForWidth(width)};
}

void SnowToast::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.fillPath(roundedRectPath(QRectF(rect()), Radius), surfaceColor(palette));
    const QRectF content = QRectF(rect()).adjusted(PadX, PadY, -PadX, -PadY);
    const QStringList lines = linesAt(width());
    const QFont font = textFont();
    const QFontMetrics fm(font);
    // The block sits in the middle; the symbol keeps to the first line.
    const int lineCount = int(lines.size());
    const qreal top = content.top() + (contentHeight(lineCount) - textBlockHeight(lineCount)) / 2.0;
    const qreal firstLineMiddle = top + fm.height() / 2.0;
    const int glyph = symbolWidth();
    Symbols::draw(p, QRectF(content.left(), firstLineMiddle - glyph / 2.0, glyph, glyph), symbol(m_tone), SymbolSize,
                  symbolColor(m_tone));
    p.setFont(font);
    p.setPen(textColor(palette));
    const qreal left = content.left() + glyph + Spacing;
    const qreal textWidth = content.right() - left + 1;
    for (int i = 0; i < lineCount; ++i) {
        const QRectF lineRect(left, top + i * fm.lineSpacing(), textWidth, fm.height());
        p.drawText(lineRect, Qt::AlignLeft | Qt::AlignVCenter,
                   fm.elidedText(lines[i], Qt::ElideRight, int(lineRect.width())));
    }
}
