#include "uninstall/self_copy.h"

#include "record/record_trust.h"
#include "record/uninstall_names.h"

#include <tlhelp32.h>

#include <cstdlib>
#include <cwchar>

namespace {

// The next argument of a command line, unquoted; *cursor moves past it.
std::wstring NextArgument(const wchar_t** cursor) {
    const wchar_t* p = *cursor;
    while (*p == L' ' || *p == L'\t')
        ++p;
    std::wstring argument;
    bool quoted = false;
    for (; *p != L'\0'; ++p) {
        if (*p == L'"') {
            quoted = !quoted;
        } else if (!quoted && (*p == L' ' || *p == L'\t')) {
            break;
        } else {
            argument += *p;
        }
    }
    *cursor = p;
    return argument;
}

HANDLE HandleFromText(const std::wstring& text) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(wcstoull(text.c_str(), nullptr, 10)));
}

std::wstring HandleText(HANDLE handle) {
    return std::to_wstring(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)));
}

DWORD ParentProcessId() {
    DWORD self = GetCurrentProcessId(), parent = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return parent;
}

std::wstring FileNameOf(const std::wstring& path) {
    size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

} // namespace

CopyArguments ReadCopyArguments(const wchar_t* commandLine) {
    CopyArguments arguments;
    const wchar_t* cursor = commandLine;
    NextArgument(&cursor); // the program itself
    while (*cursor != L'\0') {
        std::wstring argument = NextArgument(&cursor);
        if (argument == L"--from")
            arguments.OriginalPath = NextArgument(&cursor);
        else if (argument == L"--report")
            arguments.Report = HandleFromText(NextArgument(&cursor));
        else if (argument == L"--original")
            arguments.Original = HandleFromText(NextArgument(&cursor));
    }
    arguments.IsCopy = !arguments.OriginalPath.empty();
    return arguments;
}

bool IsStartedByOriginal(const CopyArguments& arguments) {
    if (!arguments.IsCopy || arguments.Original == nullptr || arguments.Report == nullptr ||
        !SamePath(FileNameOf(arguments.OriginalPath), WideFromGbk(kUninstallerFileName)))
        return false;
    DWORD originalId = GetProcessId(arguments.Original);
    if (originalId == 0 || originalId != ParentProcessId())
        return false;
    if (GetFileType(arguments.Report) != FILE_TYPE_PIPE)
        return false;
    wchar_t image[MAX_PATH * 2] = {};
    DWORD length = sizeof image / sizeof image[0];
    return QueryFullProcessImageNameW(arguments.Original, 0, image, &length) && length > 0 &&
           SamePath(std::wstring(image, length), arguments.OriginalPath);
}

int RunFromTemporaryCopy(const std::wstring& selfPath, bool silent) {
    wchar_t temp[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH)
        return -1;
    // A folder of its own, made here: nothing planted beside the copy (a DLL
    // of a system name) can be loaded by it.
    std::wstring copyFolder;
    bool made = false;
    for (DWORD attempt = 0; attempt < 16 && !made; ++attempt) {
        wchar_t name[64];
        swprintf(name, sizeof name / sizeof name[0], L"MDPX-Uninstall-%08lX-%lu\\",
                 GetCurrentProcessId(), attempt);
        copyFolder = std::wstring(temp) + name;
        made = CreateDirectoryW(copyFolder.c_str(), nullptr) != 0;
    }
    std::wstring copyPath = copyFolder + WideFromGbk(kUninstallerFileName);
    if (!made || copyPath.size() >= MAX_PATH)
        return -1;
    if (!CopyFileW(selfPath.c_str(), copyPath.c_str(), FALSE)) {
        RemoveDirectoryW(copyFolder.c_str());
        return -1;
    }

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    HANDLE self = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        DeleteFileW(copyPath.c_str());
        RemoveDirectoryW(copyFolder.c_str());
        return -1;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    // The copy waits on this handle and, for the handshake, reads which
    // program it belongs to.
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                    SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0);
    std::wstring command = L"\"" + copyPath + L"\" --from \"" + selfPath + L"\" --report " +
                           HandleText(writeEnd) + L" --original " + HandleText(self) +
                           (silent ? L" " + WideFromGbk(kSilentSwitch) : L"");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessW(copyPath.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  temp, &startup, &process);
    CloseHandle(writeEnd);
    if (self != nullptr)
        CloseHandle(self);
    if (!started) {
        CloseHandle(readEnd);
        DeleteFileW(copyPath.c_str());
        RemoveDirectoryW(copyFolder.c_str());
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
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
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

bool DeleteOriginal(const std::wstring& originalPath, const std::wstring& installDir) {
    bool deleted = false;
    for (int attempt = 0; attempt < 50 && !deleted; ++attempt) {
        deleted = DeleteFileW(originalPath.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
        if (!deleted)
            Sleep(100);
    }
    if (!deleted)
        DeleteAtRestart(originalPath);
    RemoveDirectoryW(installDir.c_str());
    return deleted;
}

void DeleteAtRestart(const std::wstring& path) {
    MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void DeleteCopyAtRestart(const std::wstring& copyPath) {
    DeleteAtRestart(copyPath);
    size_t separator = copyPath.find_last_of(L'\\');
    if (separator != std::wstring::npos && separator > 0)
        DeleteAtRestart(copyPath.substr(0, separator));
}
