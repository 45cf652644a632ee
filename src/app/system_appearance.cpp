// Follows the application palette's lightness as the system appearance.
#include "app/system_appearance.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPalette>

SystemAppearance::SystemAppearance(QObject *parent)
    : QObject(parent)
    , m_colorScheme(current())
{
    if (qApp)
        qApp->installEventFilter(this);
}

SystemAppearance::~SystemAppearance()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

ColorScheme SystemAppearance::current()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return ColorScheme::light;
    return fromPalette(QGuiApplication::palette());
}

ColorScheme SystemAppearance::fromPalette(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightness() < 128 ? ColorScheme::dark : ColorScheme::light;
}

bool SystemAppearance::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        refresh();
    return QObject::eventFilter(watched, event);
}

void SystemAppearance::refresh()
{
    m_colorScheme = current();
    emit colorSchemeChanged();
}
