// The sheet that creates one mock route from a method, a status, a host and a path.
#pragma once

#include "app/app_context.h"
#include "engine/records/route_records.h"
#include "screens/routes/sheet_parts.h"

class KSButton;
class PrimaryButton;
class SnowField;
class SnowSelect;
class SnowTextField;
class StatusCodeField;

class NewRouteSheet final : public SheetSurface
{
    Q_OBJECT
public:
    static constexpr int Width = 420;
    static constexpr int Height = 360; // the least height; taller when the fields need it

    explicit NewRouteSheet(const AppContext &context, QWidget *parent = nullptr);

    HTTPMethod method() const { return m_method; }
    void setMethod(HTTPMethod method);
    bool canCreate() const;
    std::optional<Endpoint> conflictingRoute() const;

    // Commits a status still being typed, then builds, appends and opens the route; nothing while
    // host or path normalise to nothing.
    void create();

    SnowSelect *methodSelect() const { return m_methodSelect; }
    StatusCodeField *statusField() const { return m_status; }
    SnowTextField *hostField() const { return m_host; }
    SnowTextField *pathField() const { return m_path; }
    SnowField *hostRow() const { return m_hostRow; }
    SnowField *pathRow() const { return m_pathRow; }
    PrimaryButton *createButton() const { return m_create; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void refresh();

    AppContext m_context;
    HTTPMethod m_method = HTTPMethod::GET;
    SnowSelect *m_methodSelect = nullptr;
    StatusCodeField *m_status = nullptr;
    SnowTextField *m_host = nullptr;
    SnowTextField *m_path = nullptr;
    SnowField *m_hostRow = nullptr;
    SnowField *m_pathRow = nullptr;
    PrimaryButton *m_create = nullptr;
};
