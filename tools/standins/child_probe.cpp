// A child for exercising the process runner. Its arguments are steps, done
// in order:
//   out TEXT      write TEXT to standard output
//   err TEXT      write TEXT to standard error
//   bytes N       write N bytes (a repeating a..z pattern) to standard output
//   sleep MS      sleep
//   hold          start a copy of this program that inherits our handles and
//                 sleeps for a minute, then write "holder <pid>\n"
//   touch PATH    create the file PATH
//   exit CODE     end with CODE (the default is 0)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Write(DWORD which, const std::string& bytes) {
    HANDLE handle = GetStdHandle(which);
    size_t offset = 0;
    while (handle != nullptr && handle != INVALID_HANDLE_VALUE && offset < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data() + offset, static_cast<DWORD>(bytes.size() - offset),
                       &written, nullptr) ||
            written == 0)
            return;
        offset += written;
    }
}

void StartHolder() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string line = std::string("\"") + self + "\" sleep 60000";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        Write(STD_OUTPUT_HANDLE, "holder failed\n");
        return;
    }
    Write(STD_OUTPUT_HANDLE, "holder " + std::to_string(process.dwProcessId) + "\n");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string step = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (step == "hold") {
            StartHolder();
            continue;
        }
        ++i;
        if (step == "out") {
            Write(STD_OUTPUT_HANDLE, value);
        } else if (step == "err") {
            Write(STD_ERROR_HANDLE, value);
        } else if (step == "bytes") {
            std::string bytes(strtoul(value, nullptr, 10), '\0');
            for (size_t k = 0; k < bytes.size(); ++k)
                bytes[k] = static_cast<char>('a' + k % 26);
            Write(STD_OUTPUT_HANDLE, bytes);
        } else if (step == "sleep") {
            Sleep(strtoul(value, nullptr, 10));
        } else if (step == "touch") {
            HANDLE file = CreateFileA(value, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
        } else if (step == "exit") {
            return atoi(value);
        }
    }
    return 0;
}
