// The app-wide objects handed to every screen and sheet (the view environment).
#pragma once

class AppState;
class Analytics;
class EngineClient;
class SimulatorManager;

struct AppContext
{
    AppState *state = nullptr;
    EngineClient *engine = nullptr;
    SimulatorManager *simulators = nullptr;
    Analytics *analytics = nullptr;
};
