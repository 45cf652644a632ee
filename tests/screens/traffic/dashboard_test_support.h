// Builders the dashboard tests share: routes, traffic, presets, drift records, and a screen on a
// fresh engine link (not booted) with temporary preferences.
#pragma once

#include "app/app_state.h"
#include "app/qt_printers.h"
#include "design/fonts.h"
#include "design/palette.h"
#include "engine/engine_client.h"
#include "platform/preferences.h"
#include "screens/traffic/dashboard_screen.h"
#include "support/temp_preferences.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace dashtest {

inline Endpoint route(const std::string &id, bool active = true, ErrorOverride override = ErrorOverride::ok)
{
    Endpoint e;
    e.id = id;
    e.host = "api.acme.dev";
    e.path = "/v1/" + id;
    e.active = active;
    e.override = override;
    return e;
}

inline TrafficEntry entry(int index, int status = 200, bool injected = true, int latency = 0)
{
    TrafficEntry e;
    e.id = "t" + std::to_string(index);
    e.timestamp = "10:00:" + std::string(index % 60 < 10 ? "0" : "") + std::to_string(index % 60);
    e.method = index % 3 == 0 ? HTTPMethod::POST : HTTPMethod::GET;
    e.host = "api.acme.dev";
    e.path = "/v1/items/" + std::to_string(index);
    e.status = status;
    e.latency = latency;
    e.injected = injected;
    e.fresh = false;
    return e;
}

inline QList<TrafficEntry> traffic(int count, int injectedEvery = 1)
{
    QList<TrafficEntry> list;
    for (int i = 0; i < count; ++i)
        list.append(entry(i, i % 7 == 3 ? 503 : 200, injectedEvery > 0 && i % injectedEvery == 0, 40 + i % 5));
    return list;
}

inline ChaosPreset preset(const std::string &id, const std::string &name, std::vector<ChaosFault> faults = {})
{
    return ChaosPreset{id, name, std::move(faults)};
}

inline QList<ChaosPreset> standardPresets()
{
    return {preset("flaky-network", "Flaky network", {{"latency", 1.0, {}, {}, 200, 1200}, {"drop", 0.1, {}, {}, {}, {}}}),
            preset("broken-backend", "Broken backend", {{"status", 0.5, 500, {}, {}, {}}}),
            preset("rate-limited", "Rate limited", {{"status", 0.3, 429, {}, {}, {}}}),
            preset("slow-3g", "Slow 3G", {{"latency", 1.0, {}, {}, 400, 2000}})};
}

inline SchemaDriftRecord drift(const std::string &trafficId, int breaking, int warnings = 0)
{
    SchemaDriftRecord record;
    record.key = "GET api.acme.dev/v1/users";
    record.trafficId = trafficId;
    record.time = "10:00:00";
    for (int i = 0; i < breaking; ++i)
        record.changes.push_back(SchemaChange{"$.id" + std::to_string(i), "type_changed", "breaking", {}, {}});
    for (int i = 0; i < warnings; ++i)
        record.changes.push_back(SchemaChange{"$.note" + std::to_string(i), "field_added", "warning", {}, {}});
    return record;
}

class DashboardTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        Fonts::registerApplicationFonts();
    }

    DashboardScreen &screen()
    {
        if (!m_screen) {
            m_screen = std::make_unique<DashboardScreen>(AppContext{&state, &engine, nullptr, nullptr});
            m_screen->resize(1000, 1100);
        }
        return *m_screen;
    }

    testsupport::TemporaryPreferencesDir m_dir;
    AppState state;
    EngineClient engine;
    std::unique_ptr<DashboardScreen> m_screen;
};

} // namespace dashtest
