#include "install/worker_pause.h"

namespace {

// g_state bits. The UI thread sets and clears the first two, the worker the
// third; every change is one compare-exchange of the whole word, so a box and
// a question cannot both be let through.
enum : LONG {
    kPauseAsked = 1,
    kStopConfirmed = 2,
    kWorkerBox = 4,
};
volatile LONG g_state;
volatile LONG g_parked;

// The worker's wait on a child process: outside it, inside it, or claimed by
// the frame (the worker then never leaves it alive).
enum : LONG {
    kNotWaiting = 0,
    kWaiting = 1,
    kClaimed = 2,
};
volatile LONG g_childWait;

// Made on the first pause, before the state first leaves zero, so the worker
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

// Sets the state to change(old) atomically; returns the old state.
template <typename Change> LONG UpdateState(Change change) {
    for (;;) {
        LONG old = State();
        if (InterlockedCompareExchange(&g_state, change(old), old) == old)
            return old;
    }
}

void Park() {
    // Holding nothing here: the worker waits in the kernel until released.
    InterlockedExchange(&g_parked, 1);
    WaitForSingleObject(Events().Released, INFINITE);
    InterlockedExchange(&g_parked, 0);
}

[[noreturn]] void WaitToBeEnded() {
    for (;;)
        Sleep(INFINITE);
}

} // namespace

bool PauseWorker() {
    PauseEvents& events = Events();
    // Closed before the state says so: a worker that sees the request always
    // finds the way shut until the answer.
    ResetEvent(events.Released);
    LONG old = UpdateState([](LONG s) { return s & kWorkerBox ? s : s | kPauseAsked; });
    if (!(old & kWorkerBox))
        return true;
    SetEvent(events.Released);
    return false;
}

void ResumeWorker() {
    PauseEvents& events = Events();
    ResetEvent(events.Held);
    UpdateState([](LONG s) { return s & ~(kPauseAsked | kStopConfirmed); });
    SetEvent(events.Released);
}

void StopWorkerAtSafePoint() {
    PauseEvents& events = Events();
    UpdateState([](LONG s) { return (s & ~kPauseAsked) | kStopConfirmed; });
    SetEvent(events.Released);
}

HANDLE WorkerHeldForStop() {
    return Events().Held;
}

bool ClaimWorkerForEnd() {
    if (WaitForSingleObject(Events().Held, 0) == WAIT_OBJECT_0)
        return true;
    return InterlockedCompareExchange(&g_childWait, kClaimed, kWaiting) != kNotWaiting;
}

bool WorkerParked() {
    return InterlockedCompareExchange(&g_parked, 0, 0) != 0;
}

void ParkWorkerIfAsked() {
    if (State() & kPauseAsked)
        Park();
}

bool WorkerShouldStop() {
    ParkWorkerIfAsked();
    return (State() & kStopConfirmed) != 0;
}

void ParkWorkerBeforeCommand() {
    if (!WorkerShouldStop())
        return;
    // After a confirmed stop nothing more is started. The frame ends the
    // thread; until then it waits here, holding nothing.
    SetEvent(Events().Held);
    WaitToBeEnded();
}

int WorkerMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    for (;;) {
        LONG old = State();
        if (old & kStopConfirmed)
            return 0;
        if (old & kPauseAsked) {
            Park();
            continue;
        }
        if (InterlockedCompareExchange(&g_state, old | kWorkerBox, old) == old)
            break;
    }
    int answer = MessageBoxA(owner, text, caption, type);
    UpdateState([](LONG s) { return s & ~kWorkerBox; });
    return answer;
}

void EnterChildWait() {
    InterlockedExchange(&g_childWait, kWaiting);
}

void LeaveChildWait() {
    if (InterlockedCompareExchange(&g_childWait, kNotWaiting, kWaiting) == kClaimed)
        WaitToBeEnded();
}
