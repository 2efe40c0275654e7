#include "package/extraction_worker.h"
#include "package/worker_pause.h"

namespace {

// Manual-reset events, made once: "a pause is asked" and "the worker is
// parked"; a third one lets a parked worker go.
struct PauseEvents {
    HANDLE Asked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE Parked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE Released = CreateEventA(nullptr, TRUE, TRUE, nullptr);
};

PauseEvents& Events() {
    static PauseEvents events;
    return events;
}

bool g_suspended; // UI thread only

} // namespace

void ParkWorkerIfAsked() {
    PauseEvents& events = Events();
    if (WaitForSingleObject(events.Asked, 0) != WAIT_OBJECT_0)
        return;
    // Holding nothing here: the worker waits in the kernel until released.
    SetEvent(events.Parked);
    WaitForSingleObject(events.Released, INFINITE);
    ResetEvent(events.Parked);
}

bool PauseWorker(HANDLE workerThread, DWORD waitMs) {
    PauseEvents& events = Events();
    g_suspended = false;
    if (workerThread == nullptr)
        return false;
    ResetEvent(events.Released);
    ResetEvent(events.Parked); // a worker just let go may not have cleared it yet
    SetEvent(events.Asked);
    DWORD start = GetTickCount();
    HANDLE waitFor[] = {events.Parked, workerThread};
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= waitMs)
            return false;
        // The worker may be inside a SendMessage to this thread: answer sent
        // messages (without dispatching posted ones) so it can reach its check.
        DWORD result =
            MsgWaitForMultipleObjects(2, waitFor, FALSE, waitMs - elapsed, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) {
            g_suspended = SuspendThread(workerThread) != static_cast<DWORD>(-1);
            return g_suspended;
        }
        if (result != WAIT_OBJECT_0 + 2)
            return false; // the worker ended, or the wait failed
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void ResumeWorker(HANDLE workerThread) {
    PauseEvents& events = Events();
    ResetEvent(events.Asked);
    if (g_suspended && workerThread != nullptr)
        ResumeThread(workerThread);
    g_suspended = false;
    SetEvent(events.Released);
}
