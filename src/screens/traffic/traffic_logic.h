// The traffic screens' decisions: live filter, tints, badge names, wording, orderings of headers,
// baselines and fields, and the drift severities' colours.
#pragma once

#include "engine/records/schema_records.h"
#include "engine/records/traffic_records.h"

#include <QColor>
#include <QList>
#include <QPair>
#include <QString>

#include <map>
#include <string>
#include <vector>

struct Palette;

namespace trafficlogic {

// The number of samples that trains a baseline.
inline constexpr int TrainingSamples = 3;
inline constexpr int HistoryPageSize = 100;
inline constexpr int FilterDebounceMs = 250;
inline constexpr int SchemaReloadDelayMs = 250;

// Path, then host (case-insensitive), then the status digits (as typed), then the method name
// (case-insensitive); the text is used untrimmed and an empty one matches everything.
bool liveEntryMatches(const TrafficEntry &entry, const QString &filter);

// Latencies above 1000 ms take the warning colour.
QColor latencyColor(int latencyMs, const Palette &palette);
// Warning ink: yellow on dark palettes, #9A6B1F on light ones.
QColor warningInk(const Palette &palette);

// The badge shown for a method text: upper-cased, and GET when it is none of the six.
QString badgeMethod(const std::string &method);

// "No entries match “<filter>”".
QString noMatchTitle(const QString &filter);
QString waitingText(int proxyPort);
QString historyEmptyMessage(int proxyPort);
QString baselinesEmptyMessage(int proxyPort);
QString driftEmptyMessage();

// Header rows sorted by name in plain (case-sensitive) order; none for absent or empty headers.
QList<QPair<QString, QString>> sortedHeaders(const std::optional<std::map<std::string, std::string>> &headers);

// Baselines in plain ascending key order, stable.
std::vector<SchemaBaseline> sortedBaselines(const std::vector<SchemaBaseline> &baselines);

// The sketch's fields by path in plain order; none without a sketch.
struct FieldLine
{
    QString path;
    QString types; // joined with " | "
    bool optional = false; // seen in fewer samples than the sketch holds
};
QList<FieldLine> fieldLines(const SchemaBaseline &baseline);
int fieldCount(const SchemaBaseline &baseline);
// "watching" when locked, else "learning <samples>/3".
QString stateChipText(const SchemaBaseline &baseline);

// Severity colours: the dot (same in both schemes) and the kind label's ink.
QColor severityDotColor(const std::string &severity);
QColor severityInk(const std::string &severity, const Palette &palette);

// How a change's types are drawn: two chips with an arrow, one chip, or nothing.
struct TransitionChips
{
    QString before; // empty when only one chip
    QString after;  // the single chip's text when before is empty
    bool arrow = false;
    bool any() const { return !after.isEmpty() || !before.isEmpty(); }
};
TransitionChips transitionChips(const SchemaChange &change);

// "<n> breaking" / "<n> warning": the words never take a plural.
QString breakingTag(int count);
QString warningTag(int count);

} // namespace trafficlogic
