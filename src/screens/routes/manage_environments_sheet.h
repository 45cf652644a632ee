// The environments sheet: the environment list on the left, the chosen environment's variables on the right.
#pragma once

#include "app/app_context.h"
#include "design/snow_menu_item.h"
#include "screens/routes/sheet_parts.h"

#include <QWidget>

#include <optional>

class GhostIconButton;
class KSButton;
class QStackedWidget;
class QVBoxLayout;
class RecordListModel;
class RecordListView;
class SnowTag;
class SnowText;
class SnowTextField;

// One variable's row: key and value fields and the remove button. Rows are kept by position and
// re-pointed at the variable they show, so a reload (which gives every variable a new id) never
// rebuilds a field that has the keyboard focus.
class EnvVarRow final : public QWidget
{
    Q_OBJECT
public:
    EnvVarRow(const AppContext &context, QWidget *parent = nullptr);

    void bind(const QString &environmentID, const QString &varID, const QString &key, const QString &value);
    QString varID() const { return m_varID; }
    SnowTextField *keyField() const { return m_key; }
    SnowTextField *valueField() const { return m_value; }
    GhostIconButton *removeButton() const { return m_remove; }

private:
    AppContext m_context;
    QString m_environmentID;
    QString m_varID;
    SnowTextField *m_key;
    SnowTextField *m_value;
    GhostIconButton *m_remove;
};

class ManageEnvironmentsSheet final : public SheetSurface
{
    Q_OBJECT
public:
    static constexpr int Width = 580;
    static constexpr int Height = 440;
    static constexpr int ListWidth = 190;

    explicit ManageEnvironmentsSheet(const AppContext &context, QWidget *parent = nullptr);

    // The environment shown on the right: the chosen one, else the first (also after the chosen one vanished).
    std::optional<QString> selectedID() const;
    void select(const QString &environmentID);
    QList<SnowMenuItem> envMenuItems(const QString &environmentID) const;

    void addEnvironment();
    void activate(const QString &environmentID);
    void startRename(const QString &environmentID);
    void commitRename(const QString &environmentID, const QString &text);
    void addVariable();

    RecordListView *list() const { return m_list; }
    QList<EnvVarRow *> varRows() const { return m_rows; }
    // True while the right pane shows "No environments yet".
    bool showsEmptyState() const;
    SnowText *paneTitle() const { return m_paneTitle; }
    SnowTag *activeTag() const { return m_activeTag; }
    KSButton *setActiveButton() const { return m_setActive; }

private:
    QWidget *buildList();
    QWidget *buildPane();
    void refresh();

    AppContext m_context;
    std::optional<QString> m_selected;
    RecordListModel *m_model = nullptr;
    RecordListView *m_list = nullptr;
    QStackedWidget *m_pane = nullptr;
    QWidget *m_emptyPage = nullptr;
    QWidget *m_editorPage = nullptr;
    SnowText *m_paneTitle = nullptr;
    SnowTag *m_activeTag = nullptr;
    KSButton *m_setActive = nullptr;
    QVBoxLayout *m_rowsLayout = nullptr;
    QList<EnvVarRow *> m_rows;
};
