#include "install/process_runner.h"

#include "install/setup_context.h"
#include "install/scratch_files.h"

#include <cstdio>
#include <new>
#include <vector>

namespace {

const char kErrorLog[] = "errlog.log";
// How long to sleep between looks at an idle pipe while the child runs.
const DWORD kIdlePollMs = 5;
const DWORD kReadChunk = 4096;

void CloseIfOpen(HANDLE handle) {
    if (handle != nullptr)
        CloseHandle(handle);
}

// Keeps every byte it can; when memory runs out the rest is read and dropped,
// so the child is never left blocked on a full pipe.
struct CapturedBytes {
    std::vector<char> Bytes;
    bool OutOfMemory = false;

    void Add(const char* data, DWORD size) {
        if (OutOfMemory)
            return;
        try {
            Bytes.insert(Bytes.end(), data, data + size);
        } catch (const std::bad_alloc&) {
            OutOfMemory = true;
        }
    }
};

// Reads at most limit bytes of what the pipe already holds, never blocking:
// ReadFile is only asked for bytes PeekNamedPipe has seen. Returns the count.
DWORD ReadHeldBytes(HANDLE pipe, CapturedBytes* captured, DWORD limit) {
    DWORD total = 0;
    char chunk[kReadChunk];
    while (total < limit) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0)
            break;
        DWORD want = available;
        if (want > limit - total)
            want = limit - total;
        if (want > sizeof chunk)
            want = sizeof chunk;
        DWORD got = 0;
        if (!ReadFile(pipe, chunk, want, &got, nullptr) || got == 0)
            break;
        captured->Add(chunk, got);
        total += got;
    }
    return total;
}

// Waits for the process up to timeoutMs, emptying the pipe (when there is
// one) meanwhile. Returns the wait result; *waitError is set for WAIT_FAILED.
DWORD WaitWhileDraining(HANDLE process, HANDLE pipe, DWORD timeoutMs, CapturedBytes* captured,
                        DWORD* waitError) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        bool moved = pipe != nullptr && ReadHeldBytes(pipe, captured, MAXDWORD) > 0;
        DWORD slice = pipe == nullptr ? timeoutMs : (moved ? 0 : kIdlePollMs);
        if (timeoutMs != INFINITE) {
            ULONGLONG elapsed = GetTickCount64() - start;
            DWORD left = elapsed >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - elapsed);
            if (slice > left)
                slice = left;
        }
        DWORD wait = WaitForSingleObject(process, slice);
        if (wait == WAIT_FAILED)
            *waitError = GetLastError();
        if (wait != WAIT_TIMEOUT)
            return wait;
        if (timeoutMs != INFINITE && GetTickCount64() - start >= timeoutMs)
            return WAIT_TIMEOUT;
    }
}

// After the child has ended only what the pipe holds at that moment is
// taken: a grandchild that inherited the write end may keep it open (and
// keep writing) for as long as it likes.
void ReadRemainder(HANDLE pipe, CapturedBytes* captured) {
    DWORD held = 0;
    if (PeekNamedPipe(pipe, nullptr, 0, nullptr, &held, nullptr) && held > 0)
        ReadHeldBytes(pipe, captured, held);
}

void WriteOutputFile(const char* path, const CapturedBytes& captured) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    size_t offset = 0;
    while (offset < captured.Bytes.size()) {
        size_t left = captured.Bytes.size() - offset;
        DWORD want = left > (1u << 20) ? (1u << 20) : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(file, captured.Bytes.data() + offset, want, &written, nullptr) ||
            written == 0)
            break;
        offset += written;
    }
    CloseHandle(file);
}

// "errlog.log" in the current folder, or in the work folder where the
// current one cannot be written; null when it cannot be opened.
FILE* OpenErrorLog() {
    char path[MAX_PATH];
    if (!ScratchFilePath(path, sizeof path, kErrorLog, g_SetupContext.WorkDir))
        return nullptr;
    return fopen(path, "a+");
}

void LogTimeout(const char* commandLine, DWORD timeoutMs) {
    FILE* log = OpenErrorLog();
    if (log == nullptr)
        return;
    fprintf(log, "子进程%s超时等待:%lds\n", commandLine, static_cast<long>(timeoutMs));
    fclose(log);
}

void LogFailedWait(const char* commandLine, DWORD timeoutMs, DWORD error) {
    FILE* log = OpenErrorLog();
    if (log == nullptr)
        return;
    fprintf(log, "子进程%s超时等待:%lds\t%ld\n", commandLine, static_cast<long>(timeoutMs),
            static_cast<long>(error));
    fclose(log);
}

} // namespace

int CreateInheritablePipe(HANDLE* readEnd, HANDLE* writeEnd) {
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = TRUE;
    if (CreatePipe(readEnd, writeEnd, &attributes, 0))
        return 1;
    MessageBoxA(nullptr, "异常错误", "", MB_OK);
    return 0;
}

int RunCaptured(DWORD* exitCode, char* commandLine, const char* outputFile, int newConsole,
                DWORD timeoutMs) {
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    const bool capture = outputFile != nullptr && outputFile[0] != '\0';
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (capture) {
        if (!CreateInheritablePipe(&readEnd, &writeEnd)) {
            readEnd = nullptr;
            writeEnd = nullptr;
        }
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
        startup.wShowWindow = SW_SHOW;
        startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    }

    PROCESS_INFORMATION process = {};
    DWORD flags = newConsole ? CREATE_NEW_CONSOLE : CREATE_NO_WINDOW;
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                        &startup, &process)) {
        CloseIfOpen(readEnd);
        CloseIfOpen(writeEnd);
        return -1;
    }
    // Without our copy of the write end the pipe ends when the child does.
    CloseIfOpen(writeEnd);
    CloseHandle(process.hThread);

    if (timeoutMs == 0) {
        CloseIfOpen(readEnd);
        CloseHandle(process.hProcess);
        return 0;
    }

    CapturedBytes captured;
    DWORD waitError = 0;
    DWORD wait = WaitWhileDraining(process.hProcess, readEnd, timeoutMs, &captured, &waitError);
    int result = -1;
    if (wait == WAIT_OBJECT_0) {
        if (exitCode != nullptr)
            GetExitCodeProcess(process.hProcess, exitCode);
        if (capture) {
            if (readEnd != nullptr)
                ReadRemainder(readEnd, &captured);
            WriteOutputFile(outputFile, captured);
        }
        result = 0;
    } else if (wait == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 0);
        LogTimeout(commandLine, timeoutMs);
    } else {
        LogFailedWait(commandLine, timeoutMs, waitError);
    }
    CloseIfOpen(readEnd);
    CloseHandle(process.hProcess);
    return result;
}

int RunAndWait(char* commandLine, int wait) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return 0;
    if (wait == 0) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return 0;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
