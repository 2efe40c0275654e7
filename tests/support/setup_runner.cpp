#include "tests/support/setup_runner.h"

#include "resources/resource_ids.h"
#include "tools/wizard_driver/message_boxes.h"

#include <cstring>

namespace {

struct EnumState {
    DWORD ProcessId;
    std::vector<HWND>* Windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
    EnumState* state = reinterpret_cast<EnumState*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == state->ProcessId)
        state->Windows->push_back(window);
    return TRUE;
}

std::string BuildEnvironment(const std::string& tempDir) {
    std::string environment;
    char* current = GetEnvironmentStringsA();
    for (const char* p = current; *p; p += strlen(p) + 1) {
        if (_strnicmp(p, "TEMP=", 5) != 0 && _strnicmp(p, "TMP=", 4) != 0)
            environment.append(p, strlen(p) + 1);
    }
    FreeEnvironmentStringsA(current);
    environment += "TEMP=" + tempDir + '\0';
    environment += "TMP=" + tempDir + '\0';
    environment.push_back('\0');
    return environment;
}

} // namespace

std::vector<HWND> ProcessWindows(DWORD processId) {
    std::vector<HWND> windows;
    EnumState state{processId, &windows};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&state));
    return windows;
}

std::string WindowText(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

SetupRunResult RunSetupProgram(const std::string& exe, const std::string& tempDir,
                               DWORD timeoutMs) {
    SetupRunResult result;
    std::string environment = BuildEnvironment(tempDir);
    std::string commandLine = "\"" + exe + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, &environment[0],
                        nullptr, &startup, &process))
        return result;
    CloseHandle(process.hThread);
    DWORD started = GetTickCount();
    MessageBoxAnswerer boxes(process.dwProcessId);
    std::vector<HWND> closedFrames;
    while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
        if (GetTickCount() - started > timeoutMs) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 5000);
            CloseHandle(process.hProcess);
            result.ExitCode = -2;
            return result;
        }
        for (const AnsweredBox& box : boxes.AnswerAll(IDOK))
            result.BoxTexts.push_back(box.Text);
        for (HWND window : ProcessWindows(process.dwProcessId)) {
            if (!IsWindowVisible(window) || GetDlgItem(window, IDC_HEADER_BAND) == nullptr)
                continue;
            bool closed = false;
            for (HWND done : closedFrames)
                closed |= done == window;
            if (closed)
                continue;
            result.SawWizard = true;
            PostMessageA(window, WM_CLOSE, 0, 0);
            closedFrames.push_back(window);
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    result.ExitCode = static_cast<int>(code);
    return result;
}
