// Sheet surface, title rows and button row.
#include "screens/routes/sheet_parts.h"

#include "app/sheet_presenter.h"
#include "design/fonts.h"
#include "design/indicators.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/snow_text.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

SheetSurface::SheetSurface(ColorRole fill, QWidget *parent)
    : QWidget(parent)
    , m_fill(std::move(fill))
{
}

void SheetSurface::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(rect(), m_fill(Palette::of(this)));
}

namespace SheetParts {

std::function<void()> dismissAction(QWidget *sheet)
{
    QPointer<QWidget> guard(sheet);
    return [guard] {
        if (guard)
            Sheets::dismiss(guard);
    };
}

SnowText *title(const QString &text, QWidget *sheet)
{
    return new SnowText(text, Fonts::inter(16, QFont::DemiBold), [](const Palette &p) { return p.foreground; }, sheet);
}

QHBoxLayout *titleRow(const QString &text, QWidget *sheet)
{
    auto *row = new QHBoxLayout;
    row->addWidget(title(text, sheet));
    row->addStretch(1);
    row->addWidget(new CircleIconButton(QStringLiteral("xmark"), 28, false, std::nullopt, dismissAction(sheet), sheet));
    return row;
}

QVBoxLayout *edgeColumn(const QString &title, int padV, QWidget *sheet)
{
    auto *column = new QVBoxLayout(sheet);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    QHBoxLayout *header = titleRow(title, sheet);
    header->setContentsMargins(16, padV, 16, padV);
    column->addLayout(header);
    column->addWidget(new SnowDivider(false, 0, sheet));
    return column;
}

PrimaryButton *primaryButton(const QString &title, const QString &icon, QWidget *sheet, std::function<void()> action)
{
    return new PrimaryButton(title, icon, KSButton::Size::md, false, false, std::move(action), sheet);
}

QHBoxLayout *buttonRow(QWidget *sheet, std::function<void()> cancel, PrimaryButton *primary)
{
    auto *row = new QHBoxLayout;
    row->setSpacing(12);
    row->addStretch(1);
    auto *cancelButton = new KSButton(QStringLiteral("Cancel"), {}, KSButton::Variant::text, KSButton::Size::md, false,
                                      false, false, std::move(cancel), sheet);
    row->addWidget(cancelButton);
    row->addWidget(primary);
    // The primary button is made first; Tab still meets the two in the order they are shown.
    QWidget::setTabOrder(cancelButton, primary);
    return row;
}

} // namespace SheetParts
