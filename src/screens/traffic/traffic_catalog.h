// How this library's screens and sheets join the main window.
#pragma once

class ShellRegistry;

void installTrafficScreens(ShellRegistry &registry);
