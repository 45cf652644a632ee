// The schema drift screen's two lists: drift findings drawn as cards, and learned baselines drawn
// as rows that expand into their fields with a "Relearn" button.
#pragma once

#include "engine/records/schema_records.h"

#include <QAbstractListModel>
#include <QSet>
#include <QStyledItemDelegate>

#include <functional>
#include <vector>

class EngineClient;
class SecondaryButton;

// The engine link's findings, in its order.
class DriftModel final : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit DriftModel(EngineClient *engine, QObject *parent = nullptr);
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    const SchemaDriftRecord &finding(int row) const { return m_rows.at(row); }

private:
    EngineClient *m_engine;
    QList<SchemaDriftRecord> m_rows;
};

// One finding as a card: key, tags and time, then one line per change.
class DriftCardDelegate final : public QStyledItemDelegate
{
public:
    static constexpr int CardGap = 12;
    explicit DriftCardDelegate(DriftModel *model, QObject *parent = nullptr);
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    static int cardHeight(const SchemaDriftRecord &record);

private:
    DriftModel *m_model;
};

// The baselines in plain key order, and which of them are expanded.
class BaselineModel final : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role { KeyRole = Qt::UserRole + 1 };
    explicit BaselineModel(QObject *parent = nullptr);
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    void setBaselines(const std::vector<SchemaBaseline> &baselines);
    const SchemaBaseline &baseline(int row) const { return m_rows.at(std::size_t(row)); }
    bool expanded(int row) const;
    // Expands or collapses the row with this key; keys are kept after their baseline is gone.
    void toggle(const QString &key);
    const QSet<QString> &expandedKeys() const { return m_expanded; }

private:
    std::vector<SchemaBaseline> m_rows;
    QSet<QString> m_expanded;
};

// One baseline: the summary line (a click toggles it) and, expanded, its fields and "Relearn".
class BaselineRowDelegate final : public QStyledItemDelegate
{
public:
    BaselineRowDelegate(BaselineModel *model, QWidget *view, std::function<void(const QString &key)> relearn);
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;

    static int summaryHeight();
    // Where the "Relearn" button of an expanded row lies.
    QRect relearnRect(const QRect &row, const SchemaBaseline &baseline) const;

private:
    BaselineModel *m_model;
    SecondaryButton *m_relearnButton;
    std::function<void(const QString &)> m_relearn;
};
