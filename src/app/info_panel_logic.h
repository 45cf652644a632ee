// Pure decisions of the right info panel: activity buckets, flagged routes, engine row, chaos and links.
#pragma once

#include "engine/engine_status.h"
#include "engine/records/chaos_records.h"
#include "engine/records/route_records.h"

#include <QColor>
#include <QList>
#include <QString>

#include <array>

namespace InfoPanel {

inline constexpr int activityColumns = 17;

// The traffic list cut by position into 17 buckets, oldest first, each at level 0 to 4.
std::array<int, activityColumns> activityLevels(qsizetype trafficCount);
// A bucket's level for its count: 0, 1, 2 (2-3), 3 (4-6), 4 (7 or more).
int activityLevel(qsizetype count);

// Routes that need attention: status 400 and above, an override, a sequence, or switched off.
bool isFlagged(const Endpoint &route);
QList<Endpoint> flagged(const QList<Endpoint> &routes);

// The Info tab's engine row: "Live" while the proxy runs, else the status word.
QString engineText(const EngineStatus &status, bool proxyRunning);
QColor engineDotColor(const EngineStatus &status);

// The name of the first preset whose id is the active one; empty when none matches.
std::optional<QString> activeChaosName(const QList<ChaosPreset> &presets, const QString &activeId);

// "curl -x localhost:<port> http://<host>/<path>" with the placeholders left as text.
QString proxyCommand(int proxyPort);
// How much of the proxy command stays whole when the row is too narrow: up to the end of the port, so only
// the URL after it is shortened.
int proxyCommandKeptLength(const QString &command);
// "http://" followed by the host exactly as stored.
QString hostLink(const QString &host);

} // namespace InfoPanel
