// Menus opened from controls at each edge of a window that does not fill the screen stay inside it.
#include "design/palette.h"
#include "design/snow_context_menu.h"
#include "design/snow_dropdown.h"
#include "design/snow_menu_list.h"
#include "design/snow_menu_popup.h"
#include "design/symbols.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QList<SnowMenuItem> entries()
{
    return {SnowMenuItem::entry(QStringLiteral("Import file…"), QStringLiteral("square.and.arrow.down"), [] {}),
            SnowMenuItem::entry(QStringLiteral("Export profile…"), QStringLiteral("square.and.arrow.up"), [] {}),
            SnowMenuItem::divider(),
            SnowMenuItem::entry(QStringLiteral("Clear session"), QStringLiteral("trash"), [] {},
                                SnowMenuItem::Tone::destructive)};
}

class Window
{
public:
    explicit Window(const QRect &geometry)
    {
        PaletteHost::set(&host, Palette::light());
        QPalette background = host.palette();
        background.setColor(QPalette::Window, Palette::light().background);
        host.setPalette(background);
        host.setAutoFillBackground(true);
        host.setGeometry(geometry);
    }

    SnowDropdown *dropdownAt(const QPoint &pos)
    {
        auto *dropdown = new SnowDropdown(&host);
        dropdown->setGeometry(QRect(pos, QSize(28, 28)));
        dropdown->setMenuWidth(220);
        dropdown->setItems(entries());
        dropdown->setLabelPainter([](QPainter &p, const QRectF &r, bool open, const Palette &palette) {
            p.fillRect(r, open ? palette.muted : palette.subtle);
            Symbols::draw(p, r, QStringLiteral("ellipsis"), 14, palette.mutedForeground);
        });
        return dropdown;
    }

    QWidget host;
};

// The screen with the window and its open popup where they sit, the window outlined.
void saveScreen(QWidget *window, SnowMenuPopup *popup, const QString &name)
{
    QCoreApplication::processEvents();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QPixmap canvas(screen.size());
    canvas.fill(QColor(0x4a, 0x4f, 0x57));
    QPainter painter(&canvas);
    const QRect frame = window->geometry().translated(-screen.topLeft());
    painter.drawPixmap(frame.topLeft(), window->grab());
    painter.setPen(QPen(QColor(0xff, 0x9f, 0x1c), 1));
    painter.drawRect(frame.adjusted(-1, -1, 0, 0));
    painter.drawPixmap(popup->geometry().topLeft() - screen.topLeft(), popup->grab());
    painter.end();
    QLabel label;
    label.setPixmap(canvas);
    label.resize(canvas.size());
    testsupport::saveRender(&label, QStringLiteral("design"), name);
}

} // namespace

TEST(MenuWindowEdges, DropdownsAtEveryCornerOpenInsideTheirWindow)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    // A window with screen to spare on every side, then the same window pushed against two corners.
    const QSize size(420, 330);
    const QList<QRect> windows = {
        QRect(screen.center() - QPoint(size.width() / 2, size.height() / 2), size),
        QRect(screen.topLeft() + QPoint(40, 30), size),
        QRect(screen.bottomRight() - QPoint(size.width() + 39, size.height() + 29), size),
    };
    for (int w = 0; w < windows.size(); ++w) {
        Window window(windows[w]);
        const QRect inner = window.host.rect().adjusted(8, 8, -8, -8);
        const QList<QPoint> corners = {inner.topLeft(), QPoint(inner.right() - 27, inner.top()),
                                       QPoint(inner.left(), inner.bottom() - 27),
                                       QPoint(inner.right() - 27, inner.bottom() - 27),
                                       QPoint(inner.center().x() - 13, inner.top())};
        QList<SnowDropdown *> dropdowns;
        for (const QPoint &corner : corners)
            dropdowns << window.dropdownAt(corner);
        window.host.show();
        ASSERT_EQ(window.host.geometry(), windows[w]);

        for (int i = 0; i < dropdowns.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "window " << w << ", control " << i);
            SnowDropdown *dropdown = dropdowns[i];
            QTest::mouseClick(dropdown, Qt::LeftButton, {}, QPoint(14, 14));
            ASSERT_TRUE(dropdown->isOpen());
            SnowMenuPopup *popup = dropdown->menu()->popup();
            const QRect menu = popup->geometry();
            const QRect control(dropdown->mapToGlobal(QPoint(0, 0)), dropdown->size());
            EXPECT_TRUE(windows[w].contains(menu)) << menu.x() << "," << menu.y() << " " << menu.width() << "x"
                                                   << menu.height();
            EXPECT_EQ(menu.size(), QSize(220, popup->list()->height()));
            const bool top = i != 2 && i != 3;
            if (top)
                EXPECT_EQ(menu.top(), control.bottom() + 1 + SnowMenuPopup::Gap);
            else
                EXPECT_EQ(menu.bottom(), control.top() - 1 - SnowMenuPopup::Gap);
            // It ends just inside the window's edge on the control's side; in the middle it is centred.
            if (i == 0 || i == 2)
                EXPECT_EQ(menu.left(), windows[w].left() + SnowMenuPopup::Gap);
            else if (i == 1 || i == 3)
                EXPECT_EQ(menu.right(), windows[w].right() - SnowMenuPopup::Gap);
            else
                EXPECT_LE(qAbs(menu.center().x() - control.center().x()), 1);
            if (w == 0 && i == 1)
                saveScreen(&window.host, popup, QStringLiteral("menu_edge_top_right"));
            if (w == 2 && i == 3)
                saveScreen(&window.host, popup, QStringLiteral("menu_edge_bottom_right_flipped"));
            dropdown->setOpen(false);
            EXPECT_FALSE(popup->isVisible());
        }
    }
}

TEST(MenuWindowEdges, ARowMenuNearTheWindowsCornerHangsOffTheRowInsideTheWindow)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect geometry(screen.center() - QPoint(200, 150), QSize(400, 300));
    Window window(geometry);
    // A narrow row against the window's right edge, at its bottom.
    auto *row = new QWidget(&window.host);
    row->setGeometry(400 - 130, 300 - 40, 130, 30);
    QPalette fill = row->palette();
    fill.setColor(QPalette::Window, Palette::light().mutedStrong);
    row->setPalette(fill);
    row->setAutoFillBackground(true);
    SnowContextMenu *menu = SnowContextMenu::attach(row, 190, entries());
    window.host.show();

    QTest::mousePress(row, Qt::RightButton, {}, QPoint(20, 15));
    ASSERT_TRUE(menu->isOpen());
    SnowMenuPopup *popup = menu->menu()->popup();
    const QRect placed = popup->geometry();
    const QRect anchor(row->mapToGlobal(QPoint(0, 0)), row->size());
    EXPECT_TRUE(geometry.contains(placed));
    EXPECT_EQ(placed.right(), geometry.right() - SnowMenuPopup::Gap);
    EXPECT_EQ(placed.bottom(), anchor.top() - 1 - SnowMenuPopup::Gap);
    EXPECT_EQ(popup->anchor(), anchor);
    saveScreen(&window.host, popup, QStringLiteral("menu_edge_context_row"));
    menu->menu()->close();
}
