// Where a confirmed stop may end the worker: its own box never stands with
// the stop question, a child process wait is the one place it is ended by
// force, and a stop confirmed before the uninstall registration means none.
#include "install/extraction_worker.h"
#include "install/worker_pause.h"
#include "tests/support/worker_harness.h"
#include "tools/wizard_driver/message_boxes.h"
#include "record/link_places.h"
#include "record/uninstall_names.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

bool WaitFor(const std::function<bool()>& ready, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!ready()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(5);
    }
    return true;
}

HWND BoxOfThread(DWORD threadId) {
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

// A worker that shows its own box, as the database service step does.
struct BoxWorker {
    volatile LONG Answer = -1;
    HANDLE Thread = nullptr;
    DWORD ThreadId = 0;

    void Start() {
        Thread = CreateThread(
            nullptr, 0,
            [](LPVOID self) -> DWORD {
                int answer = WorkerMessageBox(nullptr, "数据库启动失败", "worker", MB_OK);
                InterlockedExchange(&static_cast<BoxWorker*>(self)->Answer, answer);
                return 0;
            },
            this, 0, &ThreadId);
    }
    bool Ended(DWORD waitMs) { return WaitForSingleObject(Thread, waitMs) == WAIT_OBJECT_0; }
    ~BoxWorker() {
        if (Thread != nullptr && !Ended(5000))
            TerminateThread(Thread, 0);
        CloseHandle(Thread);
    }
};

enum class Order { QuestionThenGoOn, QuestionThenStop, BoxFirst };

TEST(SafeStop, TheWorkersBoxAndTheStopQuestionNeverStandTogether) {
    for (Order order : {Order::QuestionThenGoOn, Order::QuestionThenStop, Order::BoxFirst}) {
        SCOPED_TRACE(static_cast<int>(order));
        BoxWorker worker;
        if (order != Order::BoxFirst) {
            // The question is open before the worker's box would come: the
            // worker parks first and shows nothing meanwhile.
            ASSERT_TRUE(PauseWorker());
            worker.Start();
            ASSERT_TRUE(WaitFor(WorkerParked, 5000));
            Sleep(100);
            EXPECT_EQ(BoxOfThread(worker.ThreadId), nullptr);
            if (order == Order::QuestionThenStop) {
                StopWorkerAtSafePoint();
                ASSERT_TRUE(worker.Ended(5000));
                EXPECT_EQ(worker.Answer, 0) << "a box was shown after the stop";
                ResumeWorker();
                continue;
            }
            ResumeWorker();
        } else {
            worker.Start();
        }
        HWND box = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (box = BoxOfThread(worker.ThreadId)) != nullptr; }, 5000));
        if (order == Order::BoxFirst) {
            // The box came first: a close now asks nothing.
            EXPECT_FALSE(PauseWorker());
            EXPECT_FALSE(WorkerParked());
        }
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(worker.Ended(5000));
        EXPECT_EQ(worker.Answer, IDOK);
        // Once the box is answered a close asks as usual.
        EXPECT_TRUE(PauseWorker());
        ResumeWorker();
    }
}

// A worker in a child process wait is claimed there and never leaves it
// alive; anywhere else it is not claimed.
TEST(SafeStop, OnlyAWorkerWaitingOnAChildProcessIsClaimedForTheEnd) {
    static HANDLE child;  // stands for the child process
    static HANDLE inWait; // the worker is about to wait
    static volatile LONG leftWait;
    child = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    inWait = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    InterlockedExchange(&leftWait, 0);
    EXPECT_FALSE(ClaimWorkerForEnd()) << "no worker waits";
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
            EnterChildWait();
            SetEvent(inWait);
            WaitForSingleObject(child, INFINITE);
            LeaveChildWait();
            InterlockedExchange(&leftWait, 1);
            // The next wait of the same kind, left before any claim.
            EnterChildWait();
            LeaveChildWait();
            return 0;
        },
        nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(inWait, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(ClaimWorkerForEnd());
    // The child ends: the claimed worker still goes no further.
    SetEvent(child);
    EXPECT_EQ(WaitForSingleObject(thread, 300), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(leftWait, 0) << "the worker left its wait after the claim";
    TerminateThread(thread, 0);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);

    // Unclaimed, the same worker passes and is not claimable afterwards.
    ResetEvent(child);
    ResetEvent(inWait);
    thread = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
            EnterChildWait();
            SetEvent(inWait);
            WaitForSingleObject(child, INFINITE);
            LeaveChildWait();
            InterlockedExchange(&leftWait, 1);
            return 0;
        },
        nullptr, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(inWait, 5000), WAIT_OBJECT_0);
    SetEvent(child);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(leftWait, 1);
    EXPECT_FALSE(ClaimWorkerForEnd());
    CloseHandle(thread);
    CloseHandle(child);
    CloseHandle(inWait);
}

// Asks the pause when the worker logs the client side's link, its last
// post-install step: it then parks at the registration's safe point.
WNDPROC g_listProc;
LRESULT CALLBACK PauseAtLastLink(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == LB_ADDSTRING && lParam != 0) {
        std::string line = reinterpret_cast<const char*>(lParam);
        if (line.rfind("创建快捷方式：", 0) == 0 && line.size() >= strlen("\\澜枢软件.lnk") &&
            line.compare(line.size() - strlen("\\澜枢软件.lnk"), std::string::npos,
                         "\\澜枢软件.lnk") == 0)
            PauseWorker();
    }
    return CallWindowProcA(g_listProc, window, message, wParam, lParam);
}

TEST(SafeStop, AStopConfirmedJustBeforeTheRegistrationLeavesNoneOfIt) {
    std::string install = MakeScratchDir("worker_safe_stop_registration");
    TestPackage package = SmallSamplePackage();
    package.Settings.ServerRun = false;
    package.Settings.ClientRun = false;
    WorkerHarness harness;
    harness.Prepare(package, install);
    strcpy(g_SetupContext.AppName, "澜枢软件");
    strcpy(g_SetupContext.AppVersion, "v2.0.0.1");
    g_SetupContext.ProgramMg = 1;
    g_SetupContext.StartMenu = 1;
    g_SetupContext.DB2 = 0;
    const std::string keyPath = std::string(kUninstallKeyParent) + "\\MDPX 澜枢软件";
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
    const std::string link = LinkPath(LinkPlace::StartMenu, kUninstallLinkName);
    const std::string clientLink = LinkPath(LinkPlace::StartMenu, "澜枢软件.lnk");
    DeleteFileA(link.c_str());
    DeleteFileA(clientLink.c_str());
    g_listProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(harness.List, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PauseAtLastLink)));

    HANDLE thread = harness.Start();
    DWORD start = GetTickCount();
    while (!WorkerParked() && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT &&
           GetTickCount() - start < 30000) {
        MsgWaitForMultipleObjects(1, &thread, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
    EXPECT_TRUE(WorkerParked()) << "the worker did not park before the registration";
    EXPECT_TRUE(PathExists(clientLink)) << "parked before its last step";
    StopWorkerAtSafePoint();
    ASSERT_TRUE(harness.WaitDone(30000));
    ResumeWorker();

    EXPECT_EQ(harness.ExitCode, 1u);
    EXPECT_EQ(g_SetupContext.Failed, 1u);
    EXPECT_STREQ(g_SetupContext.ErrorText, "用户终止。");
    EXPECT_FALSE(PathExists(install + kUninstallerFileName));
    EXPECT_FALSE(PathExists(install + kUninstallRecordFileName));
    EXPECT_FALSE(PathExists(link));
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    if (key != nullptr)
        RegCloseKey(key);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
    DeleteFileA(link.c_str());
    DeleteFileA(clientLink.c_str());
    DeleteFileA(LinkPath(LinkPlace::StartMenu, "澜枢软件服务器.lnk").c_str());
}

} // namespace
