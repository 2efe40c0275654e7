#pragma once
#include "install/setup_context.h"

// Replaces out (the InstallDir field) with the default drive root and returns
// it. With no drive reported at all, "C:\" is used.
char* ChooseDefaultDrive(char* out);

// Reads the INI file at context.ConfigPath into the context. Always 1.
int LoadSetupConfig(SetupContext& context);
