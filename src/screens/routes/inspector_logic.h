// The route inspector's pure decisions: clamps, the saved form of a draft, conflicts, colours and texts.
#pragma once

#include "engine/records/route_records.h"

#include <QColor>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

struct Palette;

namespace InspectorLogic {

// A route's status as it is saved: raised to 100, then lowered to 599.
int clampStatus(int status);
// A step's latency and repeat count as they are saved: at least 0, at least 1.
std::int64_t clampStepLatency(std::int64_t latency);
std::int64_t clampRepeatCount(std::int64_t repeatCount);
// A step as it is saved: status 100...599, latency at least 0, repeat count at least 1.
MockStep savedStep(const MockStep &step);
std::vector<MockStep> savedSequence(const std::vector<MockStep> &steps);

// The step "Add step" appends: the first copies the saved status (200 for 0) and the body being edited,
// later ones are a plain 200 with an empty body.
MockStep newStep(bool first, int savedStatus, const std::string &bodyText);

// The first other active route with the same method and exactly the given normalised host and path.
std::optional<Endpoint> conflictingRoute(const QList<Endpoint> &routes, const std::string &editedID,
                                         HTTPMethod method, const std::string &host, const std::string &path);

// Red and amber inks of the editors, by palette.
QColor redInk(const Palette &palette);
QColor amberInk(const Palette &palette);

// The latency slider's colour and the value's ink: over 2000 red, over 800 amber.
QColor sliderTint(double latency, const Palette &palette);
QColor latencyInk(double latency, const Palette &palette);
// The latency truncated toward zero followed by "ms".
QString latencyText(double latency);

// The sequence count: the number followed by " steps", one step included.
QString stepCountText(qsizetype count);
// The "Active" note's colour.
QColor activeNoteColor(const Palette &palette);

// The result line of prompt generation, and its colour.
QString tierText(const QString &tier);
QColor tierColor(const QString &tier, const Palette &palette);
QString generateTooltip(bool bodyEmpty);

// "http://" + the saved host + the saved path.
QString copyURL(const Endpoint &route);
// The header title's tooltip: host immediately followed by path.
QString titleTooltip(const Endpoint &route);

} // namespace InspectorLogic
