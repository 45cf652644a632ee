// The unattended capture mode: an engine of its own on a throwaway data folder, a little traffic through
// its proxy, then every screen, the inspector and every sheet rendered light and dark to PNG files.
#pragma once

#include "engine/records/route_records.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace SnapshotRunner {

// The watchdog's limit; KESTRION_SNAPSHOT_WATCHDOG_MS (tests only) replaces it.
inline constexpr int WatchdogMs = 150'000;

// Starts a run when the process arguments hold "--snapshot" followed by a folder; returns at once.
// Call it after the application object exists and the fonts are registered.
void kickoffIfRequested();
// The same for given arguments; true when a run was started.
bool kickoff(const QStringList &arguments);

// The folder after the first exact "--snapshot", absolute; none when it is missing or last.
std::optional<QString> outputDirectory(const QStringList &arguments);

// The curl arguments that send one route's request through the proxy on proxyPort.
QStringList curlArguments(const Endpoint &route, int proxyPort);

// A new, private (0700) folder under the temporary folder for the run's engine; empty when none could
// be made. The caller removes it.
QString createEngineDataDirectory();

// The files one pass writes, in order; 13 without a route, 15 with one.
QStringList passFiles(const QString &suffix, bool hasRoute);

} // namespace SnapshotRunner
