// Edit following and selection moves shared by the route item models.
#include "app/route_model_support.h"

#include "engine/engine_client.h"

#include <utility>

namespace RouteModels {

int followableEdit(const EngineClient &engine, quint64 &revision, qsizetype listed)
{
    const quint64 seen = std::exchange(revision, engine.endpointsRevision());
    const int position = engine.editedEndpoint();
    if (revision != seen + 1 || position < 0 || position >= listed || engine.endpoints().size() != listed)
        return -1;
    return position;
}

QStringList moveSelection(QString &selectedID, const QString &id)
{
    if (id == selectedID)
        return {};
    const QString before = std::exchange(selectedID, id);
    QStringList changed;
    for (const QString &changedID : {before, id}) {
        if (!changedID.isEmpty())
            changed.append(changedID);
    }
    return changed;
}

} // namespace RouteModels
