// Renders the palettes, type, symbols, badges, indicators, buttons, activity strip and JSON colouring
// in both palettes and in their states, as PNG under renders/design/ for a look.
#include "design/activity_graph.h"
#include "design/badges.h"
#include "design/card_surface.h"
#include "design/fonts.h"
#include "design/hover_animation.h"
#include "design/indicators.h"
#include "design/json_highlighter.h"
#include "design/ks_button.h"
#include "design/palette.h"
#include "design/symbols.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QTextLayout>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

// A page in the palette's background colour that hosts the palette for everything on it.
class Page final : public QWidget
{
public:
    explicit Page(const Palette &palette)
    {
        PaletteHost::set(this, palette);
        m_layout = new QVBoxLayout(this);
        m_layout->setContentsMargins(20, 16, 20, 16);
        m_layout->setSpacing(10);
    }

    // A captioned row of widgets, left-aligned.
    QHBoxLayout *row(const QString &caption)
    {
        auto *line = new QHBoxLayout;
        line->setSpacing(10);
        auto *label = new QLabel(caption);
        label->setFont(Fonts::ksMeta());
        label->setFixedWidth(150);
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, Palette::of(this).mutedForeground);
        label->setPalette(pal);
        line->addWidget(label);
        m_layout->addLayout(line);
        return line;
    }

    void endRow(QHBoxLayout *line) { line->addStretch(1); }
    QVBoxLayout *column() const { return m_layout; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), Palette::of(this).background);
    }

private:
    QVBoxLayout *m_layout;
};

// A swatch of one colour with its name, over a checker so translucent colours show.
class Swatch final : public QWidget
{
public:
    Swatch(const QString &name, const QColor &color) : m_name(name), m_color(color) { setFixedSize(124, 44); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const Palette palette = Palette::of(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF chip(0, 0, 28, 28);
        p.fillPath(roundedRectPath(chip, 6), palette.background);
        p.fillPath(roundedRectPath(chip, 6), m_color);
        p.setPen(palette.border);
        p.drawPath(roundedRectPath(chip.adjusted(0.5, 0.5, -0.5, -0.5), 6));
        p.setFont(Fonts::inter(10, QFont::Medium));
        p.setPen(palette.foreground);
        p.drawText(QRectF(32, 0, 92, 14), Qt::AlignLeft | Qt::AlignVCenter, m_name);
        p.setFont(Fonts::mono(9));
        p.setPen(palette.mutedForeground);
        p.drawText(QRectF(32, 14, 92, 14), Qt::AlignLeft | Qt::AlignVCenter, m_color.name(QColor::HexArgb));
    }

private:
    QString m_name;
    QColor m_color;
};

// Text in one style, in the foreground colour.
class Sample final : public QWidget
{
public:
    Sample(const QString &text, const QFont &font) : m_text(text), m_font(font)
    {
        setFixedSize(QFontMetrics(font).horizontalAdvance(text) + 4, QFontMetrics(font).height() + 4);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setFont(m_font);
        p.setPen(Palette::of(this).foreground);
        p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, m_text);
    }

private:
    QString m_text;
    QFont m_font;
};

// A symbol with its name under it.
class SymbolCell final : public QWidget
{
public:
    explicit SymbolCell(const QString &name) : m_name(name) { setFixedSize(150, 46); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const Palette palette = Palette::of(this);
        Symbols::draw(p, QRectF(0, 0, width(), 26), m_name, 16, palette.foreground);
        p.setFont(Fonts::inter(8));
        p.setPen(palette.mutedForeground);
        p.drawText(QRectF(0, 28, width(), 16), Qt::AlignCenter, m_name);
    }

private:
    QString m_name;
};

// A JSON body on the panel style, coloured for the palette.
class JsonSample final : public QWidget
{
public:
    explicit JsonSample(const QString &text) : m_text(text) { setFixedSize(420, 200); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const Palette palette = Palette::of(this);
        paintPanelStyle(p, QRectF(rect()), palette, 10);
        const ColoredText colored = JSONHighlighter::attributed(m_text, palette.isDark);
        QList<QTextLayout::FormatRange> formats;
        for (const ColoredRun &run : colored.runs) {
            QTextCharFormat format;
            format.setForeground(run.color);
            formats.append({int(run.start), int(run.length), format});
        }
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        QString shown = colored.text;
        shown.replace(QLatin1Char('\n'), QChar::LineSeparator); // same length, so the runs still line up
        QTextLayout layout(shown, Fonts::ksCode());
        layout.setTextOption(option);
        layout.setFormats(formats);
        layout.beginLayout();
        qreal y = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width() - 24);
            line.setPosition(QPointF(0, y));
            y += line.height();
        }
        layout.endLayout();
        layout.draw(&p, QPointF(12, 10));
    }

private:
    QString m_text;
};

using V = KSButton::Variant;
using S = KSButton::Size;

void hover(SnowButtonBase *button)
{
    button->hoverAnimation()->setHovered(true);
    button->hoverAnimation()->finish();
}

QString save(QWidget &page, const QString &name)
{
    page.adjustSize();
    page.show();
    QCoreApplication::processEvents();
    const QString path = testsupport::saveRender(&page, QStringLiteral("design"), name);
    page.hide();
    return path;
}

struct Appearance
{
    const Palette *palette;
    QString suffix;
};

const Appearance appearances[] = {{&Palette::light(), QStringLiteral("light")},
                                  {&Palette::dark(), QStringLiteral("dark")}};

void expectSaved(const QString &path)
{
    const QImage image(path);
    EXPECT_FALSE(image.isNull()) << path.toStdString();
    EXPECT_GT(QFileInfo(path).size(), 1000) << path.toStdString();
}

} // namespace

TEST(GalleryA, PaletteAndType)
{
    Fonts::registerApplicationFonts();
    for (const Appearance &a : appearances) {
        Page page(*a.palette);
        const Palette &p = *a.palette;
        const std::pair<const char *, QColor> fields[] = {
            {"background", p.background}, {"content", p.content}, {"card", p.card}, {"elevated", p.elevated},
            {"muted", p.muted}, {"mutedStrong", p.mutedStrong}, {"subtle", p.subtle},
            {"mutedForeground", p.mutedForeground}, {"faint", p.faint}, {"foreground", p.foreground},
            {"border", p.border}, {"borderStrong", p.borderStrong}, {"inputBackground", p.inputBackground},
            {"switchOff", p.switchOff}, {"shadow", p.shadow}, {"pillActiveBg", p.pillActiveBg},
            {"pillActiveText", p.pillActiveText}, {"sidebarBg", p.sidebarBg}, {"railBg", p.railBg},
            {"tableHeader", p.tableHeader}, {"brand", p.brand}, {"brandHover", p.brandHover},
            {"onBrand", p.onBrand}, {"accentText", p.accentText()}, {"errorRed", p.errorRed()},
            {"pastelInk", Palette::pastelInk()}, {"purple", Palette::purple()}, {"indigo", Palette::indigo()},
            {"blue", Palette::blue()}, {"cyan", Palette::cyan()}, {"mint", Palette::mint()},
            {"green", Palette::green()}, {"yellow", Palette::yellow()}, {"orange", Palette::orange()},
            {"red", Palette::red()}, {"bg3", Palette::bg3()}, {"bg4", Palette::bg4()}};
        auto *grid = new QGridLayout;
        int i = 0;
        for (const auto &[name, color] : fields) {
            grid->addWidget(new Swatch(QString::fromLatin1(name), color), i / 6, i % 6);
            ++i;
        }
        page.column()->addLayout(grid);
        const std::pair<const char *, QFont> styles[] = {
            {"ksGreeting · Good morning", Fonts::ksGreeting()}, {"ksStat · 1,284", Fonts::ksStat()},
            {"ksSection · Recent traffic", Fonts::ksSection()}, {"ksBody · Mock routes answer first", Fonts::ksBody()},
            {"ksMeta · 3 routes · 2 min ago", Fonts::ksMeta()}, {"ksCode · GET /v2/users/:id", Fonts::ksCode()},
            {"ksCodeSm · curl -x localhost:9999", Fonts::ksCodeSm()}};
        for (const auto &[text, font] : styles)
            page.column()->addWidget(new Sample(QString::fromUtf8(text), font));
        expectSaved(save(page, QStringLiteral("palette_type_") + a.suffix));
    }
}

TEST(GalleryA, Symbols)
{
    for (const Appearance &a : appearances) {
        Page page(*a.palette);
        auto *grid = new QGridLayout;
        grid->setSpacing(4);
        const QStringList names = Symbols::names();
        for (int i = 0; i < names.size(); ++i)
            grid->addWidget(new SymbolCell(names[i]), i / 7, i % 7);
        page.column()->addLayout(grid);
        expectSaved(save(page, QStringLiteral("symbols_") + a.suffix));
    }
}

TEST(GalleryA, BadgesAndIndicators)
{
    for (const Appearance &a : appearances) {
        Page page(*a.palette);
        auto *row = page.row(QStringLiteral("MethodBadge"));
        for (const char *m : {"GET", "POST", "PUT", "DELETE", "PATCH", "CONNECT"})
            row->addWidget(new MethodBadge(QString::fromLatin1(m)));
        page.endRow(row);

        row = page.row(QStringLiteral("SnowTag"));
        using T = SnowTag::Tone;
        row->addWidget(new SnowTag(QStringLiteral("neutral"), T::neutral));
        row->addWidget(new SnowTag(QStringLiteral("brand"), T::brand));
        row->addWidget(new SnowTag(QStringLiteral("watching"), T::success, QStringLiteral("eye")));
        row->addWidget(new SnowTag(QStringLiteral("3 warning"), T::warning));
        row->addWidget(new SnowTag(QStringLiteral("Chaos: Flaky"), T::error, QStringLiteral("tornado")));
        row->addWidget(new SnowTag(QStringLiteral("info"), T::info));
        row->addWidget(new SnowTag(QStringLiteral("new"), T::violet, {}, true));
        page.endRow(row);

        row = page.row(QStringLiteral("StatusChip"));
        for (qint64 status : {0, 199, 200, 301, 404, 499, 500, 600})
            row->addWidget(new StatusChip(status, false));
        row->addWidget(new StatusChip(503, true));
        row->addWidget(new StatusChip(200, true));
        row->addWidget(new StatusChip(0, true));
        page.endRow(row);

        row = page.row(QStringLiteral("CountBadge · KeyCap"));
        row->addWidget(new CountBadge(0));
        row->addWidget(new CountBadge(42));
        row->addWidget(new CountBadge(-7));
        row->addWidget(new CountBadge(1284));
        row->addWidget(new KeyCap(QStringLiteral("⌘K")));
        row->addWidget(new KeyCap(QStringLiteral("esc")));
        page.endRow(row);

        row = page.row(QStringLiteral("IconTile"));
        row->addWidget(new IconTile(QStringLiteral("globe"), std::nullopt, 32, 8));
        row->addWidget(new IconTile(QStringLiteral("key"), Palette::indigo(), 36, 12));
        row->addWidget(new IconTile(QStringLiteral("iphone"), Palette::mint(), 36, 12));
        row->addWidget(new IconTile(QStringLiteral("cpu"), std::nullopt, 36, 12));
        page.endRow(row);

        row = page.row(QStringLiteral("StatusDot · SnowLoader"));
        row->addSpacing(8);
        row->addWidget(new StatusDot(Palette::green(), 8, false));
        row->addSpacing(12);
        auto *pulsing = new StatusDot(Palette::green(), 8, true);
        row->addWidget(pulsing);
        row->addSpacing(12);
        row->addWidget(new StatusDot(Palette::red(), 10, false));
        row->addSpacing(12);
        row->addWidget(new SnowLoader(9));
        row->addWidget(new SnowLoader(16));
        row->addWidget(new SnowLoader(36, Palette::mint()));
        page.endRow(row);

        row = page.row(QStringLiteral("SnowDivider"));
        auto *box = new QWidget;
        box->setFixedSize(300, 40);
        auto *boxLayout = new QHBoxLayout(box);
        boxLayout->setContentsMargins(0, 0, 0, 0);
        auto *horizontal = new QVBoxLayout;
        horizontal->addWidget(new SnowDivider(false, 0));
        horizontal->addWidget(new SnowDivider(false, 24));
        boxLayout->addLayout(horizontal, 1);
        boxLayout->addWidget(new SnowDivider(true, 0));
        boxLayout->addWidget(new SnowDivider(true, 10));
        row->addWidget(box);
        page.endRow(row);

        page.adjustSize();
        page.show();
        // Halfway through a pulse, so the halo shows.
        testsupport::waitFor([&] { return pulsing->haloPhase() > 0.3; }, 1500);
        expectSaved(testsupport::saveRender(&page, QStringLiteral("design"), QStringLiteral("badges_") + a.suffix));
    }
}

TEST(GalleryA, Buttons)
{
    for (const Appearance &a : appearances) {
        Page page(*a.palette);
        const std::pair<const char *, V> variants[] = {{"primary", V::primary}, {"secondary", V::secondary},
                                                        {"ghost", V::ghost},     {"text", V::text},
                                                        {"destructive", V::destructive}, {"violet", V::violet}};
        for (const auto &[name, variant] : variants) {
            auto *row = page.row(QStringLiteral("KSButton ") + QString::fromLatin1(name));
            row->addWidget(new KSButton(QStringLiteral("Normal"), QStringLiteral("plus"), variant, S::md));
            auto *hovered = new KSButton(QStringLiteral("Hover"), QStringLiteral("plus"), variant, S::md);
            row->addWidget(hovered);
            hover(hovered);
            row->addWidget(new KSButton(QStringLiteral("Disabled"), QStringLiteral("plus"), variant, S::md, false,
                                        false, true));
            row->addWidget(new KSButton(QStringLiteral("Loading"), QStringLiteral("plus"), variant, S::md, false,
                                        true, false));
            auto *pressed = new KSButton(QStringLiteral("Pressed"), {}, variant, S::md);
            row->addWidget(pressed);
            pressed->pressStyle()->setPressed(true);
            pressed->pressStyle()->finish();
            page.endRow(row);
        }
        auto *row = page.row(QStringLiteral("sizes sm · md · lg"));
        row->addWidget(new KSButton(QStringLiteral("Small"), QStringLiteral("sparkles"), V::primary, S::sm));
        row->addWidget(new KSButton(QStringLiteral("Medium"), QStringLiteral("sparkles"), V::primary, S::md));
        row->addWidget(new KSButton(QStringLiteral("Large"), QStringLiteral("sparkles"), V::primary, S::lg));
        row->addWidget(new PrimaryButton(QStringLiteral("PrimaryButton"), {}, S::sm));
        row->addWidget(new SecondaryButton(QStringLiteral("SecondaryButton"), {}, false, S::sm));
        page.endRow(row);

        row = page.row(QStringLiteral("fullWidth"));
        row->addWidget(new KSButton(QStringLiteral("Continue"), {}, V::primary, S::lg, true), 1);

        row = page.row(QStringLiteral("Secondary destructive"));
        row->addWidget(new SecondaryButton(QStringLiteral("Clear"), QStringLiteral("trash"), true, S::sm));
        row->addWidget(new SecondaryButton(QStringLiteral("Clear"), QStringLiteral("trash"), true, S::md));
        row->addWidget(new SecondaryButton(QStringLiteral("Clear lg"), QStringLiteral("trash"), true, S::lg));
        auto *destructiveHover = new SecondaryButton(QStringLiteral("Hover"), QStringLiteral("trash"), true, S::md);
        row->addWidget(destructiveHover);
        hover(destructiveHover);
        row->addWidget(new SecondaryButton(QStringLiteral("Loading"), {}, true, S::md, true));
        row->addWidget(new SecondaryButton(QStringLiteral("Disabled"), {}, true, S::md, false, true));
        page.endRow(row);

        row = page.row(QStringLiteral("GhostIconButton"));
        row->addWidget(new GhostIconButton(QStringLiteral("trash"), 24, 12));
        auto *ghostHover = new GhostIconButton(QStringLiteral("sidebar.right"), 28, 14);
        row->addWidget(ghostHover);
        hover(ghostHover);
        row->addWidget(new GhostIconButton(QStringLiteral("moon"), 28, 14, Palette::indigo()));
        page.endRow(row);

        row = page.row(QStringLiteral("CircleIconButton"));
        row->addWidget(new CircleIconButton(QStringLiteral("bolt.fill"), 28, false));
        auto *circleHover = new CircleIconButton(QStringLiteral("bolt.fill"), 28, false);
        row->addWidget(circleHover);
        hover(circleHover);
        row->addWidget(new CircleIconButton(QStringLiteral("bolt.fill"), 28, true));
        row->addSpacing(8);
        row->addWidget(new CircleIconButton(QStringLiteral("arrow.triangle.branch"), 28, false, 0));
        row->addSpacing(8);
        row->addWidget(new CircleIconButton(QStringLiteral("arrow.triangle.branch"), 24, true, 12));
        page.endRow(row);

        page.resize(900, 10);
        expectSaved(save(page, QStringLiteral("buttons_") + a.suffix));
    }
}

TEST(GalleryA, ActivityAndJson)
{
    for (const Appearance &a : appearances) {
        Page page(*a.palette);
        auto *row = page.row(QStringLiteral("ActivityGraph 24"));
        auto *graph = new ActivityGraph({0, 1, 2, 3, 4, 9, -1, 0, 2, 4, 4, 3, 1, 0, 0, 1, 2, 2, 3, 4}, 24);
        graph->setFixedWidth(330);
        row->addWidget(graph);
        page.endRow(row);
        row = page.row(QStringLiteral("3 values, 5 columns"));
        auto *shortList = new ActivityGraph({4, 4, 4}, 5);
        shortList->setFixedWidth(200);
        row->addWidget(shortList);
        page.endRow(row);
        row = page.row(QStringLiteral("0 columns"));
        auto *empty = new ActivityGraph({4}, 0);
        empty->setFixedWidth(200);
        row->addWidget(empty);
        page.endRow(row);

        row = page.row(QStringLiteral("JSONHighlighter"));
        row->addWidget(new JsonSample(QStringLiteral(
            "{\n  \"users\": [\n    {\"id\": \"usr_01\", \"name\": \"Ada 🚀\", \"role\": \"admin\"},\n"
            "    {\"id\": \"usr_02\", \"active\": true, \"manager\": null}\n  ],\n  \"total\": 24,\n"
            "  \"ratio\": -1.5e3,\n  \"note\": \"is true\", \"flag\": trueish\n}")));
        page.endRow(row);

        row = page.row(QStringLiteral("cardSurface · panelStyle"));
        auto *card = new CardSurface(12);
        card->setFixedSize(160, 60);
        row->addWidget(card);
        auto *panel = new PanelStyle(10);
        panel->setFixedSize(160, 60);
        row->addWidget(panel);
        page.endRow(row);
        expectSaved(save(page, QStringLiteral("activity_json_") + a.suffix));
    }
}
