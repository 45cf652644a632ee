// The kestrion executable.
#include "app/kestrion_app.h"
#include "main/screen_catalog.h"
#include "snapshot/snapshot_runner.h"

#include <QStringList>

int main(int argc, char **argv)
{
    installScreens(ShellRegistry::shared());
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Capture mode needs no display: its windows never reach the screen.
    if (SnapshotRunner::outputDirectory(arguments) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return KestrionApp::run(argc, argv, &SnapshotRunner::kickoffIfRequested);
}
