// The factories through which screens, sheets and the inspector plug into the main window.
#pragma once

#include "app/app_context.h"
#include "app/app_state.h"
#include "app/nav_item.h"


#include <functional>
#include <map>

struct Endpoint;
class QWidget;

// A screen without a factory shows an empty page titled with its name; a sheet without one opens nothing.
class ShellRegistry final
{
public:
    using ScreenFactory = std::function<QWidget *(const AppContext &context, QWidget *parent)>;
    using InspectorFactory = std::function<QWidget *(const AppContext &context, const Endpoint &route, QWidget *parent)>;
    using OnboardingFactory
        = std::function<QWidget *(const AppContext &context, std::function<void()> onFinish, QWidget *parent)>;

    // The registry the application's windows use; filled once at start-up.
    static ShellRegistry &shared();

    void setScreen(NavItem item, ScreenFactory factory) { m_screens[item] = std::move(factory); }
    void setSheet(SheetFlag flag, ScreenFactory factory) { m_sheets[flag] = std::move(factory); }
    void setInspector(InspectorFactory factory) { m_inspector = std::move(factory); }
    void setOnboarding(OnboardingFactory factory) { m_onboarding = std::move(factory); }

    // Shorthands for widgets constructed as T(const AppContext &, QWidget *parent).
    template <typename T>
    void addScreen(NavItem item)
    {
        setScreen(item, [](const AppContext &c, QWidget *p) -> QWidget * { return new T(c, p); });
    }
    template <typename T>
    void addSheet(SheetFlag flag)
    {
        setSheet(flag, [](const AppContext &c, QWidget *p) -> QWidget * { return new T(c, p); });
    }

    const ScreenFactory *screen(NavItem item) const;
    const ScreenFactory *sheet(SheetFlag flag) const;
    const InspectorFactory *inspector() const { return m_inspector ? &m_inspector : nullptr; }
    const OnboardingFactory *onboarding() const { return m_onboarding ? &m_onboarding : nullptr; }

private:
    std::map<NavItem, ScreenFactory> m_screens;
    std::map<SheetFlag, ScreenFactory> m_sheets;
    InspectorFactory m_inspector;
    OnboardingFactory m_onboarding;
};
