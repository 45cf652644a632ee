// The dashboard's tiles, rows, chaos chips and first-run drop panel.
#include "screens/traffic/dashboard_widgets.h"

#include "app/file_actions.h"
#include "design/animated_flag.h"
#include "design/badges.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/hover_animation.h"
#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "design/symbols.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QMimeData>
#include <QPainter>
#include <QVBoxLayout>

namespace {

ColorRole foreground()
{
    return [](const Palette &p) { return p.foreground; };
}

ColorRole mutedForeground()
{
    return [](const Palette &p) { return p.mutedForeground; };
}

void transparentForMouse(QWidget *widget)
{
    widget->setAttribute(Qt::WA_TransparentForMouseEvents);
}

} // namespace

// ---- StatCard ----

StatCard::StatCard(const QString &label, std::optional<QColor> pastel, QWidget *parent)
    : QWidget(parent)
    , m_pastel(pastel)
{
    const bool onPastel = pastel.has_value();
    m_label = new ShellText(label, Fonts::inter(12, QFont::Medium),
                            onPastel ? ColorRole([](const Palette &) { return QColor(0, 0, 0, qRound(255 * 0.45)); })
                                     : mutedForeground(),
                            this);
    m_value = new ShellText({}, Fonts::ksStat(),
                            onPastel ? ColorRole([](const Palette &) { return QColor(Qt::black); }) : foreground(), this);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(8);
    column->addWidget(m_label);
    column->addWidget(m_value);
    column->addStretch(1);
    setMinimumHeight(92);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void StatCard::setValue(const QString &value)
{
    m_value->setText(value);
}

QString StatCard::label() const
{
    return m_label->text();
}

QString StatCard::value() const
{
    return m_value->text();
}

void StatCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor fill = m_pastel ? *m_pastel : Palette::of(this).card;
    painter.fillPath(roundedRectPath(QRectF(rect()), 16), fill);
}

// ---- MetricTile ----

MetricTile::MetricTile(const QString &label, QWidget *parent)
    : QWidget(parent)
{
    m_value = new ShellText({}, Fonts::inter(16, QFont::DemiBold), foreground(), this);
    m_value->setElideMode(Qt::ElideNone);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(m_value);
    auto *caption = new ShellText(label, Fonts::ksMeta(), mutedForeground(), this);
    caption->setElideMode(Qt::ElideNone);
    column->addWidget(caption);
    setMinimumWidth(96);
}

void MetricTile::setValue(const QString &value, std::optional<QColor> tint)
{
    m_value->setText(value);
    if (tint != m_tint) {
        m_tint = tint;
        m_value->setColorRole(tint ? ColorRole([c = *tint](const Palette &) { return c; }) : foreground());
    }
}

QString MetricTile::value() const
{
    return m_value->text();
}

// ---- HostPathText ----

HostPathText::HostPathText(QWidget *parent)
    : QWidget(parent)
{
    setFont(Fonts::ksCode());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    transparentForMouse(this);
}

void HostPathText::setHostPath(const QString &host, const QString &path)
{
    if (host == m_host && path == m_path)
        return;
    m_host = host;
    m_path = path;
    update();
}

QSize HostPathText::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(m_host + m_path), metrics.height()};
}

QSize HostPathText::minimumSizeHint() const
{
    return {0, QFontMetrics(font()).height()};
}

void HostPathText::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter painter(this);
    painter.setFont(font());
    const QFontMetrics metrics(font());
    const int width = this->width();
    const QString host = metrics.elidedText(m_host, Qt::ElideRight, width);
    const int hostWidth = metrics.horizontalAdvance(host);
    painter.setPen(palette.mutedForeground);
    painter.drawText(QRect(0, 0, hostWidth, height()), Qt::AlignLeft | Qt::AlignVCenter, host);
    if (host != m_host || hostWidth >= width)
        return;
    painter.setPen(palette.foreground);
    painter.drawText(QRect(hostWidth, 0, width - hostWidth, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(m_path, Qt::ElideRight, width - hostWidth));
}

// ---- RecentRow ----

RecentRow::RecentRow(QWidget *parent)
    : PlainButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 10, 0, 10);
    row->setSpacing(12);
    m_time = new ShellText({}, Fonts::ksCode(), mutedForeground(), this);
    m_time->setFixedWidth(96);
    row->addWidget(m_time);
    m_method = new MethodBadge(QStringLiteral("GET"), this);
    transparentForMouse(m_method);
    row->addWidget(m_method);
    m_hostPath = new HostPathText(this);
    row->addWidget(m_hostPath, 1);
    m_status = new StatusChip(200, false, this);
    transparentForMouse(m_status);
    row->addWidget(m_status);
}

void RecentRow::setEntry(const TrafficEntry &entry)
{
    if (entry == m_entry)
        return;
    m_entry = entry;
    m_time->setText(QString::fromStdString(entry.timestamp));
    m_method->setMethod(QString::fromLatin1(rawValue(entry.method)));
    m_hostPath->setHostPath(QString::fromStdString(entry.host), QString::fromStdString(entry.path));
    if (m_status->status() != entry.status)
        m_status->setStatus(entry.status);
    if (m_status->injected() != entry.injected)
        m_status->setInjected(entry.injected);
}

QString RecentRow::timestamp() const
{
    return m_time->text();
}

// ---- StepRow ----

StepRow::StepRow(QWidget *parent)
    : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 12, 0, 12);
    row->setSpacing(12);
    m_tile = new IconTile({}, std::nullopt, 34, 12, this);
    row->addWidget(m_tile);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_title = new ShellText({}, Fonts::inter(13, QFont::DemiBold), foreground(), this);
    m_detail = new ShellText({}, Fonts::ksMeta(), mutedForeground(), this);
    texts->addWidget(m_title);
    texts->addWidget(m_detail);
    row->addLayout(texts, 1);
    row->addSpacing(8);
    m_button = new SecondaryButton({}, {}, false, KSButton::Size::sm, false, false,
                                   [this] { emit actionRequested(m_step.action); }, this);
    row->addWidget(m_button);
    m_check = new SymbolLabel(QStringLiteral("checkmark.circle.fill"), 14,
                              [](const Palette &p) { return DashboardLogic::successInk(p); }, this);
    row->addWidget(m_check);
}

void StepRow::setStep(const DashboardLogic::SetupStep &step)
{
    if (m_hasStep && step == m_step)
        return;
    const bool doneChanged = !m_hasStep || step.done != m_step.done;
    m_step = step;
    m_hasStep = true;
    const QString icon = step.done ? QStringLiteral("checkmark") : step.icon;
    if (m_tile->icon() != icon)
        m_tile->setIcon(icon);
    if (doneChanged) {
        m_tile->setTint(step.done ? std::optional<QColor>(Palette::green()) : std::nullopt);
        QFont font = Fonts::inter(13, QFont::DemiBold);
        font.setStrikeOut(step.done);
        m_title->setFont(font);
        m_title->setColorRole(step.done ? mutedForeground() : foreground());
    }
    m_title->setText(step.title);
    m_detail->setText(step.detail);
    const bool hasButton = !step.actionLabel.isEmpty() && step.action != DashboardLogic::Action::none;
    if (hasButton && m_button->title() != step.actionLabel)
        m_button->setTitle(step.actionLabel);
    m_button->setVisible(hasButton);
    m_check->setVisible(!hasButton && step.done);
}

QString StepRow::title() const
{
    return m_title->text();
}

QString StepRow::detail() const
{
    return m_detail->text();
}

// ---- AlertRow ----

AlertRow::AlertRow(QWidget *parent)
    : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(8, 8, 8, 8);
    row->setSpacing(12);
    m_icon = new SymbolLabel({}, 14, mutedForeground(), this);
    m_icon->setFixedWidth(22);
    row->addWidget(m_icon);
    m_title = new ShellText({}, Fonts::inter(13, QFont::Medium), foreground(), this);
    row->addWidget(m_title, 1);
    row->addSpacing(8);
    m_button = new SecondaryButton({}, {}, false, KSButton::Size::sm, false, false,
                                   [this] { emit actionRequested(m_item.action); }, this);
    row->addWidget(m_button);
}

void AlertRow::setItem(const DashboardLogic::AttentionItem &item)
{
    if (m_hasItem && item == m_item)
        return;
    const bool toneChanged = !m_hasItem || item.tone != m_item.tone;
    m_item = item;
    m_hasItem = true;
    if (m_icon->symbol() != item.icon)
        m_icon->setSymbol(item.icon);
    if (toneChanged)
        m_icon->setColorRole([tone = item.tone](const Palette &p) { return DashboardLogic::alertColor(tone, p); });
    m_title->setText(item.title);
    if (m_button->title() != item.actionLabel)
        m_button->setTitle(item.actionLabel);
}

QColor AlertRow::iconColor() const
{
    return DashboardLogic::alertColor(m_item.tone, Palette::of(this));
}

// ---- ChaosChip ----

ChaosChip::ChaosChip(QWidget *parent)
    : SnowButtonBase(parent)
{
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ChaosChip::setPreset(const QString &icon, const QString &name, const QString &summary)
{
    if (icon == m_icon && name == m_name && summary == m_summary)
        return;
    m_icon = icon;
    m_name = name;
    m_summary = summary;
    update();
}

void ChaosChip::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    update();
}

QSize ChaosChip::sizeHint() const
{
    return {210, Height};
}

void ChaosChip::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    pressStyle()->apply(painter, bounds);

    const QColor fill = m_selected ? Palette::bg4()
                                   : blendColors(palette.subtle, palette.muted, hoverAnimation()->progress());
    painter.fillPath(roundedRectPath(bounds, 12), fill);

    const QRectF inner = bounds.adjusted(12, 12, -12, -12);
    Symbols::draw(painter, QRectF(inner.left(), inner.top(), 20, inner.height()), m_icon, 14,
                  m_selected ? QColor(Qt::black) : palette.mutedForeground);

    qreal right = inner.right();
    if (m_selected) {
        const QRectF check(right - 14, inner.top(), 14, inner.height());
        Symbols::draw(painter, check, QStringLiteral("checkmark"), 11, Qt::black);
        right = check.left() - 12;
    }
    const qreal textLeft = inner.left() + 20 + 12;
    const qreal textWidth = std::max<qreal>(0, right - textLeft);

    const QFont nameFont = Fonts::inter(13, QFont::DemiBold);
    const QFont summaryFont = Fonts::ksCodeSm();
    const QFontMetricsF nameMetrics(nameFont);
    const QFontMetricsF summaryMetrics(summaryFont);
    const qreal blockHeight = nameMetrics.height() + 2 + summaryMetrics.height();
    const qreal top = inner.center().y() - blockHeight / 2;

    painter.setFont(nameFont);
    painter.setPen(m_selected ? QColor(Qt::black) : palette.foreground);
    painter.drawText(QRectF(textLeft, top, textWidth, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     nameMetrics.elidedText(m_name, Qt::ElideRight, textWidth));
    painter.setFont(summaryFont);
    painter.setPen(m_selected ? QColor(0, 0, 0, qRound(255 * 0.4)) : palette.mutedForeground);
    painter.drawText(QRectF(textLeft, top + nameMetrics.height() + 2, textWidth, summaryMetrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, summaryMetrics.elidedText(m_summary, Qt::ElideRight, textWidth));
    KeyboardReach::paintRing(painter, this, bounds, 12);
}

// ---- ChipGrid ----

namespace {
constexpr int GridGap = 12;
}

ChipGrid::ChipGrid(QWidget *parent)
    : QWidget(parent)
{
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void ChipGrid::setCount(int count)
{
    count = std::max(0, count);
    while (m_chips.size() < count) {
        auto *chip = new ChaosChip(this);
        const int index = int(m_chips.size());
        connect(chip, &SnowButtonBase::clicked, this, [this, index] { emit chipClicked(index); });
        m_chips.append(chip);
    }
    for (int i = 0; i < m_chips.size(); ++i)
        m_chips[i]->setVisible(i < count);
    if (count != m_count) {
        m_count = count;
        updateGeometry();
        place();
    }
}

int ChipGrid::columns() const
{
    return DashboardLogic::chaosColumns(width());
}

int ChipGrid::heightForWidth(int width) const
{
    if (m_count == 0)
        return 0;
    const int columns = DashboardLogic::chaosColumns(width);
    const int rows = (m_count + columns - 1) / columns;
    return rows * ChaosChip::Height + (rows - 1) * GridGap;
}

QSize ChipGrid::sizeHint() const
{
    return {430, heightForWidth(430)};
}

QSize ChipGrid::minimumSizeHint() const
{
    return {210, 0};
}

void ChipGrid::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    place();
}

void ChipGrid::place()
{
    const int columns = DashboardLogic::chaosColumns(width());
    const qreal cell = (width() - (columns - 1) * GridGap) / qreal(columns);
    for (int i = 0; i < m_count; ++i) {
        const int row = i / columns;
        const int column = i % columns;
        const int left = qRound(column * (cell + GridGap));
        const int right = qRound(column * (cell + GridGap) + cell);
        m_chips[i]->setGeometry(left, row * (ChaosChip::Height + GridGap), right - left, ChaosChip::Height);
    }
}

// ---- FirstRunPanel ----

FirstRunPanel::FirstRunPanel(QWidget *parent)
    : QWidget(parent)
    , m_dragging(new AnimatedFlag(this, AnimationMs, QEasingCurve::InOutCubic))
{
    setAcceptDrops(true);
    setMinimumHeight(440);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
}

bool FirstRunPanel::dragging() const
{
    return m_dragging->value();
}

qreal FirstRunPanel::highlight() const
{
    return m_dragging->progress();
}

QColor FirstRunPanel::fillColor() const
{
    const Palette palette = Palette::of(this);
    return blendColors(palette.card, withOpacity(Palette::bg4(), 0.5), highlight());
}

QColor FirstRunPanel::outlineColor() const
{
    const Palette palette = Palette::of(this);
    return blendColors(palette.faint, palette.brand, highlight());
}

void FirstRunPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    painter.fillPath(roundedRectPath(bounds, 16), fillColor());
    // Drawn inside the edge: the 2-point line's centre runs 1 point in.
    QPen pen(outlineColor(), 2);
    pen.setDashPattern({7.0 / 2, 7.0 / 2}); // in line widths
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(roundedRectPath(bounds.adjusted(1, 1, -1, -1), 15));
}

void FirstRunPanel::dragEnterEvent(QDragEnterEvent *event)
{
    // Only a drag whose first file could be imported lights the panel up.
    if (!FileActions::acceptsDrag(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    m_dragging->set(true);
}

void FirstRunPanel::dragLeaveEvent(QDragLeaveEvent *event)
{
    m_dragging->set(false);
    QWidget::dragLeaveEvent(event);
}

void FirstRunPanel::dropEvent(QDropEvent *event)
{
    m_dragging->set(false);
    if (m_dropHandler && m_dropHandler(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}
