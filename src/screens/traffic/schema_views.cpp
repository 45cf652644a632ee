// Drift finding cards and baseline rows, painted with the controls' own paint functions.
#include "screens/traffic/schema_views.h"

#include "design/badges.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/symbols.h"
#include "engine/engine_client.h"
#include "screens/traffic/traffic_logic.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QtMath>

namespace {

constexpr int CardPadding = 20;
constexpr int CardRadius = 16;
constexpr int HeaderGap = 12;
constexpr int ChangeVPad = 4;

QString q(const std::string &text)
{
    return QString::fromStdString(text);
}

qreal tagHeight()
{
    return SnowTag::sizeFor(QStringLiteral("x")).height();
}

int lineHeightOf(const QFont &font, qreal atLeast)
{
    return qCeil(qMax(QFontMetricsF(font).height(), atLeast));
}

int changeRowHeight()
{
    return lineHeightOf(Fonts::ksCode(), tagHeight()) + 2 * ChangeVPad;
}

int headerHeight()
{
    return lineHeightOf(Fonts::ksCode(), tagHeight());
}

// Draws a tag ending at `right`, centred on `centerY`; returns its left edge.
qreal tagFromRight(QPainter &p, qreal right, qreal centerY, const QString &text, SnowTag::Tone tone,
                   const Palette &palette, const QString &icon = {})
{
    const QSizeF size = SnowTag::sizeFor(text, icon);
    const QRectF rect(right - size.width(), centerY - size.height() / 2, size.width(), size.height());
    SnowTag::paint(p, rect, text, tone, palette, icon);
    return rect.left();
}

// Text ending at `right`; returns its left edge.
qreal textFromRight(QPainter &p, qreal right, const QRectF &line, const QString &text, const QFont &font,
                    const QColor &color)
{
    const qreal width = QFontMetricsF(font).horizontalAdvance(text);
    p.setFont(font);
    p.setPen(color);
    p.drawText(QRectF(right - width, line.top(), width + 1, line.height()), Qt::AlignLeft | Qt::AlignVCenter, text);
    return right - width;
}

void elidedText(QPainter &p, const QRectF &rect, const QString &text, const QFont &font, const QColor &color)
{
    p.setFont(font);
    p.setPen(color);
    p.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetricsF(font).elidedText(text, Qt::ElideRight, qMax<qreal>(0, rect.width())));
}

} // namespace

// ---- Drift findings ----

DriftModel::DriftModel(EngineClient *engine, QObject *parent)
    : QAbstractListModel(parent), m_engine(engine), m_rows(engine->schemaDrifts())
{
    connect(engine, &EngineClient::schemaDriftsChanged, this, [this] {
        beginResetModel();
        m_rows = m_engine->schemaDrifts();
        endResetModel();
    });
}

int DriftModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant DriftModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole)
        return q(m_rows.at(index.row()).key);
    if (role == Qt::UserRole)
        return q(m_rows.at(index.row()).trafficId);
    return {};
}

DriftCardDelegate::DriftCardDelegate(DriftModel *model, QObject *parent) : QStyledItemDelegate(parent), m_model(model)
{
}

int DriftCardDelegate::cardHeight(const SchemaDriftRecord &record)
{
    int height = 2 * CardPadding + headerHeight();
    if (!record.changes.empty())
        height += HeaderGap + int(record.changes.size()) * changeRowHeight();
    return height;
}

QSize DriftCardDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    return {option.rect.width(), cardHeight(m_model->finding(index.row())) + CardGap};
}

void DriftCardDelegate::paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const SchemaDriftRecord &record = m_model->finding(index.row());
    const Palette palette = Palette::of(qobject_cast<const QWidget *>(option.widget));
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    p->setRenderHint(QPainter::TextAntialiasing);
    const QRectF card(option.rect.left(), option.rect.top(), option.rect.width(), cardHeight(record));
    paintCardSurface(*p, card, palette, CardRadius);
    const QRectF inner = card.adjusted(CardPadding, CardPadding, -CardPadding, -CardPadding);

    // Header: key, then from the right the time, the warning tag and the breaking tag.
    const QRectF header(inner.left(), inner.top(), inner.width(), headerHeight());
    qreal right = textFromRight(*p, header.right(), header, q(record.time), Fonts::ksCodeSm(), palette.mutedForeground);
    const qreal cy = header.center().y();
    if (record.warnings() >= 1)
        right = tagFromRight(*p, right - 8, cy, trafficlogic::warningTag(record.warnings()), SnowTag::Tone::warning, palette);
    if (record.breaking() >= 1)
        right = tagFromRight(*p, right - 8, cy, trafficlogic::breakingTag(record.breaking()), SnowTag::Tone::error, palette);
    elidedText(*p, QRectF(header.left(), header.top(), right - 8 - 8 - header.left(), header.height()), q(record.key),
               Fonts::ksCode(), palette.foreground);

    // Changes, in the record's order.
    qreal y = header.bottom() + HeaderGap;
    const int rowHeight = changeRowHeight();
    for (const SchemaChange &change : record.changes) {
        const QRectF line(inner.left(), y + ChangeVPad, inner.width(), rowHeight - 2 * ChangeVPad);
        const qreal mid = line.center().y();
        p->setPen(Qt::NoPen);
        p->setBrush(trafficlogic::severityDotColor(change.severity));
        p->drawEllipse(QPointF(line.left() + 3, mid), 3, 3);

        qreal r = line.right();
        const trafficlogic::TransitionChips chips = trafficlogic::transitionChips(change);
        if (chips.any()) {
            r = tagFromRight(*p, r, mid, chips.after, SnowTag::Tone::neutral, palette);
            if (chips.arrow) {
                const qreal arrow = Symbols::glyphPixelSize(9);
                Symbols::draw(*p, QRectF(r - 4 - arrow, mid - arrow / 2, arrow, arrow), QStringLiteral("arrow.right"), 9,
                              palette.faint);
                r = tagFromRight(*p, r - 4 - arrow - 4, mid, chips.before, SnowTag::Tone::neutral, palette);
            }
            r -= 12;
        }
        r = textFromRight(*p, r, line, q(change.kindLabel()), Fonts::inter(10, QFont::DemiBold),
                          trafficlogic::severityInk(change.severity, palette));
        const qreal pathLeft = line.left() + 6 + 12;
        elidedText(*p, QRectF(pathLeft, line.top(), r - 12 - 8 - pathLeft, line.height()), q(change.path),
                   Fonts::ksCode(), palette.foreground);
        y += rowHeight;
    }
    p->restore();
}

// ---- Baselines ----

BaselineModel::BaselineModel(QObject *parent) : QAbstractListModel(parent) {}

int BaselineModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant BaselineModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole || role == KeyRole)
        return q(m_rows[std::size_t(index.row())].key);
    return {};
}

void BaselineModel::setBaselines(const std::vector<SchemaBaseline> &baselines)
{
    beginResetModel();
    m_rows = trafficlogic::sortedBaselines(baselines);
    endResetModel();
}

bool BaselineModel::expanded(int row) const
{
    return m_expanded.contains(q(m_rows.at(std::size_t(row)).key));
}

void BaselineModel::toggle(const QString &key)
{
    if (!m_expanded.remove(key))
        m_expanded.insert(key);
    for (int row = 0; row < int(m_rows.size()); ++row)
        if (q(m_rows[std::size_t(row)].key) == key) {
            // The row's height changes: the view lays it out again.
            emit layoutAboutToBeChanged();
            emit layoutChanged();
            emit dataChanged(index(row), index(row));
        }
}

namespace {

constexpr int SummaryHPad = 16;
constexpr int SummaryVPad = 12;
constexpr int DetailLeft = 40;
constexpr int DetailLineGap = 4;

int fieldLineHeight()
{
    return lineHeightOf(Fonts::ksCode(), tagHeight());
}

} // namespace

BaselineRowDelegate::BaselineRowDelegate(BaselineModel *model, QWidget *view, std::function<void(const QString &)> relearn)
    : QStyledItemDelegate(view)
    , m_model(model)
    , m_relearnButton(new SecondaryButton(QStringLiteral("Relearn"), QStringLiteral("arrow.counterclockwise"), false,
                                          KSButton::Size::sm, false, false, {}, view))
    , m_relearn(std::move(relearn))
{
    // Never shown: rows paint it, so each row's button is exactly the control.
    m_relearnButton->setAttribute(Qt::WA_DontShowOnScreen);
    m_relearnButton->hide();
    m_relearnButton->resize(m_relearnButton->sizeHint());
}

int BaselineRowDelegate::summaryHeight()
{
    return lineHeightOf(Fonts::ksCode(), qMax<qreal>(tagHeight(), MethodBadge::sizeFor(QStringLiteral("DELETE")).height()))
           + 2 * SummaryVPad;
}

static int detailHeight(const SchemaBaseline &baseline, int buttonHeight)
{
    const int lines = int(trafficlogic::fieldLines(baseline).size());
    int height = lines * fieldLineHeight() + lines * DetailLineGap; // each line, then the gap before the next
    height += 4 + buttonHeight + 12;
    return height;
}

QSize BaselineRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    int height = summaryHeight();
    if (m_model->expanded(index.row()))
        height += detailHeight(m_model->baseline(index.row()), m_relearnButton->sizeHint().height());
    return {option.rect.width(), height + 1}; // the divider below
}

QRect BaselineRowDelegate::relearnRect(const QRect &row, const SchemaBaseline &baseline) const
{
    const QSize size = m_relearnButton->sizeHint();
    const int lines = int(trafficlogic::fieldLines(baseline).size());
    const int top = row.top() + summaryHeight() + lines * (fieldLineHeight() + DetailLineGap) + 4;
    return {row.right() + 1 - SummaryHPad - size.width(), top, size.width(), size.height()};
}

void BaselineRowDelegate::paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const SchemaBaseline &base = m_model->baseline(index.row());
    const bool expanded = m_model->expanded(index.row());
    const Palette palette = Palette::of(qobject_cast<const QWidget *>(option.widget));
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    p->setRenderHint(QPainter::TextAntialiasing);

    const QRect row = option.rect;
    const QRectF summary(row.left() + SummaryHPad, row.top() + SummaryVPad, row.width() - 2 * SummaryHPad,
                         summaryHeight() - 2 * SummaryVPad);
    const qreal mid = summary.center().y();
    qreal x = summary.left();
    Symbols::draw(*p, QRectF(x, summary.top(), 12, summary.height()),
                  expanded ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right"), 10, palette.mutedForeground);
    x += 12 + 12;
    const QString method = trafficlogic::badgeMethod(base.method);
    const QSizeF badge = MethodBadge::sizeFor(method);
    MethodBadge::paint(*p, QRectF(x, mid - badge.height() / 2, badge.width(), badge.height()), method);
    x += 64 + 12;

    qreal right = summary.right();
    const QString fields = QString::number(trafficlogic::fieldCount(base)) + QStringLiteral(" fields");
    p->setFont(Fonts::ksCode());
    p->setPen(palette.mutedForeground);
    p->drawText(QRectF(right - 70, summary.top(), 70, summary.height()), Qt::AlignRight | Qt::AlignVCenter, fields);
    right -= 70 + 12;
    if (base.locked)
        right = tagFromRight(*p, right, mid, QStringLiteral("watching"), SnowTag::Tone::success, palette,
                             QStringLiteral("eye"));
    else
        right = tagFromRight(*p, right, mid, trafficlogic::stateChipText(base), SnowTag::Tone::info, palette);
    right -= 12;

    // Host then path, one line together.
    const QFont code = Fonts::ksCode();
    const QFontMetricsF metrics(code);
    const QString host = q(base.host);
    const qreal room = qMax<qreal>(0, right - x);
    const qreal hostWidth = metrics.horizontalAdvance(host);
    p->setFont(code);
    p->setPen(palette.mutedForeground);
    const QRectF address(x, summary.top(), room, summary.height());
    if (hostWidth >= room) {
        p->drawText(address, Qt::AlignLeft | Qt::AlignVCenter, metrics.elidedText(host, Qt::ElideRight, room));
    } else {
        p->drawText(address, Qt::AlignLeft | Qt::AlignVCenter, host);
        p->setPen(palette.foreground);
        p->drawText(address.adjusted(hostWidth, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                    metrics.elidedText(q(base.path), Qt::ElideRight, room - hostWidth));
    }

    if (expanded) {
        const QColor typeInk = palette.isDark ? Palette::blue() : QColor(0x35, 0x63, 0xE9);
        qreal y = row.top() + summaryHeight();
        const qreal left = row.left() + DetailLeft;
        const qreal lineRight = row.right() + 1 - SummaryHPad;
        for (const trafficlogic::FieldLine &field : trafficlogic::fieldLines(base)) {
            const QRectF line(left, y, lineRight - left, fieldLineHeight());
            qreal r = line.right();
            if (field.optional)
                r = tagFromRight(*p, r, line.center().y(), QStringLiteral("optional"), SnowTag::Tone::neutral, palette) - 8;
            r = textFromRight(*p, r, line, field.types, Fonts::ksCodeSm(), typeInk);
            elidedText(*p, QRectF(left, line.top(), r - 8 - left, line.height()), field.path, Fonts::ksCode(),
                       palette.foreground);
            y += fieldLineHeight() + DetailLineGap;
        }
        // The button's own painting on a clear pixmap: a grab() would bring the hidden widget's window
        // background along.
        const QRect button = relearnRect(row, base);
        if (m_relearnButton->QWidget::size() != button.size())
            m_relearnButton->resize(button.size());
        const qreal ratio = option.widget ? option.widget->devicePixelRatioF() : 1.0;
        QPixmap look(button.size() * ratio);
        look.setDevicePixelRatio(ratio);
        look.fill(Qt::transparent);
        m_relearnButton->render(&look, QPoint(), QRegion(), QWidget::RenderFlags());
        p->drawPixmap(button.topLeft(), look);
    }
    p->fillRect(QRect(row.left(), row.bottom(), row.width(), 1), palette.border);
    p->restore();
}

bool BaselineRowDelegate::editorEvent(QEvent *event, QAbstractItemModel *, const QStyleOptionViewItem &option,
                                      const QModelIndex &index)
{
    if (event->type() != QEvent::MouseButtonRelease)
        return false;
    const auto *mouse = static_cast<QMouseEvent *>(event);
    if (mouse->button() != Qt::LeftButton)
        return false;
    const SchemaBaseline &base = m_model->baseline(index.row());
    const QString key = q(base.key);
    const QPoint pos = mouse->position().toPoint();
    const QRect summary(option.rect.left(), option.rect.top(), option.rect.width(), summaryHeight());
    if (summary.contains(pos)) {
        m_model->toggle(key);
        return true;
    }
    if (m_model->expanded(index.row()) && relearnRect(option.rect, base).contains(pos)) {
        if (m_relearn)
            m_relearn(key);
        return true;
    }
    return false;
}
