// What the route item models (the sidebar's tree, the routes table) share: following the engine's
// single-route edits and moving the selected row.
#pragma once

#include <QString>
#include <QStringList>

class EngineClient;

namespace RouteModels {

// The list position of the one route the engine's latest change edited, when a model whose rows show
// route revision `revision` for `listed` routes can follow that change row by row; -1 when it must
// reread every route. `revision` moves to the engine's either way.
int followableEdit(const EngineClient &engine, quint64 &revision, qsizetype listed);

// Makes `id` (empty for none) the selected route; the ids whose rows must repaint: the one selected
// before and the new one, leaving out empty ones, none when the selection stays.
QStringList moveSelection(QString &selectedID, const QString &id);

} // namespace RouteModels
