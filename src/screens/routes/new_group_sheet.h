// The sheet that names a route group: puts one route into a new group, or renames a group.
#pragma once

#include "app/app_context.h"
#include "screens/routes/sheet_parts.h"

class SnowText;
class SnowTextField;

// The mode comes from AppState: groupRenameFrom present means rename (it wins), else
// groupAssignTarget names the route to move. Closing through the sheet clears both targets.
class NewGroupSheet final : public SheetSurface
{
    Q_OBJECT
public:
    static constexpr int Width = 380;

    explicit NewGroupSheet(const AppContext &context, QWidget *parent = nullptr);

    SnowText *titleText() const { return m_title; }
    SnowTextField *nameField() const { return m_name; }

    // Trims the name; a non-empty one renames the group or moves the route; then finish().
    void commit();
    // Clears both targets and closes the sheet.
    void finish();

private:
    AppContext m_context;
    SnowText *m_title = nullptr;
    SnowTextField *m_name = nullptr;
};
