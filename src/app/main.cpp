// The kestrion executable.
#include "app/kestrion_app.h"
#include "app/screen_catalog.h"

int main(int argc, char **argv)
{
    installScreens(ShellRegistry::shared());
    return KestrionApp::run(argc, argv);
}
