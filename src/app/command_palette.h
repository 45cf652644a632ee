// The quick-navigation sheet: a query field above the matching screens and routes.
#pragma once

#include "app/app_context.h"
#include "app/command_palette_logic.h"

#include <QAbstractListModel>
#include <QStyledItemDelegate>
#include <QWidget>

#include <functional>
#include <optional>

class QLineEdit;
class QListView;
class SnowEmptyState;

// The result list: group captions and rows, one list so it scrolls as one.
class PaletteResultsModel final : public QAbstractListModel
{
    Q_OBJECT
public:
    enum class Kind { label, screen, route };
    struct Row
    {
        Kind kind = Kind::label;
        QString title;
        QString subtitle;
        QString icon;
        std::optional<HTTPMethod> method;
        NavItem item = NavItem::dashboard;
        QString routeID;
    };
    enum Roles { KindRole = Qt::UserRole + 1, SubtitleRole, IconRole, MethodRole };

    using QAbstractListModel::QAbstractListModel;

    void setResults(const QList<NavItem> &screens, const QList<Endpoint> &routes);
    const Row &row(int index) const { return m_rows[index]; }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    QList<Row> m_rows;
};

// Paints captions and rows with the palette of the view.
class PaletteRowDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
public:
    // The gap between consecutive results (labels and rows alike).
    static constexpr int Spacing = 2;

    using QStyledItemDelegate::QStyledItemDelegate;
    // The part of an item's rectangle it draws in: every item but the first keeps the gap above it clear.
    static QRect contentRect(const QRect &itemRect, const QModelIndex &index);
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

class CommandPalette final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int Width = 560;
    static constexpr int Height = 440;

    explicit CommandPalette(const AppContext &context, QWidget *parent = nullptr);

    QString query() const;
    void setQuery(const QString &query);
    QList<NavItem> navResults() const;
    QList<Endpoint> routeResults() const;

    // Return in the field: opens what PaletteSearch::activateFirst picks; nothing matching keeps the palette open.
    void activateFirst();
    // A click on a result row.
    void activateRow(int row);

    PaletteResultsModel *results() const { return m_model; }
    QListView *resultsView() const { return m_view; }
    QLineEdit *field() const { return m_field; }
    bool showsNoMatches() const;

    // Runs after a successful activation (the sheet's dismiss action; by default it closes the sheet).
    void setDismiss(std::function<void()> dismiss) { m_dismiss = std::move(dismiss); }

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();
    void applyFieldColors();
    void open(const PaletteSearch::Activation &activation);

    AppContext m_context;
    QLineEdit *m_field;
    PaletteResultsModel *m_model;
    QListView *m_view;
    SnowEmptyState *m_empty;
    QWidget *m_emptyBox;
    std::function<void()> m_dismiss;
};
