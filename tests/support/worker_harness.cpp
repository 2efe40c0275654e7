#include "tests/support/worker_harness.h"

#include "install/extraction_worker.h"
#include "package/package_resources.h"
#include "resources/resource_ids.h"
#include "install/progress_log.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {
WorkerHarness* g_harness;
const char kFrameClass[] = "WorkerHarnessFrame";
} // namespace

LRESULT CALLBACK WorkerHarness::FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INSTALL_DONE && g_harness)
        ++g_harness->DoneMessages;
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK WorkerHarness::StatusProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    if (message == WM_SETTEXT && g_harness && lParam) {
        std::string text = reinterpret_cast<const char*>(lParam);
        g_harness->StatusTexts.push_back(text);
        if (g_harness->OnStatus)
            g_harness->OnStatus(text);
    }
    return CallWindowProcA(g_harness->staticProc_, window, message, wParam, lParam);
}

WorkerHarness::WorkerHarness() {
    g_harness = this;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    WNDCLASSA frameClass = {};
    frameClass.lpfnWndProc = FrameProc;
    frameClass.hInstance = GetModuleHandleA(nullptr);
    frameClass.lpszClassName = kFrameClass;
    RegisterClassA(&frameClass);
    Frame = CreateWindowA(kFrameClass, "harness", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                          nullptr, GetModuleHandleA(nullptr), nullptr);
    Bar = CreateWindowA(PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 0, 0, 300, 20, Frame,
                        reinterpret_cast<HMENU>(IDC_PROGRESS), nullptr, nullptr);
    List =
        CreateWindowA("LISTBOX", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOINTEGRALHEIGHT, 0,
                      30, 300, 100, Frame, reinterpret_cast<HMENU>(IDC_LOG_LIST), nullptr, nullptr);
    StatusLine = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE, 0, 140, 300, 20, Frame,
                               reinterpret_cast<HMENU>(IDC_STATUS_LINE), nullptr, nullptr);
    staticProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(StatusLine, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StatusProc)));
}

WorkerHarness::~WorkerHarness() {
    if (Thread)
        CloseHandle(Thread);
    DestroyWindow(Frame);
    SetPackageModule(nullptr);
    if (module_)
        FreeLibrary(module_);
    g_harness = nullptr;
}

void WorkerHarness::Prepare(const TestPackage& package, const std::string& installDir,
                            const std::vector<uint8_t>* indexOverride,
                            const std::vector<uint8_t>* payloadOverride) {
    ASSERT_TRUE(Frame && Bar && List && StatusLine) << "the harness windows need a display";
    std::string dir = MakeScratchDir("worker_harness", TEST_SCRATCH_DIR);
    exe_ = dir + "setup-under-test.exe";
    ASSERT_TRUE(WriteTestSetup(package, exe_, indexOverride, payloadOverride));
    module_ = LoadLibraryExA(exe_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr);
    SetPackageModule(module_);
    WorkDir = dir + "work\\";
    CreateDirectoryA(WorkDir.c_str(), nullptr);

    std::vector<uint8_t> index, payload;
    BuildBlobs(package, &index, &payload);
    if (indexOverride)
        index = *indexOverride;
    FillContext(index.data(), index.size(), installDir);
}

bool WorkerHarness::PrepareFromExe(const std::string& exe, const std::string& installDir,
                                   const std::string& workDir) {
    module_ = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module_ == nullptr)
        return false;
    SetPackageModule(module_);
    WorkDir = workDir;
    CreateDirectoryA(WorkDir.c_str(), nullptr);
    ResourceBytes index = LoadPackageResource(102);
    if (!index.Found)
        return false;
    FillContext(index.Data, index.Size, installDir);
    return true;
}

void WorkerHarness::FillContext(const void* index, size_t indexSize,
                                const std::string& installDir) {
    SetupContext& c = g_SetupContext;
    memset(&c, 0, sizeof c);
    memcpy(&c.Header, index, indexSize < 600 ? indexSize : 600);
    strcpy(c.WorkDir, WorkDir.c_str());
    strcpy(c.InstallDir, installDir.c_str());
    strcpy(c.VirSer, "VTRServer\\");
    strcpy(c.VirCli, "VTRClient\\");
    strcpy(c.VirDB, "VTRServer\\Mysql\\");
    c.InstallServer = 1;
    c.InstallClient = 1;
    c.MainWindow = Frame;
    c.LogList = List;
    c.StatusLine = StatusLine;
}

HANDLE WorkerHarness::Start() {
    // The Installing page's binding calls, before the worker exists.
    SetProgressPos(Bar, 0);
    SetProgressRange(Bar, 0);
    AppendLogLine(List, nullptr, "抽取：");
    Thread = CreateThread(nullptr, 0, ExtractionWorker, &g_SetupContext, 0, nullptr);
    g_SetupContext.WorkerThread = Thread;
    return Thread;
}

bool WorkerHarness::WaitDone(DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        DWORD result = MsgWaitForMultipleObjects(1, &Thread, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        AnswerBoxes();
        if (result == WAIT_OBJECT_0) {
            GetExitCodeThread(Thread, &ExitCode);
            return true;
        }
    }
    return false;
}

bool WorkerHarness::Run(DWORD timeoutMs) {
    Start();
    return WaitDone(timeoutMs);
}

void WorkerHarness::AnswerBoxes() {
    for (const AnsweredBox& box : boxes_.AnswerAll(IDOK))
        Boxes.emplace_back(box.Text, box.Caption);
}

std::vector<std::string> WorkerHarness::LogLines() const {
    std::vector<std::string> lines;
    int count = static_cast<int>(SendMessageA(List, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char line[520] = {};
        SendMessageA(List, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
        lines.push_back(line);
    }
    return lines;
}

int WorkerHarness::ProgressPosition() const {
    return static_cast<int>(SendMessageA(Bar, PBM_GETPOS, 0, 0));
}

int WorkerHarness::ProgressMaximum() const {
    return static_cast<int>(SendMessageA(Bar, PBM_GETRANGE, FALSE, 0));
}

PackageFileTimes FileTimesOf(const std::string& path) {
    PackageFileTimes times;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        times.Creation = {data.ftCreationTime.dwLowDateTime, data.ftCreationTime.dwHighDateTime};
        times.LastAccess = {data.ftLastAccessTime.dwLowDateTime,
                            data.ftLastAccessTime.dwHighDateTime};
        times.LastWrite = {data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime};
    }
    return times;
}

bool SameTimes(const PackageFileTimes& a, const PackageFileTimes& b) {
    return memcmp(&a, &b, sizeof a) == 0;
}
