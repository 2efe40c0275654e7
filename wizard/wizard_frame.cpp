#include "wizard/wizard_frame.h"

#include "install/setup_config.h"
#include "install/setup_context.h"
#include "core/text_util.h"
#include "install/extraction_worker.h"
#include "install/worker_pause.h"
#include "resources/resource_ids.h"
#include "wizard/wizard_pages.h"

namespace {
struct PageTemplate {
    int Template;
    DLGPROC Procedure;
};
const PageTemplate kPages[kPageCount] = {
    {IDD_WELCOME, WelcomePageProc},       {IDD_LOCATION, LocationPageProc},
    {IDD_OPTIONS, OptionsPageProc},       {IDD_CONFIRM, ConfirmPageProc},
    {IDD_INSTALLING, InstallingPageProc}, {IDD_FINISH, FinishPageProc},
};

// The stop sequence answers messages the worker sends (the question box runs
// a loop of its own, and the waits answer them too), so the worker's
// completion notice can arrive during it; it is then handled there.
bool g_StopInProgress = false;
bool g_DoneWhileAsking = false;

const DWORD kStopPasses = 5;
const DWORD kStopPassWaitMs = 100;
} // namespace

HWND CreatePage(HWND frame, int index) {
    SetupContext& context = g_SetupContext;
    if (context.CaptionFont)
        DeleteObject(context.CaptionFont);
    context.CaptionFont = nullptr;
    if (index < 0 || index >= kPageCount)
        return nullptr;
    if (index == Welcome)
        ShowWindow(GetDlgItem(frame, IDC_BACK), SW_HIDE);
    else if (index == Location)
        ShowWindow(GetDlgItem(frame, IDC_BACK), SW_SHOW);
    else if (index == Installing) {
        EnableWindow(GetDlgItem(frame, IDC_BACK), FALSE);
        EnableWindow(GetDlgItem(frame, IDOK), FALSE);
    }
    return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kPages[index].Template),
                              frame, kPages[index].Procedure, 0);
}

static void ChangePage(HWND frame, int index) {
    SetupContext& context = g_SetupContext;
    context.PageIndex = index;
    if (context.CurrentPage)
        DestroyWindow(context.CurrentPage);
    context.CurrentPage = CreatePage(frame, index);
}

// Next and Back move only while their button is visible and enabled, whatever
// route the command took (Enter acts on the default button even when hidden).
static bool ButtonUsable(HWND frame, int id) {
    HWND button = GetDlgItem(frame, id);
    return button && (GetWindowLongPtrA(button, GWL_STYLE) & WS_VISIBLE) && IsWindowEnabled(button);
}

static void OnStep(HWND frame, int id, int delta) {
    int from = g_SetupContext.PageIndex;
    // Installing and Finish are left only by the worker's notice or a close.
    if (!ButtonUsable(frame, id) || from >= Installing || from + delta < Welcome)
        return;
    ChangePage(frame, from + delta);
}

static void CloseWorkerHandles() {
    SetupContext& context = g_SetupContext;
    if (context.CancelEvent)
        CloseHandle(context.CancelEvent);
    context.CancelEvent = nullptr;
    if (context.WorkerThread)
        CloseHandle(context.WorkerThread);
    context.WorkerThread = nullptr;
}

static void OnInstallDone(HWND frame) {
    SetupContext& context = g_SetupContext;
    // A notice after the stop sequence (from a worker ended while blocked in
    // its send) or a second one finds the page moved on and changes nothing.
    if (context.PageIndex != Installing)
        return;
    if (g_StopInProgress) {
        g_DoneWhileAsking = true;
        return;
    }
    CloseWorkerHandles();
    ChangePage(frame, context.PageIndex + 1);
}

// Waits for the worker to end while answering the messages it sends to this
// thread, so a worker on its way out is not held up in a window update and
// need not be ended by force. True when the worker is found waiting for good
// before a post-install command: there is no point waiting longer.
static bool WaitAnsweringSends(HANDLE worker, DWORD waitMs) {
    HANDLE waitFor[] = {worker, WorkerHeldForStop()};
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= waitMs)
            return false;
        DWORD result =
            MsgWaitForMultipleObjects(2, waitFor, FALSE, waitMs - elapsed, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0 + 1)
            return true;
        if (result != WAIT_OBJECT_0 + 2)
            return false;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

static void StopWorker(HWND frame) {
    SetupContext& context = g_SetupContext;
    HANDLE worker = context.WorkerThread;
    g_StopInProgress = true;
    g_DoneWhileAsking = false;
    // The question comes at once. The worker parks by itself at its next safe
    // point meanwhile (where it holds no lock the box needs); the window
    // updates it makes on the way are answered by the box's own loop, and it
    // may also finish.
    PauseWorker();
    int answer = MessageBoxA(frame, "确认退出安装，选“是”。继续，选“否”", "终止确认",
                             MB_OKCANCEL | MB_ICONWARNING);
    if (g_DoneWhileAsking || answer == IDCANCEL) {
        ResumeWorker();
        g_StopInProgress = false;
        // A worker that finished while the question was open has nothing
        // left to stop: show what it recorded.
        if (g_DoneWhileAsking)
            OnInstallDone(frame);
        return;
    }

    context.CancelEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    // Set before the worker is let go, so one parked at a cancel poll sees it
    // at once; one that reaches a post-install command waits there for good.
    if (context.CancelEvent)
        SetEvent(context.CancelEvent);
    StopWorkerAtSafePoint();
    DWORD code = 0;
    if (worker && GetExitCodeThread(worker, &code)) {
        for (DWORD pass = 0; pass < kStopPasses && code == STILL_ACTIVE; ++pass) {
            SetEvent(context.CancelEvent);
            bool held = WaitAnsweringSends(worker, kStopPassWaitMs);
            if (!GetExitCodeThread(worker, &code) || held)
                break;
        }
        if (GetExitCodeThread(worker, &code) && code == STILL_ACTIVE) {
            TerminateThread(worker, 0);
            // Termination is asynchronous; the record is read only after it.
            WaitForSingleObject(worker, 1000);
        }
    }
    g_StopInProgress = false;
    // A worker ended by force before it recorded an outcome would otherwise
    // leave the record saying success.
    if (worker && !WorkerRecordedOutcome()) {
        context.Failed = 1;
        CopyBounded(context.ErrorText, sizeof context.ErrorText, "用户终止。");
    }
    CloseWorkerHandles();
    ChangePage(frame, Finish);
}

static void OnClose(HWND frame) {
    SetupContext& context = g_SetupContext;
    if (g_StopInProgress)
        return;
    if (context.PageIndex == Installing) {
        StopWorker(frame);
        return;
    }
    if (context.CurrentPage)
        DestroyWindow(context.CurrentPage);
    context.CurrentPage = nullptr;
    EndDialog(frame, 0);
}

static void OnInitDialog(HWND frame) {
    SetupContext& context = g_SetupContext;
    context.MainWindow = frame;
    ChooseDefaultDrive(context.InstallDir);
    LoadSetupConfig(context);
    char caption[260];
    FormatBounded(caption, sizeof caption, "%s%s %s", context.AppName, context.AppVersion,
                  "安装向导");
    SetWindowTextA(frame, caption);
    // The band comes first in the template, so it lies above the title,
    // subtitle and picture it backs and would paint over them on a repaint
    // (after a message box, say); put it beneath them and clip it.
    SetWindowPos(GetDlgItem(frame, IDC_HEADER_BAND), HWND_BOTTOM, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    context.CurrentPage = CreatePage(frame, context.PageIndex);
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP));
    SetClassLongPtrA(frame, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
}

INT_PTR CALLBACK WizardFrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(frame);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            OnStep(frame, IDOK, +1);
            return FALSE;
        case IDC_BACK:
            OnStep(frame, IDC_BACK, -1);
            return FALSE;
        case IDCANCEL:
            if (HIWORD(wParam) == 0)
                SendMessageA(frame, WM_CLOSE, 0, 0);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        OnClose(frame);
        return TRUE;
    case WM_INSTALL_DONE:
        OnInstallDone(frame);
        return FALSE;
    case WM_CTLCOLORSTATIC: {
        int id = GetWindowLongA(reinterpret_cast<HWND>(lParam), GWL_ID);
        if (id == IDC_HEADER_SUBTITLE || id == IDC_HEADER_TITLE || id == IDC_HEADER_BAND)
            return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
        return FALSE;
    }
    }
    return FALSE;
}
