// The dashboard's own pieces: statistic tiles, metric tiles, recent rows, step and alert rows,
// chaos chips and their grid, and the first-run drop panel. Each updates in place.
#pragma once

#include "design/ks_button.h"
#include "design/shell_widgets.h"
#include "screens/traffic/dashboard_logic.h"

#include <QColor>
#include <QList>
#include <QWidget>

#include <functional>
#include <optional>

class AnimatedFlag;
class IconTile;
class MethodBadge;
class QMimeData;
class StatusChip;

// One statistic: a label over a large value, on a pastel or the card surface.
class StatCard final : public QWidget
{
    Q_OBJECT
public:
    StatCard(const QString &label, std::optional<QColor> pastel, QWidget *parent = nullptr);
    void setValue(const QString &value);
    QString label() const;
    QString value() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<QColor> m_pastel;
    ShellText *m_label;
    ShellText *m_value;
};

// A metric of the session card: a value in an optional tint over its label, at least 96 wide.
class MetricTile final : public QWidget
{
    Q_OBJECT
public:
    explicit MetricTile(const QString &label, QWidget *parent = nullptr);
    void setValue(const QString &value, std::optional<QColor> tint);
    QString value() const;
    std::optional<QColor> tint() const { return m_tint; }

private:
    ShellText *m_value;
    std::optional<QColor> m_tint;
};

// The host in mutedForeground directly followed by the path in foreground, one line, elided at the end.
class HostPathText final : public QWidget
{
    Q_OBJECT
public:
    explicit HostPathText(QWidget *parent = nullptr);
    void setHostPath(const QString &host, const QString &path);
    QString text() const { return m_host + m_path; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_host;
    QString m_path;
};

// A recent request: time, method, host and path, status; the whole row opens live traffic.
class RecentRow final : public PlainButton
{
    Q_OBJECT
public:
    explicit RecentRow(QWidget *parent = nullptr);
    void setEntry(const TrafficEntry &entry);
    QString timestamp() const;
    QString hostPath() const { return m_hostPath->text(); }

private:
    ShellText *m_time;
    MethodBadge *m_method;
    HostPathText *m_hostPath;
    StatusChip *m_status;
    TrafficEntry m_entry;
};

// A setup step: icon tile, title (struck through when done), detail, and its button or a check.
class StepRow final : public QWidget
{
    Q_OBJECT
public:
    explicit StepRow(QWidget *parent = nullptr);
    void setStep(const DashboardLogic::SetupStep &step);
    const DashboardLogic::SetupStep &step() const { return m_step; }
    SecondaryButton *button() const { return m_button; }
    QWidget *check() const { return m_check; }
    QString title() const;
    QString detail() const;

signals:
    void actionRequested(DashboardLogic::Action action);

private:
    DashboardLogic::SetupStep m_step;
    bool m_hasStep = false;
    IconTile *m_tile;
    ShellText *m_title;
    ShellText *m_detail;
    SecondaryButton *m_button;
    SymbolLabel *m_check;
};

// An attention alert: coloured symbol, title and its button.
class AlertRow final : public QWidget
{
    Q_OBJECT
public:
    explicit AlertRow(QWidget *parent = nullptr);
    void setItem(const DashboardLogic::AttentionItem &item);
    const DashboardLogic::AttentionItem &item() const { return m_item; }
    SecondaryButton *button() const { return m_button; }
    QColor iconColor() const;

signals:
    void actionRequested(DashboardLogic::Action action);

private:
    DashboardLogic::AttentionItem m_item;
    bool m_hasItem = false;
    SymbolLabel *m_icon;
    ShellText *m_title;
    SecondaryButton *m_button;
};

// A chaos preset as a chip: symbol, name, fault summary, a check while selected; pastel when selected.
class ChaosChip final : public SnowButtonBase
{
    Q_OBJECT
public:
    static constexpr int Height = 56;

    explicit ChaosChip(QWidget *parent = nullptr);
    void setPreset(const QString &icon, const QString &name, const QString &summary);
    void setSelected(bool selected);
    QString icon() const { return m_icon; }
    QString name() const { return m_name; }
    QString summary() const { return m_summary; }
    bool selected() const { return m_selected; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_icon;
    QString m_name;
    QString m_summary;
    bool m_selected = false;
};

// Chips in as many columns of at least 210 as fit, 12 apart both ways.
class ChipGrid final : public QWidget
{
    Q_OBJECT
public:
    explicit ChipGrid(QWidget *parent = nullptr);
    // Shows the first count chips (made as needed and then kept), hides the rest.
    void setCount(int count);
    int count() const { return m_count; }
    ChaosChip *chip(int index) const { return m_chips.value(index); }
    int columns() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void chipClicked(int index);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void place();

    QList<ChaosChip *> m_chips;
    int m_count = 0;
};

// The first-run panel's surface and drop target: card fill and a faint dashed outline, turning to
// the pastel and the brand colour while a file that can be imported is dragged over it.
class FirstRunPanel final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int AnimationMs = 180;

    explicit FirstRunPanel(QWidget *parent = nullptr);
    // Returns whether the drop was taken.
    void setDropHandler(std::function<bool(const QMimeData *)> handler) { m_dropHandler = std::move(handler); }
    bool dragging() const;
    // 0 at rest, 1 fully highlighted.
    qreal highlight() const;
    QColor fillColor() const;
    QColor outlineColor() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    AnimatedFlag *m_dragging;
    std::function<bool(const QMimeData *)> m_dropHandler;
};
