// Project switches and deletes as every view starts them: the selection is cleared first.
#pragma once

#include <QString>

class AppState;
class EngineClient;

// Projects may share route ids (a duplicate keeps them), so a route left selected across a switch
// would let the inspector write project A's edits into project B. Every switch and every delete of
// the active project goes through here, which drops the selection before the engine link starts.
namespace ProjectActions {

// The sidebar's switcher, "Switch to" and create-and-switch. Activating the active project only
// clears the selection.
void activate(AppState *state, EngineClient *engine, const QString &projectID);

// "Delete": clears the selection when the project is the active one, then deletes.
void remove(AppState *state, EngineClient *engine, const QString &projectID);

} // namespace ProjectActions
