#pragma once
#include <windows.h>

// The whole program after the entry point: prepares the work folder and the
// INI copy, checks the package, runs the wizard. Always returns 0.
int RunSetup(HINSTANCE instance);

// Text of the box shown for a package that fails the start-up checks.
extern const char kDamagedPackageText[];
