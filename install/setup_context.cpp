#include "install/setup_context.h"

// Static storage: zero-filled before the entry point runs, never reset.
SetupContext g_SetupContext;
