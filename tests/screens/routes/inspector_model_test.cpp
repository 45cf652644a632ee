// The inspector's editing model without widgets or engine process, and its pure decisions.
#include "engine/engine_client.h"
#include "screens/routes/inspector_logic.h"
#include "screens/routes/inspector_model.h"

#include "design/palette.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

Endpoint route(const std::string &id, const std::string &path = "/p")
{
    Endpoint e;
    e.id = id;
    e.host = "api.test";
    e.path = path;
    e.body = "{}";
    return e;
}

const Endpoint &saved(const EngineClient &engine, int index = 0)
{
    return engine.endpoints()[index];
}

} // namespace

TEST(InspectorModel, OutsideChangesReseedOnlyTheFieldsTheyTouch)
{
    EngineClient engine;
    engine.setEndpoints({route("r-1")});
    InspectorModel model(&engine, saved(engine));
    QSignalSpy fields(&model, &InspectorModel::fieldChanged);
    // The host is cleared (unsaved, marked invalid); then another view changes method and body.
    model.setHostText(QString());
    EXPECT_TRUE(model.hostInvalid());
    EXPECT_EQ(saved(engine).host, "api.test");
    Endpoint outside = saved(engine);
    outside.method = HTTPMethod::DELETE;
    outside.body = "[]";
    engine.updateEndpoint(outside);
    EXPECT_EQ(model.method(), HTTPMethod::DELETE);
    EXPECT_EQ(model.bodyText(), "[]");
    EXPECT_EQ(model.hostText(), "");
    EXPECT_EQ(model.endpoint().method, HTTPMethod::DELETE);
    // The next edit saves its own field only.
    model.setLatency(1234.9);
    EXPECT_EQ(saved(engine).latency, 1234);
    EXPECT_EQ(saved(engine).method, HTTPMethod::DELETE);
    EXPECT_EQ(saved(engine).body, "[]");
    EXPECT_EQ(saved(engine).host, "api.test");
}

TEST(InspectorModel, OwnSavesDoNotRefillWhatIsBeingTyped)
{
    EngineClient engine;
    engine.setEndpoints({route("r-1")});
    InspectorModel model(&engine, saved(engine));
    model.setPathText(QStringLiteral("v1/users/"));
    EXPECT_EQ(saved(engine).path, "/v1/users");
    EXPECT_EQ(model.pathText(), "v1/users/");
    model.setPathText(QStringLiteral("   "));
    EXPECT_TRUE(model.pathInvalid());
    EXPECT_EQ(saved(engine).path, "/v1/users");
    model.setStatus(42);
    EXPECT_EQ(saved(engine).status, 100);
    EXPECT_EQ(model.status(), 42);
    model.setHostText(QStringLiteral("http://API.Test/x"));
    EXPECT_EQ(saved(engine).host, "api.test");
}

TEST(InspectorModel, ReloadedStepsGetTheirNewIdsAndEditsFindStepsById)
{
    EngineClient engine;
    Endpoint first = route("r-1");
    first.sequence = {MockStep::make(500), MockStep::make(200)};
    engine.setEndpoints({first});
    InspectorModel model(&engine, saved(engine));
    const std::string second = model.sequence()[1].id;
    model.deleteStep(model.sequence()[0].id);
    model.setStepRepeat(second, 4);
    ASSERT_EQ(saved(engine).sequence.size(), 1u);
    EXPECT_EQ(saved(engine).sequence[0].repeatCount, 4);
    // An id that is gone changes nothing.
    model.setStepStatus("gone", 404);
    EXPECT_EQ(saved(engine).sequence[0].status, 200);

    // A reload gives every step a new id: the draft follows it.
    Endpoint reloaded = saved(engine);
    reloaded.sequence[0].id = "fresh";
    engine.setEndpoints({reloaded});
    EXPECT_EQ(model.sequence()[0].id, "fresh");
    EXPECT_EQ(model.stepIndex("fresh"), 0);
}

TEST(InspectorModel, NothingIsSavedForAnotherProjectOrAGoneRoute)
{
    EngineClient engine;
    engine.setActiveProjectID(QStringLiteral("p-1"));
    engine.setEndpoints({route("r-1"), route("r-2")});
    InspectorModel model(&engine, saved(engine));
    engine.setEndpoints({route("r-2")});
    EXPECT_FALSE(model.routeExists());
    EXPECT_FALSE(model.isCurrent());
    model.setPathText(QStringLiteral("/new"));
    EXPECT_EQ(saved(engine).path, "/p");

    engine.setEndpoints({route("r-1"), route("r-2")});
    EXPECT_TRUE(model.isCurrent());
    engine.setActiveProjectID(QStringLiteral("p-2"));
    model.setPathText(QStringLiteral("/newer"));
    EXPECT_EQ(saved(engine).path, "/p");
    // Variables are not appended while a generation is on its way.
    engine.setActiveProjectID(QStringLiteral("p-1"));
    model.setBodyText(QStringLiteral("{}"));
    model.generate(); // no control port: answered at once with nothing
    EXPECT_FALSE(model.generating());
    EXPECT_EQ(model.genSeed(), 2);
    model.insertVariable(QStringLiteral("k"));
    EXPECT_EQ(saved(engine).body, "{}{{k}}");
}

TEST(InspectorLogic, LatencyColoursChangeAfter800AndAfter2000)
{
    const Palette &dark = Palette::dark();
    const Palette &light = Palette::light();
    EXPECT_EQ(InspectorLogic::sliderTint(800, light), light.brand);
    EXPECT_EQ(InspectorLogic::latencyInk(800, light), light.foreground);
    EXPECT_EQ(InspectorLogic::sliderTint(801, light), Palette::yellow());
    EXPECT_EQ(InspectorLogic::latencyInk(801, light), QColor(154, 107, 31));
    EXPECT_EQ(InspectorLogic::latencyInk(2000, dark), Palette::yellow());
    EXPECT_EQ(InspectorLogic::sliderTint(2001, dark), Palette::red());
    EXPECT_EQ(InspectorLogic::latencyInk(2001, dark), QColor(255, 107, 107));
    EXPECT_EQ(InspectorLogic::latencyText(5999.9), "5999ms");
}

TEST(InspectorLogic, ConflictComparesStoredValuesExactly)
{
    Endpoint a = route("a", "/users/:id");
    Endpoint b = route("b", "/users/:id");
    Endpoint c = route("c", "/users/1");
    Endpoint off = route("off", "/users/:id");
    off.active = false;
    const QList<Endpoint> routes{off, a, c, b};
    EXPECT_EQ(InspectorLogic::conflictingRoute(routes, "a", HTTPMethod::GET, "api.test", "/users/:id")->id, "b");
    EXPECT_FALSE(InspectorLogic::conflictingRoute(routes, "a", HTTPMethod::POST, "api.test", "/users/:id"));
    EXPECT_FALSE(InspectorLogic::conflictingRoute(routes, "a", HTTPMethod::GET, "API.test", "/users/:id"));
    EXPECT_EQ(InspectorLogic::conflictingRoute(routes, "x", HTTPMethod::GET, "api.test", "/users/1")->id, "c");
}

TEST(InspectorLogic, StepsTextsAndSavedForms)
{
    EXPECT_EQ(InspectorLogic::stepCountText(1), "1 steps");
    EXPECT_EQ(InspectorLogic::tierText(QStringLiteral("ai")), "generated by local model");
    EXPECT_EQ(InspectorLogic::tierText(QStringLiteral("tier1")), "generated by Tier-1 (model offline)");
    EXPECT_EQ(InspectorLogic::tierText(QString()), "generated by Tier-1 (model offline)");
    EXPECT_EQ(InspectorLogic::tierColor(QStringLiteral("ai"), Palette::light()), QColor(31, 138, 80));
    MockStep typed = MockStep::make(0, "x");
    typed.latency = -3;
    typed.repeatCount = 0;
    const MockStep step = InspectorLogic::savedStep(typed);
    EXPECT_EQ(step.status, 100);
    EXPECT_EQ(step.latency, 0);
    EXPECT_EQ(step.repeatCount, 1);
    EXPECT_EQ(InspectorLogic::clampStatus(700), 599);
    Endpoint withPort = route("r");
    withPort.host = "localhost:8080";
    EXPECT_EQ(InspectorLogic::copyURL(withPort), "http://localhost:8080/p");
}
