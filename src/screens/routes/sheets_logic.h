// Pure decisions of the projects, group and environments sheets.
#pragma once

#include "engine/records/environment_records.h"

#include <QList>
#include <QString>

#include <optional>

namespace SheetsLogic {

// "1 route", "0 routes", "2 routes".
QString routeCountText(int count);

// A typed project or group name without the white space and line ends around it.
QString trimmedName(const QString &typed);

// The environment the variables pane shows: the chosen one while it exists, else the first one
// (also when the chosen id vanished in a reload), else none.
std::optional<QString> selectedEnvironmentID(const QList<MockEnvironment> &environments,
                                             const std::optional<QString> &selected);

// The choice after deleting `deleted`: the first environment left when the deleted one was chosen,
// else the choice as it was.
std::optional<QString> selectionAfterDelete(const QList<MockEnvironment> &remaining,
                                            const std::optional<QString> &selected, const QString &deleted);

// The message a failed project creation shows in its sheet.
QString createProjectFailedText();

} // namespace SheetsLogic
