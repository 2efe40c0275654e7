#pragma once
// Pausing and stopping the worker only where it holds nothing.
//
// Suspending the worker at an arbitrary instant could freeze it inside the
// heap or a window-system lock that the question box needs, and ending it at
// an arbitrary instant could leave such a lock (or a C runtime stream lock)
// taken for good. So the question is shown at once, and the worker parks by
// itself at its next safe point while the question is open: its cancel polls,
// between the inflater's blocks, before the uninstall registration, before
// each post-install command (service install and start, set-up run, link) and
// before a message box of its own. Until then its window updates are answered
// by the question box's own message loop.
//
// The worker's own box and the stop question never stand together; whichever
// comes first wins. A box the worker is about to show waits while the
// question is open and is never shown once the stop is confirmed. While the
// worker's box is up the frame does not ask (the box disables the frame
// anyway); once it is answered, a close asks as usual.
//
// A confirmed stop ends the thread by force only where it holds nothing: held
// for good before a post-install command, or waiting on a child process.
#include <windows.h>

// UI thread. Asks the worker to park at its next safe point and returns at
// once: true to ask the user now; false while the worker's own box is up,
// when nothing is asked.
bool PauseWorker();
// UI thread. Lets a parked worker go on, and forgets any earlier stop: the
// question was answered "go on", or the worker has ended.
void ResumeWorker();
// UI thread, once the user confirmed the stop. A worker parked (or about to
// park) at a safe point goes on to see the stop and ends its run; one that
// reaches a post-install command waits there for good, so nothing more is
// started, and signals WorkerHeldForStop().
void StopWorkerAtSafePoint();
// Signalled while the worker waits for good before a post-install command; it
// then holds nothing and can be ended at once.
HANDLE WorkerHeldForStop();
// UI thread, after a confirmed stop. True when the worker holds nothing and
// never will again until it is ended: held for good, or waiting on a child
// process (it then cannot leave that wait). False while it is anywhere else;
// it will reach a safe point or its end by itself.
bool ClaimWorkerForEnd();
// True while the worker is parked at a safe point awaiting the answer (for
// tests and diagnostics).
bool WorkerParked();

// Worker thread, at each cancel poll. Costs one flag read unless a pause is
// asked.
void ParkWorkerIfAsked();
// Worker thread, at a safe point that can end the run: parks when asked, then
// true once the stop is confirmed. One flag read unless a pause is asked.
bool WorkerShouldStop();
// Worker thread, before each post-install command: parks like a cancel poll,
// and never returns once the stop has been confirmed.
void ParkWorkerBeforeCommand();
// Worker thread: MessageBoxA, after parking if the question is open; shows
// nothing and returns 0 once the stop is confirmed.
int WorkerMessageBox(HWND owner, const char* text, const char* caption, UINT type);
// Worker thread, around a wait on a child process (and nothing else): the one
// place besides the held wait where the frame may end the thread.
void EnterChildWait();
void LeaveChildWait();
