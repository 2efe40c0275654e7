#pragma once
#include <windows.h>

// Thread procedure of the installation; the argument is the SetupContext.
// Exit code 1 when it reached the post-install actions, else 0.
DWORD WINAPI ExtractionWorker(LPVOID context);

// True once the worker has written Failed (and ErrorText) for this run, just
// before it sends WM_INSTALL_DONE. A worker ended by force before that point
// leaves it false, so the frame knows the record still says nothing.
bool WorkerRecordedOutcome();
