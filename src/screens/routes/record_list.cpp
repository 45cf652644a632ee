// Record rows kept in place across reloads, their menus and rename editors.
#include "screens/routes/record_list.h"

#include "design/keyboard_reach.h"
#include "design/shell_widgets.h"
#include "design/snow_menu_popup.h"
#include "screens/routes/row_hover_fade.h"

#include <QLineEdit>

int RecordListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant RecordListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Item &item = m_items[index.row()];
    if (role == IdRole)
        return item.id;
    return item.values.value(role);
}

int RecordListModel::rowOf(const QString &id) const
{
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (m_items[i].id == id)
            return int(i);
    }
    return -1;
}

void RecordListModel::setItems(const QList<Item> &items)
{
    const qsizetype oldN = m_items.size();
    const qsizetype newN = items.size();
    qsizetype prefix = 0;
    while (prefix < oldN && prefix < newN && m_items[prefix].id == items[prefix].id)
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < oldN - prefix && suffix < newN - prefix
           && m_items[oldN - 1 - suffix].id == items[newN - 1 - suffix].id)
        ++suffix;

    QList<int> changed;
    for (qsizetype i = 0; i < prefix; ++i) {
        if (m_items[i].values != items[i].values)
            changed.append(int(i));
    }
    for (qsizetype k = 0; k < suffix; ++k) {
        if (m_items[oldN - 1 - k].values != items[newN - 1 - k].values)
            changed.append(int(newN - 1 - k));
    }
    const qsizetype removed = oldN - prefix - suffix;
    const qsizetype inserted = newN - prefix - suffix;
    if (removed > 0) {
        beginRemoveRows({}, int(prefix), int(prefix + removed - 1));
        m_items.remove(prefix, removed);
        endRemoveRows();
    }
    if (inserted > 0) {
        beginInsertRows({}, int(prefix), int(prefix + inserted - 1));
        for (qsizetype i = 0; i < inserted; ++i)
            m_items.insert(prefix + i, items[prefix + i]);
        endInsertRows();
    }
    m_items = items;
    for (int row : changed)
        emit dataChanged(index(row), index(row));
}

QWidget *RecordRowDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const
{
    QWidget *editor = makeEditor(parent);
    const QString id = index.data(RecordListModel::IdRole).toString();
    auto *edit = editor->findChild<QLineEdit *>();
    if (!edit)
        edit = qobject_cast<QLineEdit *>(editor);
    if (edit) {
        if (m_editorText)
            edit->setText(m_editorText(id));
        connect(edit, &QLineEdit::returnPressed, editor, [this, id, edit] {
            if (m_commit)
                m_commit(id, edit->text());
        });
    }
    return editor;
}

void RecordRowDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                             const QModelIndex &index) const
{
    editor->setGeometry(editorRect(rowRect(option.rect), index));
}

RecordListView::RecordListView(RecordListModel *model, RecordRowDelegate *delegate, QWidget *parent)
    : PaintedListView(parent)
    , m_model(model)
    , m_delegate(delegate)
    , m_menu(new SnowMenuOpener(viewport()))
{
    delegate->setParent(this);
    delegate->setEditorText([this](const QString &) { return m_renameText; });
    setItemDelegate(delegate);
    setModel(model);
    useThinScrollBars(this);
    m_menu->setItemsProvider([this] { return menuItems(m_menuID); });
    // Rows that come or go (a reload) may hold the editor's row: place it again.
    connect(model, &QAbstractItemModel::rowsInserted, this, &RecordListView::rowsResized);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &RecordListView::rowsResized);
    // Tab reaches the rows, the arrows walk them, and the Menu key opens the row's "…" menu; a click
    // leaves the focus where it was, as it does on the sheets' buttons.
    const auto idOf = [](const QModelIndex &index) { return index.data(RecordListModel::IdRole).toString(); };
    KeyboardRows::install(this,
                          {[this, idOf](const QModelIndex &index) {
                               if (m_keysOpenMenu)
                                   openMenu(idOf(index));
                               else
                                   emit rowClicked(idOf(index));
                           },
                           {}, [this, idOf](const QModelIndex &index) { openMenu(idOf(index)); }},
                          KeyboardRows::Click::keepsFocus);
    // A list with no rows is no Tab stop: there is no row to show the ring on.
    const auto reachable = [this] { KeyboardReach::setReachable(this, m_model->rowCount() > 0); };
    connect(model, &QAbstractItemModel::rowsInserted, this, reachable);
    connect(model, &QAbstractItemModel::rowsRemoved, this, reachable);
    connect(model, &QAbstractItemModel::modelReset, this, reachable);
    reachable();
}

void RecordListView::setMenu(int width, MenuProvider provider)
{
    m_menu->setWidth(width);
    m_provider = std::move(provider);
}

QList<SnowMenuItem> RecordListView::menuItems(const QString &id) const
{
    return m_provider && m_model->rowOf(id) >= 0 ? m_provider(id) : QList<SnowMenuItem>();
}

bool RecordListView::openMenu(const QString &id)
{
    const QRect row = rowRect(id);
    if (row.isEmpty())
        return false;
    m_menuID = id;
    m_menu->open(m_delegate->ellipsisRect(row));
    return true;
}

QRect RecordListView::rowRect(const QString &id) const
{
    const int row = m_model->rowOf(id);
    return row < 0 ? QRect() : RecordRowDelegate::rowRect(visualRect(m_model->index(row)));
}

QString RecordListView::hoveredID() const
{
    const RowHoverFade *fade = RowHoverFade::of(this);
    return fade ? fade->hovered().data(RecordListModel::IdRole).toString() : QString();
}

qreal RecordRowDelegate::hoverProgress(const QStyleOptionViewItem &option, const QModelIndex &index)
{
    const RowHoverFade *fade = RowHoverFade::of(option.widget);
    return fade ? fade->progress(index) : 0;
}

void RecordRowDelegate::paintKeyboardRing(QPainter &painter, const QStyleOptionViewItem &option,
                                          const QModelIndex &index, qreal radius)
{
    if (KeyboardRows::ringsRow(option.widget, index))
        KeyboardReach::paintRing(painter, option.widget, QRectF(rowRect(option.rect)), radius);
}

void RecordListView::setRenaming(const QString &id)
{
    if (!m_renaming.isEmpty()) {
        const int before = m_model->rowOf(m_renaming);
        if (before >= 0)
            closePersistentEditor(m_model->index(before));
    }
    m_renaming = id;
    const int row = id.isEmpty() ? -1 : m_model->rowOf(id);
    if (row >= 0)
        openPersistentEditor(m_model->index(row));
    // The view selects an editor's text as it opens it; nothing here takes the focus, so nothing
    // should look selected either.
    if (QLineEdit *edit = renameEdit())
        edit->deselect();
    rowsResized();
}

void RecordListView::setItems(QList<RecordListModel::Item> items)
{
    for (RecordListModel::Item &item : items)
        item.values[RecordListModel::RenamingRole] = !m_renaming.isEmpty() && item.id == m_renaming;
    m_model->setItems(items);
}

void RecordListView::markRenaming(const QString &id)
{
    QList<RecordListModel::Item> items = m_model->items();
    for (RecordListModel::Item &item : items)
        item.values[RecordListModel::RenamingRole] = item.id == id;
    m_model->setItems(items);
}

void RecordListView::startRenaming(const QString &id, const QString &text)
{
    m_renameText = text;
    setRenaming(QString());
    markRenaming(id);
    setRenaming(id);
    // Keys must reach the name, not whatever field had the focus before (a variable's value, say).
    if (QLineEdit *edit = renameEdit()) {
        edit->setFocus(Qt::OtherFocusReason);
        edit->selectAll();
    }
}

void RecordListView::stopRenaming()
{
    setRenaming(QString());
    markRenaming(QString());
    rowsResized();
}

QLineEdit *RecordListView::renameEdit() const
{
    const int row = m_renaming.isEmpty() ? -1 : m_model->rowOf(m_renaming);
    if (row < 0)
        return nullptr;
    QWidget *editor = indexWidget(m_model->index(row));
    if (!editor)
        return nullptr;
    if (auto *edit = qobject_cast<QLineEdit *>(editor))
        return edit;
    return editor->findChild<QLineEdit *>();
}

void RecordListView::rowsResized()
{
    scheduleDelayedItemsLayout();
    executeDelayedItemsLayout();
    updateGeometries();
    updateGeometry();
    viewport()->update();
}

QSize RecordListView::sizeHint() const
{
    return {QListView::sizeHint().width(), 200};
}

void RecordListView::rowTapped(const QModelIndex &index, const QPoint &pos)
{
    const QString id = index.data(RecordListModel::IdRole).toString();
    const QRect row = RecordRowDelegate::rowRect(visualRect(index));
    if (!row.contains(pos))
        return;
    if (m_delegate->ellipsisRect(row).contains(pos)) {
        openMenu(id);
        return;
    }
    emit rowClicked(id);
}
