#pragma once
// Pausing the worker while the user is asked whether to stop.
//
// Suspending the worker at an arbitrary instant could freeze it inside the
// heap or a window-system lock that the question box needs, and waiting for
// it to reach a safe point would keep the question from appearing at once.
// So the question is shown at once, and the worker parks by itself at its
// next safe point while the question is open: its cancel polls during the
// unpacking, and before each post-install command (service install and
// start, set-up run, link). Until then its window updates are answered by the
// question box's own message loop.
#include <windows.h>

// UI thread. Asks the worker to park at its next safe point; returns at once.
void PauseWorker();
// UI thread. Lets a parked worker go on, and forgets any earlier stop: the
// question was answered "go on", or the worker has ended.
void ResumeWorker();
// UI thread, once the user confirmed the stop. A worker parked (or about to
// park) at a cancel poll goes on to that poll, which then sees the cancel
// event; a worker that reaches a post-install command waits there for good,
// so nothing more is started, and signals WorkerHeldForStop().
void StopWorkerAtSafePoint();
// Signalled while the worker waits for good before a post-install command; it
// then holds nothing and can be ended at once.
HANDLE WorkerHeldForStop();
// True while the worker is parked at a safe point awaiting the answer (for
// tests and diagnostics).
bool WorkerParked();

// Worker thread, at each cancel poll. Costs one flag read unless a pause is
// asked.
void ParkWorkerIfAsked();
// Worker thread, before each post-install command: parks like a cancel poll,
// and never returns once the stop has been confirmed.
void ParkWorkerBeforeCommand();
