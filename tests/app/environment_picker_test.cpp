// The environment picker's label and menu.
#include "app/app_state.h"
#include "app/environment_picker.h"
#include "design/snow_select.h"
#include "engine/engine_client.h"

#include "app/qt_printers.h"

#include <gtest/gtest.h>

namespace {

struct MenuLine
{
    QString title;
    bool checked;
    bool divider;
    bool operator==(const MenuLine &) const = default;
};

QList<MenuLine> lines(const QList<SnowMenuItem> &items)
{
    QList<MenuLine> out;
    for (const auto &item : items)
        out.append({item.title, item.checked, item.isDivider});
    return out;
}

class Picker : public ::testing::Test
{
protected:
    AppState state;
    EngineClient engine;
    EnvironmentPicker picker{AppContext{&state, &engine, nullptr, nullptr}};
};

} // namespace

TEST_F(Picker, NoEnvironmentsGivesThreeEntries)
{
    EXPECT_EQ(picker.select()->value(), "No environment");
    EXPECT_FALSE(picker.select()->isPlaceholder());
    EXPECT_EQ(picker.select()->boxWidth(), std::optional<int>(168));
    EXPECT_EQ(lines(picker.envItems()), (QList<MenuLine>{{"No environment", true, false},
                                                         {"", false, true},
                                                         {"Manage environments…", false, false}}));
    picker.envItems().last().action();
    EXPECT_TRUE(state.showManageEnvironments());
}

TEST_F(Picker, EnvironmentsListedInOrderWithTheActiveOneChecked)
{
    engine.setEnvironments({MockEnvironment{"env-1", "Staging", {}}, MockEnvironment{"env-2", "Staging", {}}});
    engine.setActiveEnvID("env-2");
    EXPECT_EQ(picker.select()->value(), "Staging");
    EXPECT_EQ(lines(picker.envItems()), (QList<MenuLine>{{"No environment", false, false},
                                                         {"", false, true},
                                                         {"Staging", false, false},
                                                         {"Staging", true, false},
                                                         {"", false, true},
                                                         {"Manage environments…", false, false}}));
    picker.envItems()[2].action();
    EXPECT_EQ(engine.activeEnvID(), "env-1");
    picker.envItems()[0].action();
    EXPECT_EQ(engine.activeEnvID(), "");
    EXPECT_EQ(picker.select()->value(), "No environment");
}

TEST_F(Picker, UnknownActiveIdChecksNothing)
{
    engine.setEnvironments({MockEnvironment{"env-1", "Dev", {}}});
    engine.setActiveEnvID("env-9");
    EXPECT_EQ(picker.select()->value(), "No environment");
    for (const auto &item : picker.envItems())
        EXPECT_FALSE(item.checked) << item.title.toStdString();
}
