#pragma once
// The uninstaller an installation leaves when ProgramMg is set: the program
// and its record in the install folder, the Programs and Features entry and,
// with StartMenu, an uninstall link. Runs on the worker thread after the
// post-install actions of a run whose every file step succeeded; adds log
// lines but moves no progress step.
#include "install/setup_context.h"

void RegisterUninstall(SetupContext& context);
