// Project switches and deletes that clear the route selection first.
#include "app/project_actions.h"

#include "app/app_state.h"
#include "engine/engine_client.h"

namespace ProjectActions {

void activate(AppState *state, EngineClient *engine, const QString &projectID)
{
    state->setSelectedEndpointID(std::nullopt);
    engine->activateProject(projectID);
}

void remove(AppState *state, EngineClient *engine, const QString &projectID)
{
    if (projectID == engine->activeProjectID())
        state->setSelectedEndpointID(std::nullopt);
    engine->deleteProject(projectID);
}

} // namespace ProjectActions
