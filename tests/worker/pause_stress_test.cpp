#include "package/extraction_worker.h"
#include "tests/support/worker_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

volatile LONG g_heartbeat;
UINT_PTR g_closeTimer;

BOOL CALLBACK CloseQuestionBox(HWND window, LPARAM) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") == 0 && IsWindowVisible(window))
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

void CALLBACK CloseBoxSoon(HWND, UINT, UINT_PTR, DWORD) {
    KillTimer(nullptr, g_closeTimer);
    EnumThreadWindows(GetCurrentThreadId(), CloseQuestionBox, 0);
}

// Ends the process if the UI thread stops making progress, so a deadlock
// fails the test instead of hanging it.
DWORD WINAPI Watchdog(LPVOID) {
    LONG last = -1;
    for (;;) {
        Sleep(20000);
        LONG now = InterlockedCompareExchange(&g_heartbeat, 0, 0);
        if (now == last) {
            fprintf(stderr, "UI thread made no progress for 20 s: deadlock\n");
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
    for (int i = 0; i < 1500; ++i) {
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
    CloseHandle(CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));

    srand(12345);
    HANDLE thread = harness.Start();
    int pauses = 0, parked = 0;
    DWORD exitCode = STILL_ACTIVE;
    while (GetExitCodeThread(thread, &exitCode) && exitCode == STILL_ACTIVE && pauses < 250) {
        InterlockedIncrement(&g_heartbeat);
        // Let the worker run for a random moment, answering its messages.
        DWORD until = GetTickCount() + rand() % 6;
        MSG message;
        do {
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
        } while (GetTickCount() < until);

        parked += PauseWorker(thread, 250) ? 1 : 0;
        ++pauses;
        // What the UI thread does while the worker is paused: allocate, and
        // show and close a box.
        std::vector<std::unique_ptr<char[]>> blocks;
        for (int i = 0; i < 20; ++i)
            blocks.emplace_back(new char[1 + rand() % 65536]);
        void* raw = HeapAlloc(GetProcessHeap(), 0, 1 + rand() % 100000);
        HeapFree(GetProcessHeap(), 0, raw);
        g_closeTimer = SetTimer(nullptr, 0, 1, CloseBoxSoon);
        MessageBoxA(harness.Frame, "确认退出安装，选“是”。继续，选“否”", "终止确认",
                    MB_OKCANCEL | MB_ICONWARNING);
        ResumeWorker(thread);
    }
    ASSERT_TRUE(harness.WaitDone(60000));
    printf("pauses: %d, parked: %d\n", pauses, parked);
    EXPECT_GE(pauses, 200) << "the worker finished too soon to stress the pause";
    EXPECT_GT(parked, pauses / 2) << "most pauses should find the worker at a check";
    EXPECT_EQ(harness.ExitCode, 1u);
    EXPECT_EQ(g_SetupContext.Failed, 0u);
    for (const TestFile& file : package.Files) {
        if (file.Group != PackageGroup::Client)
            continue;
        std::string bytes;
        ASSERT_TRUE(ReadBytes(install + "VTRClient\\" + file.RelativePath, &bytes));
        ASSERT_EQ(bytes, file.Bytes);
    }
}

} // namespace
