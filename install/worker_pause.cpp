#include "install/worker_pause.h"

namespace {

enum PauseState : LONG {
    kGoOn = 0,
    kPauseAsked = 1,
    kStopConfirmed = 2,
};

// Written by the UI thread only; the worker's polls read it and make no
// kernel call while it says kGoOn.
volatile LONG g_state = kGoOn;
volatile LONG g_parked;

// Made on the first pause, before the state first leaves kGoOn, so the worker
// only ever reaches them made. "Released" is set while the worker may go on;
// "Held" once it waits for good before a post-install command.
struct PauseEvents {
    HANDLE Released = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    HANDLE Held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
};

PauseEvents& Events() {
    static PauseEvents events;
    return events;
}

LONG State() {
    return InterlockedCompareExchange(&g_state, 0, 0);
}

} // namespace

void PauseWorker() {
    PauseEvents& events = Events();
    // Closed before the state says so: a worker that sees the request always
    // finds the way shut until the answer.
    ResetEvent(events.Released);
    InterlockedExchange(&g_state, kPauseAsked);
}

void ResumeWorker() {
    PauseEvents& events = Events();
    ResetEvent(events.Held);
    InterlockedExchange(&g_state, kGoOn);
    SetEvent(events.Released);
}

void StopWorkerAtSafePoint() {
    PauseEvents& events = Events();
    InterlockedExchange(&g_state, kStopConfirmed);
    SetEvent(events.Released);
}

HANDLE WorkerHeldForStop() {
    return Events().Held;
}

bool WorkerParked() {
    return InterlockedCompareExchange(&g_parked, 0, 0) != 0;
}

void ParkWorkerIfAsked() {
    if (State() != kPauseAsked)
        return;
    // Holding nothing here: the worker waits in the kernel until released.
    InterlockedExchange(&g_parked, 1);
    WaitForSingleObject(Events().Released, INFINITE);
    InterlockedExchange(&g_parked, 0);
}

void ParkWorkerBeforeCommand() {
    ParkWorkerIfAsked();
    if (State() != kStopConfirmed)
        return;
    // After a confirmed stop nothing more is started. The frame ends the
    // thread; until then it waits here, holding nothing.
    SetEvent(Events().Held);
    for (;;)
        Sleep(INFINITE);
}
