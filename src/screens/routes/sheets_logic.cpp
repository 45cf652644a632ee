// Texts and choices of the projects, group and environments sheets.
#include "screens/routes/sheets_logic.h"

namespace SheetsLogic {

QString routeCountText(int count)
{
    return QString::number(count) + (count == 1 ? QStringLiteral(" route") : QStringLiteral(" routes"));
}

QString trimmedName(const QString &typed)
{
    return typed.trimmed();
}

std::optional<QString> selectedEnvironmentID(const QList<MockEnvironment> &environments,
                                             const std::optional<QString> &selected)
{
    if (selected) {
        const std::string id = selected->toStdString();
        for (const MockEnvironment &environment : environments) {
            if (environment.id == id)
                return selected;
        }
    }
    if (environments.isEmpty())
        return std::nullopt;
    return QString::fromStdString(environments.first().id);
}

std::optional<QString> selectionAfterDelete(const QList<MockEnvironment> &remaining,
                                            const std::optional<QString> &selected, const QString &deleted)
{
    if (selected != deleted)
        return selected;
    if (remaining.isEmpty())
        return std::nullopt;
    return QString::fromStdString(remaining.first().id);
}

QString createProjectFailedText()
{
    return QStringLiteral("Could not create the project. Is the engine running?");
}

} // namespace SheetsLogic
