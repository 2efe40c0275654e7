#pragma once
#include <windows.h>

// Thread procedure of the installation; the argument is the SetupContext.
// Exit code 1 when it reached the post-install actions, else 0.
DWORD WINAPI ExtractionWorker(LPVOID context);
