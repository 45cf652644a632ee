// The application's entry: fonts, the snapshot hand-off and the one main window.
#pragma once

#include <QStringList>

#include <functional>
#include <optional>

class QString;

namespace KestrionApp {

// Registers every "ttf" file in the application's resources; failures are skipped silently.
void registerFonts();

// The output directory after an exact "--snapshot" argument; none without one or with nothing after it.
std::optional<QString> snapshotDirectory(const QStringList &arguments);

// Runs the application: fonts, then the snapshot kick-off (when given), then the window and the event loop.
int run(int argc, char **argv, std::function<void()> snapshotKickoff = {});

} // namespace KestrionApp
