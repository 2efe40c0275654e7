#include "uninstall/self_copy.h"

#include "core/text_util.h"
#include "record/uninstall_names.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The next argument of a command line, unquoted; *cursor moves past it.
std::string NextArgument(const char** cursor) {
    const char* p = *cursor;
    while (*p == ' ' || *p == '\t')
        ++p;
    std::string argument;
    bool quoted = false;
    for (; *p != '\0'; ++p) {
        if (*p == '"') {
            quoted = !quoted;
        } else if (!quoted && (*p == ' ' || *p == '\t')) {
            break;
        } else {
            argument += *p;
        }
    }
    *cursor = p;
    return argument;
}

HANDLE HandleFromText(const std::string& text) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(strtoull(text.c_str(), nullptr, 10)));
}

std::string HandleText(HANDLE handle) {
    return std::to_string(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)));
}

} // namespace

CopyArguments ReadCopyArguments(const char* commandLine) {
    CopyArguments arguments;
    const char* cursor = commandLine;
    NextArgument(&cursor); // the program itself
    while (*cursor != '\0') {
        std::string argument = NextArgument(&cursor);
        if (argument == "--from")
            arguments.OriginalPath = NextArgument(&cursor);
        else if (argument == "--report")
            arguments.Report = HandleFromText(NextArgument(&cursor));
        else if (argument == "--original")
            arguments.Original = HandleFromText(NextArgument(&cursor));
    }
    arguments.IsCopy = !arguments.OriginalPath.empty();
    return arguments;
}

int RunFromTemporaryCopy(const std::string& selfPath, bool silent) {
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp)
        return -1;
    // A folder of its own, made here: nothing planted beside the copy (a DLL
    // of a system name) can be loaded by it.
    char copyFolder[MAX_PATH];
    bool made = false;
    for (DWORD attempt = 0; attempt < 16 && !made; ++attempt) {
        if (snprintf(copyFolder, sizeof copyFolder, "%sMDPX-Uninstall-%08lX-%lu\\", temp,
                     GetCurrentProcessId(), attempt) >= static_cast<int>(sizeof copyFolder))
            return -1;
        made = CreateDirectoryA(copyFolder, nullptr) != 0;
    }
    char copyPath[MAX_PATH];
    if (!made || snprintf(copyPath, sizeof copyPath, "%s%s", copyFolder, kUninstallerFileName) >=
                     static_cast<int>(sizeof copyPath))
        return -1;
    if (!CopyFileA(selfPath.c_str(), copyPath, FALSE)) {
        RemoveDirectoryA(copyFolder);
        return -1;
    }

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    HANDLE self = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        DeleteFileA(copyPath);
        RemoveDirectoryA(copyFolder);
        return -1;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                    SYNCHRONIZE, TRUE, 0);
    std::string command = std::string("\"") + copyPath + "\" --from \"" + selfPath +
                          "\" --report " + HandleText(writeEnd) + " --original " +
                          HandleText(self) + (silent ? std::string(" ") + kSilentSwitch : "");
    std::string mutableCommand = command;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessA(copyPath, &mutableCommand[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  temp, &startup, &process);
    CloseHandle(writeEnd);
    if (self != nullptr)
        CloseHandle(self);
    if (!started) {
        CloseHandle(readEnd);
        DeleteFileA(copyPath);
        RemoveDirectoryA(copyFolder);
        return -1;
    }
    CloseHandle(process.hThread);
    // The copy writes its exit code once the work is done; a copy that ends
    // without writing (killed) gives its own exit code. Meanwhile the message
    // queue is looked at, so a launcher waiting for this program to be ready
    // for input (the shell, WaitForInputIdle) is not kept waiting.
    int code = 1;
    bool reported = false;
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        DWORD available = 0;
        if (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) &&
            available >= sizeof code) {
            DWORD read = 0;
            reported = ReadFile(readEnd, &code, sizeof code, &read, nullptr) && read == sizeof code;
            break;
        }
        if (MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 50, QS_ALLINPUT) ==
            WAIT_OBJECT_0)
            break;
    }
    if (!reported) {
        // Ended, or wrote just before ending: what the pipe holds comes first.
        DWORD read = 0;
        reported = ReadFile(readEnd, &code, sizeof code, &read, nullptr) && read == sizeof code;
    }
    if (!reported) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD exitCode = 1;
        GetExitCodeProcess(process.hProcess, &exitCode);
        code = static_cast<int>(exitCode);
    }
    CloseHandle(readEnd);
    CloseHandle(process.hProcess);
    return code;
}

void ReportToOriginal(const CopyArguments& arguments, int exitCode) {
    if (arguments.Report != nullptr) {
        DWORD written = 0;
        WriteFile(arguments.Report, &exitCode, sizeof exitCode, &written, nullptr);
        CloseHandle(arguments.Report);
    }
    if (arguments.Original != nullptr) {
        WaitForSingleObject(arguments.Original, 10000);
        CloseHandle(arguments.Original);
    }
}

bool DeleteOriginal(const std::string& originalPath, const std::string& installDir) {
    bool deleted = false;
    for (int attempt = 0; attempt < 50 && !deleted; ++attempt) {
        deleted = DeleteFileA(originalPath.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
        if (!deleted)
            Sleep(100);
    }
    if (!deleted)
        DeleteAtRestart(originalPath);
    RemoveDirectoryA(installDir.c_str());
    return deleted;
}

void DeleteAtRestart(const std::string& path) {
    MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void DeleteCopyAtRestart(const std::string& copyPath) {
    DeleteAtRestart(copyPath);
    long separator = FindLastSeparatorGbk(copyPath.c_str());
    if (separator > 0)
        DeleteAtRestart(copyPath.substr(0, static_cast<size_t>(separator)));
}
