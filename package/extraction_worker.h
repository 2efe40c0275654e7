#pragma once
#include <windows.h>

// Thread procedure of the installation; the argument is the SetupContext.
// Exit code 1 when it reached the post-install actions, else 0.
DWORD WINAPI ExtractionWorker(LPVOID context);

// True once the worker has written Failed (and ErrorText) for this run, just
// before it sends WM_INSTALL_DONE. A worker ended by force before that point
// leaves it false, so the frame knows the record still says nothing.
bool WorkerRecordedOutcome();

// Pausing the worker for the cancel question. SuspendThread at an arbitrary
// instant could freeze the worker inside the heap or a window-system lock
// that the question box needs; instead the worker is asked to park at its
// next cancel check, and only then suspended. While it is asked, messages
// the worker sends to the calling (UI) thread are still answered.
// Returns true when the worker was parked and suspended within waitMs; false
// leaves it running (it parks at its next check, until ResumeWorker).
bool PauseWorker(HANDLE workerThread, DWORD waitMs);
// Undoes PauseWorker: resumes a suspended worker and lets a parked one go.
void ResumeWorker(HANDLE workerThread);
