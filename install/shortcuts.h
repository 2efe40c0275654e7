#pragma once
#include "install/setup_context.h"

// Places the links the context's shortcut settings ask for (Start menu
// folder, desktop, Quick Launch) and logs each one.
void PlaceShortcuts(SetupContext& context, const char* target, const char* folderName,
                    const char* linkName);

// Writes one .lnk through the shell-link object: 1 when it was asked to save,
// 0 when the object or its IPersistFile could not be had.
int CreateShellLink(const char* target, const char* linkPath, const char* arguments);
