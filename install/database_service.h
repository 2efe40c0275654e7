#pragma once
#include "install/setup_context.h"

// Shortcuts, database service and set-up runs of each installed side, on
// the worker thread after every file is in place. Always 1.
int PostInstallActions(SetupContext& context, int position);
