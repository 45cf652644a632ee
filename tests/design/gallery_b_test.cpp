// Renders the input, choice, feedback, layout and menu controls in both palettes and their states.
#include "design/card.h"
#include "design/choice_chips.h"
#include "design/copy_button.h"
#include "design/fonts.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/search_field.h"
#include "design/sidebar_row.h"
#include "design/snow_context_menu.h"
#include "design/snow_dropdown.h"
#include "design/snow_empty_state.h"
#include "design/snow_field.h"
#include "design/snow_menu_list.h"
#include "design/snow_menu_popup.h"
#include "design/snow_progress_bar.h"
#include "design/snow_segmented.h"
#include "design/snow_select.h"
#include "design/snow_slider.h"
#include "design/snow_stepper.h"
#include "design/snow_switch.h"
#include "design/snow_text.h"
#include "design/snow_text_field.h"
#include "design/snow_toast.h"
#include "design/symbols.h"
#include "design/tab_bar.h"

#include "support/test_support.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QFile>
#include <QFocusEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QVariantAnimation>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <array>

namespace {

struct Appearance
{
    const Palette *palette;
    QString suffix;
};

const QList<Appearance> &appearances()
{
    static const QList<Appearance> list{{&Palette::light(), QStringLiteral("light")},
                                        {&Palette::dark(), QStringLiteral("dark")}};
    return list;
}

// A window that carries the palette and paints its background.
std::unique_ptr<QWidget> makeHost(const Palette &palette, int width)
{
    auto host = std::make_unique<QWidget>();
    PaletteHost::set(host.get(), palette);
    QPalette background = host->palette();
    background.setColor(QPalette::Window, palette.background);
    host->setPalette(background);
    host->setAutoFillBackground(true);
    host->setFixedWidth(width);
    auto *layout = new QVBoxLayout(host.get());
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(14);
    return host;
}

QWidget *caption(const QString &text)
{
    return new SnowText(text, Fonts::inter(11, QFont::DemiBold), [](const Palette &p) { return p.mutedForeground; });
}

QWidget *row(const QList<QWidget *> &widgets, int spacing = 16)
{
    auto *holder = new QWidget;
    auto *layout = new QHBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    for (QWidget *w : widgets)
        layout->addWidget(w, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    return holder;
}

void add(QWidget *host, QWidget *widget)
{
    static_cast<QVBoxLayout *>(host->layout())->addWidget(widget);
}

void hover(QWidget *widget)
{
    QEnterEvent enter(QPointF(4, 4), QPointF(4, 4), QPointF(4, 4));
    QCoreApplication::sendEvent(widget, &enter);
}

void focus(QWidget *editor)
{
    QFocusEvent in(QEvent::FocusIn, Qt::OtherFocusReason);
    QCoreApplication::sendEvent(editor, &in);
}

// Runs every animation in the tree to its end so renders show the settled look.
void settle(QWidget *root)
{
    QCoreApplication::processEvents();
    for (QVariantAnimation *animation : root->findChildren<QVariantAnimation *>()) {
        if (animation->state() == QAbstractAnimation::Running && animation->loopCount() == 1)
            animation->setCurrentTime(animation->totalDuration());
    }
    QCoreApplication::processEvents();
}

void show(QWidget *host)
{
    host->adjustSize();
    host->show();
    QCoreApplication::processEvents();
    // The first field would take the window's focus; renders fake focus only where asked.
    if (QWidget *focused = QApplication::focusWidget())
        focused->clearFocus();
    settle(host);
}

// The host with its open popup drawn where it sits on screen.
QString saveWithPopup(QWidget *host, SnowMenuPopup *popup, const QString &name)
{
    settle(host);
    settle(popup);
    const QPoint origin = host->mapToGlobal(QPoint(0, 0));
    const QRect popupRect = popup->geometry().translated(-origin);
    const QRect all = host->rect().united(popupRect).adjusted(0, 0, 0, 24);
    QPixmap canvas(all.size());
    canvas.fill(Palette::of(host).background);
    QPainter painter(&canvas);
    painter.drawPixmap(-all.topLeft(), host->grab());
    painter.drawPixmap(popupRect.topLeft() - all.topLeft(), popup->grab());
    painter.end();
    QLabel label;
    label.setPixmap(canvas);
    label.resize(canvas.size());
    return testsupport::saveRender(&label, QStringLiteral("design"), name);
}

QList<SnowMenuItem> sampleEntries()
{
    QList<SnowMenuItem> items;
    items << SnowMenuItem::header(QStringLiteral("Projects"));
    items << SnowMenuItem::entry(QStringLiteral("Default"), QStringLiteral("folder"), [] {}, SnowMenuItem::Tone::normal,
                                 true);
    items << SnowMenuItem::entry(QStringLiteral("Payments API staging environment with a long name"),
                                 QStringLiteral("folder"), [] {});
    items << SnowMenuItem::divider();
    items << SnowMenuItem::entry(QStringLiteral("New project…"), QStringLiteral("plus"), [] {},
                                 SnowMenuItem::Tone::accent);
    items << SnowMenuItem::entry(QStringLiteral("Replay request"), QStringLiteral("arrow.clockwise"), [] {},
                                 SnowMenuItem::Tone::normal, false, true);
    items << SnowMenuItem::entry(QStringLiteral("Delete route"), QStringLiteral("trash"), [] {},
                                 SnowMenuItem::Tone::destructive);
    return items;
}

} // namespace

TEST(GalleryB, InputControls)
{
    for (const Appearance &a : appearances()) {
        auto host = makeHost(*a.palette, 760);

        add(host.get(), caption(QStringLiteral("SWITCH — off, on, off hovered, on hovered, disabled on, disabled off")));
        QList<QWidget *> switches;
        for (int i = 0; i < 6; ++i) {
            auto *s = new SnowSwitch;
            s->setOn(i == 1 || i == 3 || i == 4);
            s->setDisabled(i >= 4);
            switches << s;
        }
        add(host.get(), row(switches));

        add(host.get(), caption(QStringLiteral("SLIDER — 0, 37 of 100, 100, 250 of 100 (clamped), mint 2500 of 5000, empty range")));
        auto *sliders = new QWidget;
        auto *grid = new QGridLayout(sliders);
        grid->setContentsMargins(0, 0, 0, 0);
        grid->setHorizontalSpacing(24);
        grid->setVerticalSpacing(10);
        const QList<std::tuple<double, double, double, std::optional<QColor>>> sliderCases{
            {0, 0, 100, std::nullopt},   {37, 0, 100, std::nullopt},      {100, 0, 100, std::nullopt},
            {250, 0, 100, std::nullopt}, {2500, 0, 5000, Palette::mint()}, {5, 5, 5, std::nullopt}};
        for (int i = 0; i < sliderCases.size(); ++i) {
            auto *slider = new SnowSlider;
            const auto &[value, lower, upper, color] = sliderCases[i];
            slider->setRange(lower, upper);
            slider->setValue(value);
            slider->setColor(color);
            grid->addWidget(slider, i / 3, i % 3);
        }
        add(host.get(), sliders);

        add(host.get(), caption(QStringLiteral("COPY BUTTON — idle 12, copied 12, idle 16")));
        auto *copied = new CopyButton(QStringLiteral("x"), 12);
        add(host.get(), row({new CopyButton(QStringLiteral("x"), 12), copied, new CopyButton(QStringLiteral("x"), 16)}));
        copied->copy();

        add(host.get(), caption(QStringLiteral("SEARCH FIELD — placeholder, text, hovered, focused")));
        auto *searchGrid = new QWidget;
        auto *sg = new QGridLayout(searchGrid);
        sg->setContentsMargins(0, 0, 0, 0);
        sg->setSpacing(12);
        QList<SearchField *> searches;
        for (int i = 0; i < 4; ++i) {
            auto *field = new SearchField;
            field->setPlaceholder(QStringLiteral("Filter endpoints…"));
            if (i > 0)
                field->setText(QStringLiteral("/v2/users"));
            sg->addWidget(field, i / 2, i % 2);
            searches << field;
        }
        add(host.get(), searchGrid);

        add(host.get(), caption(QStringLiteral("TEXT FIELD — placeholder, icon, mono height 36, focused")));
        auto *textGrid = new QWidget;
        auto *tg = new QGridLayout(textGrid);
        tg->setContentsMargins(0, 0, 0, 0);
        tg->setSpacing(12);
        auto *plain = new SnowTextField;
        plain->setPlaceholder(QStringLiteral("api.example.com"));
        auto *withIcon = new SnowTextField;
        withIcon->setIcon(QStringLiteral("globe"));
        withIcon->setText(QStringLiteral("api.example.com"));
        auto *mono = new SnowTextField;
        mono->setMono(true);
        mono->setBoxHeight(36);
        mono->setText(QStringLiteral("/v2/users/:id"));
        auto *focused = new SnowTextField;
        focused->setPlaceholder(QStringLiteral("key"));
        focused->setMono(true);
        focused->setBoxHeight(36);
        tg->addWidget(plain, 0, 0);
        tg->addWidget(withIcon, 0, 1);
        tg->addWidget(mono, 1, 0);
        tg->addWidget(focused, 1, 1);
        add(host.get(), textGrid);

        add(host.get(), caption(QStringLiteral("FIELD — label and hint, label and error")));
        auto *hinted = new SnowField(new SnowTextField);
        hinted->setLabel(QStringLiteral("Path"));
        hinted->setHint(QStringLiteral("Use :param for wildcard segments — /v2/users/:id"));
        auto *failing = new SnowField(new SnowTextField);
        failing->setLabel(QStringLiteral("Path"));
        failing->setHint(QStringLiteral("never shown"));
        failing->setError(QStringLiteral("Another route already serves GET api.example.com/v2/users"));
        auto *fields = new QWidget;
        auto *fl = new QHBoxLayout(fields);
        fl->setContentsMargins(0, 0, 0, 0);
        fl->setSpacing(16);
        fl->addWidget(hinted);
        fl->addWidget(failing);
        add(host.get(), fields);

        show(host.get());
        hover(switches[2]);
        hover(switches[3]);
        hover(searches[2]);
        focus(searches[3]->lineEdit());
        focus(focused->lineEdit());
        settle(host.get());
        EXPECT_TRUE(searches[3]->isFocused());
        EXPECT_TRUE(focused->isFocused());
        const QString path = testsupport::saveRender(host.get(), QStringLiteral("design"),
                                                     QStringLiteral("inputs_") + a.suffix);
        EXPECT_TRUE(QFile::exists(path));
    }
}

TEST(GalleryB, ChoiceControls)
{
    for (const Appearance &a : appearances()) {
        auto host = makeHost(*a.palette, 760);
        add(host.get(), caption(QStringLiteral("SELECT — sm, md, lg, placeholder, icon, hovered, open (120 fixed)")));
        auto *sm = new SnowSelect;
        sm->setSize(KSButton::Size::sm);
        sm->setValue(QStringLiteral("GET"));
        sm->setBoxWidth(110);
        auto *md = new SnowSelect;
        md->setValue(QStringLiteral("Staging"));
        md->setBoxWidth(180);
        auto *lg = new SnowSelect;
        lg->setSize(KSButton::Size::lg);
        lg->setValue(QStringLiteral("Production"));
        lg->setBoxWidth(200);
        add(host.get(), row({sm, md, lg}));
        auto *placeholder = new SnowSelect;
        placeholder->setValue(QStringLiteral("No environment"), true);
        placeholder->setIcon(QStringLiteral("curlybraces"));
        placeholder->setBoxWidth(200);
        auto *hovered = new SnowSelect;
        hovered->setValue(QStringLiteral("Hovered"));
        hovered->setBoxWidth(160);
        auto *open = new SnowSelect;
        open->setValue(QStringLiteral("Open"));
        open->setBoxWidth(120);
        open->setItems(sampleEntries());
        add(host.get(), row({placeholder, hovered, open}));

        add(host.get(), caption(QStringLiteral("SEGMENTED — Light selected, Dark hovered")));
        auto *segmented = new SnowSegmented;
        segmented->setItems({{0, QStringLiteral("System"), QStringLiteral("circle.lefthalf.filled")},
                             {1, QStringLiteral("Light"), QStringLiteral("sun.max")},
                             {2, QStringLiteral("Dark"), QStringLiteral("moon")}});
        segmented->setSelection(1);
        add(host.get(), row({segmented}));

        add(host.get(), caption(QStringLiteral("STEPPER — with label at 3 of 1…50, no label at the 64-bit maximum")));
        auto *arrays = new SnowStepper;
        arrays->setRange(1, 50);
        arrays->setValue(3);
        arrays->setLabel(QStringLiteral("Arrays"));
        auto *huge = new SnowStepper;
        huge->setRange(0, std::numeric_limits<qint64>::max());
        huge->setValue(std::numeric_limits<qint64>::max());
        huge->stepUp();
        add(host.get(), row({arrays, huge}, 32));

        add(host.get(), caption(QStringLiteral("PROGRESS — -0.5, 0.25, 0.6 mint, 1.7")));
        for (const auto &[value, tint] : QList<std::pair<double, std::optional<QColor>>>{
                 {-0.5, std::nullopt}, {0.25, std::nullopt}, {0.6, Palette::mint()}, {1.7, std::nullopt}}) {
            auto *bar = new SnowProgressBar;
            bar->setValue(value);
            bar->setTint(tint);
            add(host.get(), bar);
        }

        show(host.get());
        hover(hovered);
        hover(segmented->chip(2));
        open->setOpen(true);
        ASSERT_TRUE(open->isOpen());
        EXPECT_EQ(open->menu()->popup()->list()->width(), 200);
        saveWithPopup(host.get(), open->menu()->popup(), QStringLiteral("choices_") + a.suffix);
        open->setOpen(false);
    }
}

TEST(GalleryB, FeedbackControls)
{
    for (const Appearance &a : appearances()) {
        auto host = makeHost(*a.palette, 760);
        add(host.get(), caption(QStringLiteral("EMPTY STATE — full with actions")));
        auto *actions = row({new PrimaryButton(QStringLiteral("Import file"), QStringLiteral("square.and.arrow.down")),
                             new SecondaryButton(QStringLiteral("Load demo"))},
                            12);
        actions->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        auto *full = new SnowEmptyState(QStringLiteral("square.and.arrow.down"), QStringLiteral("Create your first mocks"),
                                        QStringLiteral("Drop a .har, Charles session, Postman, or .json file — Kestrion "
                                                       "turns it into editable mock routes you can serve and tune "
                                                       "instantly."),
                                        Palette::primary(), false, actions);
        add(host.get(), full);
        add(host.get(), caption(QStringLiteral("EMPTY STATE — compact, no message, no actions")));
        auto *compact = new SnowEmptyState(QStringLiteral("curlybraces"), QStringLiteral("No environments yet"),
                                           std::nullopt, Palette::primary(), true);
        add(host.get(), compact);
        add(host.get(), caption(QStringLiteral("TOAST — success, error, info")));
        auto *toasts = new QWidget;
        auto *tl = new QVBoxLayout(toasts);
        tl->setContentsMargins(8, 4, 8, 16);
        tl->setSpacing(18);
        const std::array<SnowToast *, 3> shownToasts{
            new SnowToast(QStringLiteral("Imported 12 routes from capture.har"), SnowToast::Tone::success),
            new SnowToast(QStringLiteral("Trust failed: certutil exited with status 1"), SnowToast::Tone::error),
            new SnowToast(QStringLiteral("Proxy restarted on port 9999"), SnowToast::Tone::info)};
        for (SnowToast *toast : shownToasts)
            tl->addWidget(toast, 0, Qt::AlignLeft);
        add(host.get(), toasts);
        show(host.get());
        const QImage image =
            QImage(testsupport::saveRender(host.get(), QStringLiteral("design"), QStringLiteral("feedback_") + a.suffix));

        // Each toast shows its own tone's symbol colour and no other's.
        const auto shows = [&](QWidget *part, const QColor &colour) {
            const QRect area(part->mapTo(host.get(), QPoint(0, 0)), part->size());
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    if (qAbs(c.red() - colour.red()) <= 8 && qAbs(c.green() - colour.green()) <= 8
                        && qAbs(c.blue() - colour.blue()) <= 8)
                        return true;
                }
            return false;
        };
        for (SnowToast *toast : shownToasts)
            for (SnowToast *other : shownToasts)
                EXPECT_EQ(shows(toast, SnowToast::symbolColor(other->tone())), toast == other)
                    << qPrintable(a.suffix) << " " << toast->text().toStdString();
        // The full state holds its actions; the compact one, with neither message nor actions, is shorter.
        EXPECT_TRUE(full->rect().contains(QRect(actions->mapTo(full, QPoint(0, 0)), actions->size())));
        EXPECT_TRUE(actions->isVisible());
        EXPECT_LT(compact->height(), full->height());
    }
}

TEST(GalleryB, LayoutAndNavigationControls)
{
    for (const Appearance &a : appearances()) {
        auto host = makeHost(*a.palette, 560);
        add(host.get(), caption(QStringLiteral("TAB BAR — Info selected")));
        auto *tabs = new TabBar;
        tabs->setItems({{0, QStringLiteral("Info")}, {1, QStringLiteral("Pins")}, {2, QStringLiteral("Files")},
                        {3, QStringLiteral("Links")}});
        tabs->setSelection(0);
        add(host.get(), row({tabs}));

        add(host.get(), caption(QStringLiteral("CARD with header — padding 20, radius 16")));
        auto *content = new QWidget;
        auto *cl = new QVBoxLayout(content);
        cl->setContentsMargins(0, 0, 0, 0);
        cl->setSpacing(12);
        cl->addWidget(new CardHeader(QStringLiteral("Chaos presets"),
                                     new KSButton(QStringLiteral("Manage"), {}, KSButton::Variant::text,
                                                  KSButton::Size::sm)));
        cl->addWidget(new SnowText(QStringLiteral("Inject latency and failures across every route."), Fonts::ksMeta(),
                                   [](const Palette &p) { return p.mutedForeground; }));
        content->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        add(host.get(), new Card(20, 16, content));

        add(host.get(), caption(QStringLiteral("CHOICE CHIPS — untinted selected; 404 selected with yellow tint")));
        auto *plainChips = new ChoiceChips;
        plainChips->setItems({{0, QStringLiteral("Sequential"), std::nullopt}, {1, QStringLiteral("Random"), std::nullopt}});
        plainChips->setSelection(0);
        auto *tinted = new ChoiceChips;
        tinted->setItems({{0, QStringLiteral("None"), std::nullopt},
                          {1, QStringLiteral("404"), Palette::yellow()},
                          {2, QStringLiteral("500"), Palette::red()}});
        tinted->setSelection(1);
        add(host.get(), row({plainChips, tinted}, 32));

        add(host.get(), caption(QStringLiteral("SIDEBAR — active, hovered, plain with count, nested active, emoji")));
        auto *sidebar = new QWidget;
        sidebar->setFixedWidth(240);
        auto *sl = new QVBoxLayout(sidebar);
        sl->setContentsMargins(0, 0, 0, 0);
        sl->setSpacing(2);
        auto *dashboard = new SidebarRow(QStringLiteral("Dashboard"));
        dashboard->setIcon(QStringLiteral("house"));
        dashboard->setActive(true);
        auto *traffic = new SidebarRow(QStringLiteral("Live traffic"));
        traffic->setIcon(QStringLiteral("waveform"));
        traffic->setTrailing(new SidebarCount(12, true));
        auto *routes = new SidebarRow(QStringLiteral("Routes"));
        routes->setIcon(QStringLiteral("list.bullet"));
        routes->setTrailing(new SidebarCount(1234));
        auto *nested = new SidebarRow(QStringLiteral("/v2/users/:id"));
        nested->setIcon(QStringLiteral("globe"));
        nested->setIndent(12);
        nested->setActive(true);
        auto *emoji = new SidebarRow(QStringLiteral("Payments"));
        emoji->setEmoji(QStringLiteral("💳"));
        emoji->setIcon(QStringLiteral("folder"));
        for (QWidget *w : {static_cast<QWidget *>(dashboard), static_cast<QWidget *>(traffic),
                           static_cast<QWidget *>(routes), static_cast<QWidget *>(nested),
                           static_cast<QWidget *>(emoji)})
            sl->addWidget(w);
        add(host.get(), row({sidebar}));

        show(host.get());
        hover(traffic);
        settle(host.get());
        EXPECT_EQ(dashboard->height(), 30);
        EXPECT_EQ(nested->height(), 26);
        testsupport::saveRender(host.get(), QStringLiteral("design"), QStringLiteral("layout_") + a.suffix);
    }
}

TEST(GalleryB, MenusOpenBelowTheirControls)
{
    for (const Appearance &a : appearances()) {
        auto host = makeHost(*a.palette, 520);
        add(host.get(), caption(QStringLiteral("DROPDOWN — open, second entry hovered")));
        auto *dropdown = new SnowDropdown;
        dropdown->setFixedSize(28, 28);
        dropdown->setMenuWidth(220);
        dropdown->setItems(sampleEntries());
        dropdown->setLabelPainter([](QPainter &p, const QRectF &r, bool open, const Palette &palette) {
            if (open)
                p.fillRect(r, palette.muted);
            Symbols::draw(p, r, QStringLiteral("ellipsis"), 14, palette.mutedForeground);
        });
        add(host.get(), row({dropdown}));
        static_cast<QVBoxLayout *>(host->layout())->addSpacing(300);
        show(host.get());
        dropdown->setOpen(true);
        SnowMenuPopup *popup = dropdown->menu()->popup();
        ASSERT_NE(popup, nullptr);
        popup->list()->setHoveredIndex(2);
        saveWithPopup(host.get(), popup, QStringLiteral("menu_dropdown_") + a.suffix);
        dropdown->setOpen(false);

        auto listHost = makeHost(*a.palette, 520);
        add(listHost.get(), caption(QStringLiteral("CONTEXT MENU — right press on a row")));
        auto *rowView = new SnowText(QStringLiteral("GET  api.example.com/v2/users   200   38 ms"), Fonts::ksCode(),
                                     [](const Palette &p) { return p.foreground; });
        rowView->setFixedHeight(30);
        add(listHost.get(), rowView);
        static_cast<QVBoxLayout *>(listHost->layout())->addSpacing(80);
        SnowContextMenu *menu = SnowContextMenu::attach(
            rowView, 190,
            {SnowMenuItem::entry(QStringLiteral("Replay request"), QStringLiteral("arrow.clockwise"), [] {},
                                 SnowMenuItem::Tone::normal, false, a.palette->isDark)});
        show(listHost.get());
        ASSERT_TRUE(menu->openAt(QPoint(40, 10)));
        saveWithPopup(listHost.get(), menu->menu()->popup(), QStringLiteral("menu_context_") + a.suffix);
        menu->menu()->close();
    }
}

namespace {

// The opaque colour a translucent fill gives over the background.
QColor over(const QColor &fill, const QColor &background)
{
    const float a = fill.alphaF();
    return QColor::fromRgbF(fill.redF() * a + background.redF() * (1 - a),
                            fill.greenF() * a + background.greenF() * (1 - a),
                            fill.blueF() * a + background.blueF() * (1 - a));
}

bool near(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) <= 2 && qAbs(a.green() - b.green()) <= 2 && qAbs(a.blue() - b.blue()) <= 2;
}

} // namespace

TEST(GalleryB, RenderedFillsMatchThePalette)
{
    for (const Appearance &a : appearances()) {
        const Palette &p = *a.palette;
        auto host = makeHost(p, 400);
        auto *idle = new SnowSelect;
        idle->setBoxWidth(120);
        auto *hovered = new SnowSelect;
        hovered->setBoxWidth(120);
        auto *toggle = new SnowSwitch;
        toggle->setOn(true);
        auto *toast = new SnowToast(QStringLiteral("Saved"), SnowToast::Tone::success);
        add(host.get(), row({idle, hovered, toggle, toast}));
        show(host.get());
        hover(hovered);
        settle(host.get());
        const QImage image = host->grab().toImage();
        const auto at = [&](QWidget *w, QPoint local) { return image.pixelColor(w->mapTo(host.get(), local)); };
        EXPECT_TRUE(near(at(idle, QPoint(60, 4)), over(p.inputBackground, p.background))) << qPrintable(a.suffix);
        EXPECT_TRUE(near(at(hovered, QPoint(60, 4)), over(p.mutedStrong, p.background))) << qPrintable(a.suffix);
        EXPECT_TRUE(near(at(toggle, QPoint(3, 10)), p.brand)) << qPrintable(a.suffix);
        // The toast's fill is translucent, so its shadow darkens it a little: only the pill's existence is checked.
        EXPECT_FALSE(near(at(toast, QPoint(toast->width() - 6, toast->height() / 2)), p.background))
            << qPrintable(a.suffix);

        SnowMenuPopup popup;
        popup.open({SnowMenuItem::entry(QStringLiteral("A"), {}, [] {})}, 160, QRect(0, 0, 10, 10), p);
        popup.list()->setHoveredIndex(0);
        settle(&popup);
        const QImage menu = popup.grab().toImage();
        EXPECT_TRUE(near(menu.pixelColor(80, 4), p.elevated)) << qPrintable(a.suffix);
        EXPECT_TRUE(near(menu.pixelColor(120, 25), over(p.mutedStrong, p.elevated))) << qPrintable(a.suffix);
        EXPECT_EQ(menu.width(), 160);
    }
}
