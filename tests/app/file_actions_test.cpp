// The file panels: what each asks, and that cancelling hands nothing to the engine.
#include "app/file_actions.h"
#include "engine/engine_client.h"

#include "app/qt_printers.h"

#include <gtest/gtest.h>

namespace {

struct PanelSpy
{
    QList<FilePanelRequest> requests;
    QString answer;

    PanelSpy()
    {
        FilePanels::setOpenHook([this](const FilePanelRequest &r) {
            requests.append(r);
            return answer;
        });
        FilePanels::setSaveHook([this](const FilePanelRequest &r) {
            requests.append(r);
            return answer;
        });
    }
    ~PanelSpy()
    {
        FilePanels::setOpenHook({});
        FilePanels::setSaveHook({});
    }
};

} // namespace

TEST(FileActionPanels, EachPanelAsksItsOwnQuestion)
{
    PanelSpy spy;
    EngineClient engine;
    FileActions::importFile(&engine);
    FileActions::openProfile(&engine);
    FileActions::importOpenAPI(&engine);
    FileActions::exportProfile(&engine);
    ASSERT_EQ(spy.requests.size(), 4);
    EXPECT_EQ(spy.requests[0].message, "Choose a HAR, Charles, Postman, or JSON file");
    EXPECT_EQ(spy.requests[1].message, "Choose a .kestrion profile");
    EXPECT_EQ(spy.requests[2].message, "Choose an OpenAPI / Swagger spec (JSON or YAML)");
    EXPECT_TRUE(spy.requests[2].nameFilters.join(' ').contains("*.yml"));
    EXPECT_TRUE(spy.requests[2].nameFilters.join(' ').contains("*.yaml"));
    EXPECT_EQ(spy.requests[3].message, "Export this sandbox as a .kestrion profile");
    EXPECT_EQ(spy.requests[3].suggestedName, "session.kestrion");
    EXPECT_TRUE(spy.requests[3].nameFilters.isEmpty());
}

TEST(FileActionPanels, CancellingChangesAndLogsNothing)
{
    PanelSpy spy;
    EngineClient engine;
    const QStringList logBefore = engine.log();
    FileActions::importFile(&engine);
    FileActions::importOpenAPI(&engine);
    FileActions::openProfile(&engine);
    FileActions::exportProfile(&engine);
    EXPECT_EQ(engine.log(), logBefore);
    EXPECT_FALSE(engine.importSummary().has_value());
    EXPECT_TRUE(engine.endpoints().isEmpty());
}
