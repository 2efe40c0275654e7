#include "install/worker_pause.h"
#include "tests/support/setup_runner.h"
#include "tests/support/worker_harness.h"
#include "tools/wizard_driver/message_boxes.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

// What the UI thread is doing, for the watchdog's report.
volatile LONG g_heartbeat; // pauses completed
volatile LONG g_pausing;   // the watchdog watches only while pausing
volatile LONG g_inBox;     // inside the question box
volatile LONG g_ticks;     // close-timer ticks in this pause
DWORD g_uiThreadId;
HANDLE g_worker;
HWND g_bar;

// One pause, as the close timer sees it.
struct PauseWatch {
    DWORD Start = 0;
    bool SawParked = false;
    int PositionWhenParked = -1;
    int MovedWhileParked = 0;
};
PauseWatch g_watch;
UINT_PTR g_closeTimer;

// Longest a pause waits for the worker to park before the box is closed
// anyway; only a worker past its last safe point should get near it.
const DWORD kParkWaitMs = 5000;

HWND VisibleBoxOf(DWORD threadId) {
    HWND found = nullptr;
    EnumThreadWindows(
        threadId,
        [](HWND window, LPARAM out) -> BOOL {
            if (IsWindowVisible(window) && IsMessageBox(window)) {
                *reinterpret_cast<HWND*>(out) = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

bool WorkerEnded() {
    return WaitForSingleObject(g_worker, 0) == WAIT_OBJECT_0;
}

// Ticks until the box is on screen (a modal box is shown only once its loop
// first runs idle, so an early tick finds none) and the worker has parked or
// ended; then answers the box "go on". Only a box that was seen gets closed.
void CALLBACK CloseBoxOnceParked(HWND, UINT, UINT_PTR, DWORD) {
    InterlockedIncrement(&g_ticks);
    int position = static_cast<int>(SendMessageA(g_bar, PBM_GETPOS, 0, 0));
    if (WorkerParked()) {
        if (!g_watch.SawParked)
            g_watch.PositionWhenParked = position;
        else if (position != g_watch.PositionWhenParked)
            ++g_watch.MovedWhileParked;
        g_watch.SawParked = true;
    }
    HWND box = VisibleBoxOf(GetCurrentThreadId());
    bool waitedEnough = GetTickCount() - g_watch.Start > kParkWaitMs;
    if (box == nullptr || !(g_watch.SawParked || WorkerEnded() || waitedEnough))
        return;
    KillTimer(nullptr, g_closeTimer);
    PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
}

// Where the worker is: parked, ended, or the module its instruction pointer
// is in (a thread stuck elsewhere shows where).
std::string WorkerWhereabouts() {
    if (WorkerEnded())
        return "ended";
    std::string where = WorkerParked() ? "parked" : "not parked";
    if (SuspendThread(g_worker) == static_cast<DWORD>(-1))
        return where;
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    if (GetThreadContext(g_worker, &context)) {
#ifdef _WIN64
        DWORD64 ip = context.Rip;
#else
        DWORD ip = context.Eip;
#endif
        HMODULE module = nullptr;
        char name[MAX_PATH] = "?";
        if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                   GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               reinterpret_cast<LPCSTR>(ip), &module))
            GetModuleFileNameA(module, name, sizeof name);
        char text[400];
        snprintf(text, sizeof text, ", at %p in %s", reinterpret_cast<void*>(ip), name);
        where += text;
    }
    ResumeThread(g_worker);
    return where;
}

// Ends the process if the UI thread completes no pause for 20 s, so a
// deadlock fails the test instead of hanging it, and says what it saw.
DWORD WINAPI Watchdog(LPVOID) {
    LONG last = -1;
    for (;;) {
        Sleep(20000);
        if (!InterlockedCompareExchange(&g_pausing, 0, 0))
            return 0;
        LONG now = InterlockedCompareExchange(&g_heartbeat, 0, 0);
        if (now == last) {
            fprintf(stderr,
                    "UI thread made no progress for 20 s after %ld pauses: inside the box %ld, "
                    "a box visible %d, close-timer ticks %ld; worker %s\n",
                    now, InterlockedCompareExchange(&g_inBox, 0, 0),
                    VisibleBoxOf(g_uiThreadId) != nullptr,
                    InterlockedCompareExchange(&g_ticks, 0, 0), WorkerWhereabouts().c_str());
            fflush(stderr);
            ExitProcess(3);
        }
        last = now;
    }
}

TEST(WorkerPause, HundredsOfPausesAtRandomMomentsNeverDeadlockTheUiThread) {
    TestPackage package = SmallSamplePackage();
    package.Settings.ServerRun = false;
    package.Settings.ClientRun = false;
    package.Files.clear();
    uint32_t seed = 7;
    const int kFiles = 600;
    for (int i = 0; i < kFiles; ++i) {
        std::string bytes(500 + (i * 7919) % 6000, static_cast<char>(i));
        for (size_t j = 0; j < bytes.size(); j += 13)
            bytes[j] = static_cast<char>(j * i);
        package.Files.push_back(TestFile{
            PackageGroup::Client, "d" + std::to_string(i % 17) + "\\f" + std::to_string(i) + ".dat",
            bytes, MakeTimes(seed++)});
    }
    // One server file, so the client side has no database service of its own.
    package.Files.insert(package.Files.begin(),
                         TestFile{PackageGroup::Server, "VTRServer.exe", "x", MakeTimes(1)});
    std::string install = MakeScratchDir("worker_pause_stress");
    WorkerHarness harness;
    harness.Prepare(package, install);
    g_SetupContext.InstallServer = 0;
    g_uiThreadId = GetCurrentThreadId();
    g_bar = harness.Bar;

    int statusTexts = 0;
    harness.OnStatus = [&](const std::string&) { ++statusTexts; };
    srand(12345);
    HANDLE thread = harness.Start();
    g_worker = thread;
    InterlockedExchange(&g_pausing, 1);
    CloseHandle(CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));
    int pauses = 0, parked = 0, parkedAfterUnpacking = 0, movedWhileParked = 0;
    DWORD started = GetTickCount();
    DWORD exitCode = STILL_ACTIVE;
    while (GetExitCodeThread(thread, &exitCode) && exitCode == STILL_ACTIVE && pauses < 250) {
        // Let the worker run for a random number of its steps (status texts,
        // two a file), answering its messages: measured in steps, not time,
        // so the pauses spread over the same part of the run on a fast or a
        // loaded machine. Where within a step the pause meets it is left to
        // timing.
        int target = statusTexts + rand() % 4;
        MSG message;
        while (statusTexts < target && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
        }

        // What the frame does: ask for the pause and show the question at
        // once, allocating meanwhile; the worker parks while it is open.
        PauseWorker();
        ++pauses;
        std::vector<std::unique_ptr<char[]>> blocks;
        for (int i = 0; i < 20; ++i)
            blocks.emplace_back(new char[1 + rand() % 65536]);
        void* raw = HeapAlloc(GetProcessHeap(), 0, 1 + rand() % 100000);
        HeapFree(GetProcessHeap(), 0, raw);
        g_watch = PauseWatch();
        g_watch.Start = GetTickCount();
        InterlockedExchange(&g_ticks, 0);
        g_closeTimer = SetTimer(nullptr, 0, 1, CloseBoxOnceParked);
        InterlockedExchange(&g_inBox, 1);
        MessageBoxA(harness.Frame, "确认退出安装，选“是”。继续，选“否”", "终止确认",
                    MB_OKCANCEL | MB_ICONWARNING);
        InterlockedExchange(&g_inBox, 0);
        KillTimer(nullptr, g_closeTimer);
        ResumeWorker();
        parked += g_watch.SawParked ? 1 : 0;
        parkedAfterUnpacking += g_watch.PositionWhenParked >= kFiles ? 1 : 0;
        movedWhileParked += g_watch.MovedWhileParked;
        InterlockedIncrement(&g_heartbeat);
    }
    InterlockedExchange(&g_pausing, 0);
    ASSERT_TRUE(harness.WaitDone(60000));
    printf("pauses: %d, parked: %d (%d after the unpacking), in %lu ms\n", pauses, parked,
           parkedAfterUnpacking, GetTickCount() - started);
    EXPECT_GE(pauses, 200) << "the worker finished too soon to stress the pause";
    // Every pause finds the worker at a safe point, except one that meets it
    // past the last.
    EXPECT_GE(parked, pauses - 1);
    EXPECT_EQ(movedWhileParked, 0) << "the worker went on while parked";
    EXPECT_EQ(harness.ExitCode, 1u);
    EXPECT_EQ(g_SetupContext.Failed, 0u) << g_SetupContext.ErrorText;
    for (const TestFile& file : package.Files) {
        if (file.Group != PackageGroup::Client)
            continue;
        std::string bytes;
        ASSERT_TRUE(ReadBytes(install + "VTRClient\\" + file.RelativePath, &bytes));
        ASSERT_EQ(bytes, file.Bytes);
    }
}

// After a confirmed stop a worker at a cancel poll goes on (to see the cancel
// event), while one about to start a post-install command never does.
TEST(WorkerPause, AConfirmedStopHoldsTheWorkerBeforeItsNextCommandOnly) {
    static volatile LONG reached;
    auto worker = [](LPVOID) -> DWORD {
        ParkWorkerIfAsked();
        InterlockedExchange(&reached, 1);
        ParkWorkerBeforeCommand();
        InterlockedExchange(&reached, 2);
        return 0;
    };
    InterlockedExchange(&reached, 0);
    PauseWorker();
    HANDLE thread = CreateThread(nullptr, 0, worker, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    for (int i = 0; i < 500 && !WorkerParked(); ++i)
        Sleep(10);
    EXPECT_TRUE(WorkerParked());
    EXPECT_EQ(reached, 0);
    StopWorkerAtSafePoint();
    EXPECT_EQ(WaitForSingleObject(WorkerHeldForStop(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(reached, 1);
    EXPECT_EQ(WaitForSingleObject(thread, 200), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateThread(thread, 0);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    ResumeWorker();
    EXPECT_EQ(WaitForSingleObject(WorkerHeldForStop(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(WorkerParked());
}

} // namespace
