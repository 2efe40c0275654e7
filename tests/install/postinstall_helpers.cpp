#include "tests/install/postinstall_helpers.h"

#include "install/setup_context.h"
#include "core/text_util.h"
#include "tests/support/test_support.h"
#include "tools/wizard_driver/message_boxes.h"
#include "install/progress_log.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

void KeepStandardHandlesFromChildren() {
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE handle = GetStdHandle(which);
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
            SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    }
}

ScopedCurrentDir::ScopedCurrentDir(const std::string& dir) {
    GetCurrentDirectoryA(sizeof previous_, previous_);
    SetCurrentDirectoryA(dir.c_str());
}

ScopedCurrentDir::~ScopedCurrentDir() {
    SetCurrentDirectoryA(previous_);
}

std::string UnwritableFolder() {
    const char folder[] = "Z:\\sys\\";
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return "";
    std::string probe = std::string(folder) + "unwritable-probe.tmp";
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        DeleteFileA(probe.c_str());
        return "";
    }
    return folder;
}

ScopedWorkDir::ScopedWorkDir(const std::string& dir) {
    memcpy(previous_, g_SetupContext.WorkDir, sizeof previous_);
    CopyBounded(g_SetupContext.WorkDir, sizeof g_SetupContext.WorkDir, dir.c_str());
}

ScopedWorkDir::~ScopedWorkDir() {
    memcpy(g_SetupContext.WorkDir, previous_, sizeof previous_);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    SetEnvironmentVariableA(name, value);
}

ScopedEnv::~ScopedEnv() {
    SetEnvironmentVariableA(name_.c_str(), nullptr);
}

BoxWatcher::BoxWatcher() : thread_([this] { Run(); }) {}

BoxWatcher::~BoxWatcher() {
    stop_ = true;
    thread_.join();
}

std::vector<SeenBox> BoxWatcher::Boxes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

void BoxWatcher::Run() {
    MessageBoxAnswerer answerer;
    while (!stop_) {
        for (const AnsweredBox& box : answerer.AnswerAll(IDOK)) {
            std::lock_guard<std::mutex> lock(mutex_);
            boxes_.push_back(SeenBox{box.Owner, box.Caption, box.Text});
        }
        Sleep(20);
    }
}

const BoundWindows& TheBoundWindows() {
    static BoundWindows windows = [] {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        BoundWindows made;
        made.Main = CreateWindowExA(0, "STATIC", "post-install test", WS_OVERLAPPEDWINDOW, 0, 0,
                                    400, 300, nullptr, nullptr, nullptr, nullptr);
        made.Bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD, 0, 0, 300, 20, made.Main,
                                   nullptr, nullptr, nullptr);
        made.List = CreateWindowExA(0, "LISTBOX", "", WS_CHILD | WS_VSCROLL, 0, 30, 300, 200,
                                    made.Main, nullptr, nullptr, nullptr);
        SetProgressPos(made.Bar, 0);
        SetProgressRange(made.Bar, 10000);
        AppendLogLine(made.List, nullptr, "抽取：");
        return made;
    }();
    return windows;
}

int ProgressPosition() {
    return static_cast<int>(SendMessageA(TheBoundWindows().Bar, PBM_GETPOS, 0, 0));
}

std::vector<std::string> LogLines() {
    HWND list = TheBoundWindows().List;
    std::vector<std::string> lines;
    int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::string line(SendMessageA(list, LB_GETTEXTLEN, i, 0) + 1, '\0');
        line.resize(SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&line[0])));
        lines.push_back(line);
    }
    return lines;
}

std::string ReadText(const std::string& path) {
    std::string bytes;
    return ReadBytes(path, &bytes) ? bytes : std::string();
}

int CountLines(const std::string& text, const std::string& containing) {
    int count = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (text.substr(start, end - start).find(containing) != std::string::npos)
            ++count;
        start = end + 1;
    }
    return count;
}
