// A short list of named records (projects, environments) as an item model and a view whose rows a
// delegate paints: hover, a click, the row's "…" menu and an in-row rename editor.
#pragma once

#include "design/snow_menu_item.h"
#include "screens/routes/painted_list_view.h"

#include <QAbstractListModel>
#include <QMap>
#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

#include <functional>

class SnowMenuOpener;

// Rows are identified by their record's id. setItems() keeps rows whose id stays in place (dataChanged
// when their values changed) and removes and inserts the rest, so an open rename editor survives a
// reload of the list.
class RecordListModel final : public QAbstractListModel
{
    Q_OBJECT
public:
    // RenamingRole is true on the row whose rename editor is open (RecordListView keeps it).
    enum Role { IdRole = Qt::UserRole + 1, RenamingRole, FirstValueRole = Qt::UserRole + 16 };

    struct Item
    {
        QString id;
        QMap<int, QVariant> values; // by role; Qt::DisplayRole is the name
        bool operator==(const Item &) const = default;
    };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    void setItems(const QList<Item> &items);
    const QList<Item> &items() const { return m_items; }
    int rowOf(const QString &id) const;

private:
    QList<Item> m_items;
};

// Paints one record row and, for the row being renamed, supplies its editor. Subclasses say where
// the "…" button and the editor sit.
class RecordRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The row proper inside an item's rect (items leave a 2-point gap below their row).
    static QRect rowRect(const QRect &item) { return item.adjusted(0, 0, 0, -Gap); }
    static constexpr int Gap = 2;
    // How far the row's hover fill has eased in (0 … 1).
    static qreal hoverProgress(const QStyleOptionViewItem &option, const QModelIndex &index);
    // The focus ring round the row the keyboard is on, painted last.
    static void paintKeyboardRing(QPainter &painter, const QStyleOptionViewItem &option, const QModelIndex &index,
                                  qreal radius);

    virtual QRect ellipsisRect(const QRect &row) const = 0;
    virtual QRect editorRect(const QRect &row, const QModelIndex &index) const = 0;

    // Called with the row's id and the editor's text when Return is pressed in a rename editor.
    void setCommit(std::function<void(const QString &id, const QString &text)> commit) { m_commit = std::move(commit); }
    // The text a new rename editor starts with.
    void setEditorText(std::function<QString(const QString &id)> text) { m_editorText = std::move(text); }

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *, const QModelIndex &) const override {} // the editor keeps what was typed
    void setModelData(QWidget *, QAbstractItemModel *, const QModelIndex &) const override {}
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

protected:
    // The editor widget; its line edit is found with findChild<QLineEdit *>().
    virtual QWidget *makeEditor(QWidget *parent) const = 0;

private:
    std::function<void(const QString &, const QString &)> m_commit;
    std::function<QString(const QString &)> m_editorText;
};

class RecordListView final : public PaintedListView
{
    Q_OBJECT
public:
    using MenuProvider = std::function<QList<SnowMenuItem>(const QString &id)>;

    RecordListView(RecordListModel *model, RecordRowDelegate *delegate, QWidget *parent = nullptr);

    RecordListModel *recordModel() const { return m_model; }
    RecordRowDelegate *rowDelegate() const { return m_delegate; }

    void setMenu(int width, MenuProvider provider);
    // For rows with no click action of their own: Return and Space open the row's menu, the one thing it
    // offers (else they act as a click on the row).
    void setKeysOpenMenu(bool open) { m_keysOpenMenu = open; }
    SnowMenuOpener *menu() const { return m_menu; }
    // Opens the row's "…" menu as a click on it would; false for an unknown id.
    bool openMenu(const QString &id);
    QList<SnowMenuItem> menuItems(const QString &id) const;

    // The row's rectangle in viewport coordinates; empty for an unknown id.
    QRect rowRect(const QString &id) const;
    QString hoveredID() const;

    // Fills the model, marking the row being renamed.
    void setItems(QList<RecordListModel::Item> items);

    // Shows the rename editor on one row (none for an empty id); only one row at a time.
    void setRenaming(const QString &id);
    QString renaming() const { return m_renaming; }
    // Gives the row its rename height, then opens its editor on `text`; what was typed into another
    // row's editor is dropped.
    void startRenaming(const QString &id, const QString &text);
    // Closes the editor and lays the rows out at their usual height.
    void stopRenaming();
    // The rename editor's line edit, or null.
    class QLineEdit *renameEdit() const;

    // Room around the rows inside the list's frame.
    void setPadding(int left, int top, int right, int bottom) { setViewportMargins(left, top, right, bottom); }

    // Rows change height with their content (renaming): lay the list out again.
    void rowsResized();

    QSize sizeHint() const override;

signals:
    // A left click on a row outside its "…" button.
    void rowClicked(const QString &id);

protected:
    void rowTapped(const QModelIndex &index, const QPoint &viewportPos) override;

private:
    void markRenaming(const QString &id);

    RecordListModel *m_model;
    RecordRowDelegate *m_delegate;
    SnowMenuOpener *m_menu;
    MenuProvider m_provider;
    QString m_menuID;
    QString m_renaming;
    QString m_renameText;
    bool m_keysOpenMenu = false;
};
