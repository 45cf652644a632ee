// The projects sheets: "New project" (create and switch) and "Projects" (switch, rename, duplicate, delete).
#pragma once

#include "app/app_context.h"
#include "design/snow_menu_item.h"
#include "screens/routes/sheet_parts.h"

class PrimaryButton;
class RecordListModel;
class RecordListView;
class SnowText;
class SnowTextField;

class NewProjectSheet final : public SheetSurface
{
    Q_OBJECT
public:
    static constexpr int Width = 380;

    explicit NewProjectSheet(const AppContext &context, QWidget *parent = nullptr);

    // Trims the name; nothing for a blank one. While the request runs the button shows its loading
    // state and further presses (and Return) do nothing. Success switches to the new project and
    // closes the sheet; a failure keeps the sheet open with the name and says so.
    void create();
    bool isCreating() const { return m_creating; }

    SnowTextField *nameField() const { return m_name; }
    PrimaryButton *createButton() const { return m_create; }
    // The failure line (hidden unless the last attempt failed).
    SnowText *errorText() const { return m_error; }

private:
    AppContext m_context;
    SnowTextField *m_name = nullptr;
    PrimaryButton *m_create = nullptr;
    SnowText *m_error = nullptr;
    bool m_creating = false;
};

class ManageProjectsSheet final : public SheetSurface
{
    Q_OBJECT
public:
    static constexpr int Width = 460;
    static constexpr int Height = 420;

    explicit ManageProjectsSheet(const AppContext &context, QWidget *parent = nullptr);

    // The row menu of one project, as the "…" button opens it.
    QList<SnowMenuItem> rowMenuItems(const QString &projectID) const;
    RecordListView *list() const { return m_list; }
    // The project in rename mode ("" for none) and its field's text.
    QString renaming() const;
    void startRename(const QString &projectID);
    // Sends the text exactly as typed and leaves rename mode at once.
    void commitRename(const QString &projectID, const QString &text);

private:
    void refresh();

    AppContext m_context;
    RecordListModel *m_model = nullptr;
    RecordListView *m_list = nullptr;
};
