// Click-to-open menus with a caller-drawn label.
#include "design/snow_dropdown.h"

#include "design/keyboard_reach.h"
#include "design/palette.h"
#include "design/snow_menu_popup.h"

#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

SnowDropdown::SnowDropdown(QWidget *parent) : QWidget(parent), m_menu(new SnowMenuOpener(this))
{
    setCursor(Qt::ArrowCursor);
    KeyboardReach::install(this, [this] { setOpen(!isOpen()); });
    // A label widget (the proxy chip's filled box) would cover a ring painted here.
    KeyboardReach::paintRingOverChildren(this, 8);
    connect(m_menu, &SnowMenuOpener::openChanged, this, [this](bool open) {
        update();
        emit openChanged(open);
    });
}

void SnowDropdown::setItems(const QList<SnowMenuItem> &items)
{
    m_menu->setItems(items);
}

void SnowDropdown::setItemsProvider(std::function<QList<SnowMenuItem>()> provider)
{
    m_menu->setItemsProvider(std::move(provider));
}

void SnowDropdown::setMenuWidth(int width)
{
    m_menu->setWidth(width);
}

int SnowDropdown::menuWidth() const
{
    return m_menu->width();
}

void SnowDropdown::setLabelPainter(LabelPainter painter)
{
    m_painter = std::move(painter);
    update();
}

void SnowDropdown::setLabelWidget(QWidget *label)
{
    delete layout();
    m_label = label;
    if (!label)
        return;
    auto *box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(label);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    updateGeometry();
}

bool SnowDropdown::isOpen() const
{
    return m_menu->isOpen();
}

void SnowDropdown::setOpen(bool open)
{
    if (open)
        m_menu->open();
    else
        m_menu->close();
}

QSize SnowDropdown::sizeHint() const
{
    return layout() ? layout()->sizeHint() : QSize(24, 24);
}

void SnowDropdown::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    if (m_painter)
        m_painter(p, QRectF(rect()), isOpen(), Palette::of(this));
}

void SnowDropdown::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void SnowDropdown::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    event->accept();
    if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        setOpen(!isOpen());
}
