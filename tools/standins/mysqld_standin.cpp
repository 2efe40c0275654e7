// Stand-in for the database server's mysqld.exe. "--install NAME" registers
// this program as a real Windows service; the service manager then starts it
// with "--service NAME", and it runs until told to stop.
//
// MYSQLD_STANDIN_MODE picks what --install does, so tests reach every branch:
//   (unset)     register and print the success text (or "already exists")
//   other       print an unrecognised text, register nothing
//   other-once  like "other" on the first run (a marker file beside this
//               program remembers it), then like the default
//   silent      print nothing, register nothing
//   fail        print a failure text and exit 1, register nothing
//   big         register, then print about 1 MB more than the success text
//   binary      print non-text bytes (starting with a NUL), register nothing
// MYSQLD_STANDIN_START=fail registers a service that stops at once instead of
// running. Every run appends its command line to "mysqld-runs.log" beside it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

char g_serviceName[256];
bool g_failStart = false;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopEvent = nullptr;

void Print(const void* data, size_t size) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const char* bytes = static_cast<const char*>(data);
    while (out != nullptr && out != INVALID_HANDLE_VALUE && size > 0) {
        DWORD written = 0;
        DWORD chunk = size > 65536 ? 65536 : static_cast<DWORD>(size);
        if (!WriteFile(out, bytes, chunk, &written, nullptr) || written == 0)
            return;
        bytes += written;
        size -= written;
    }
}

void Print(const std::string& text) {
    Print(text.data(), text.size());
}

std::string BesideSelf(const char* fileName) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string result = path;
    size_t slash = result.rfind('\\');
    result.erase(slash == std::string::npos ? 0 : slash + 1);
    return result + fileName;
}

void RecordRun() {
    FILE* log = fopen(BesideSelf("mysqld-runs.log").c_str(), "a");
    if (log == nullptr)
        return;
    fprintf(log, "%s\n", GetCommandLineA());
    fclose(log);
}

std::string Mode() {
    char value[64] = {};
    DWORD n = GetEnvironmentVariableA("MYSQLD_STANDIN_MODE", value, sizeof value);
    std::string mode = n > 0 && n < sizeof value ? value : "";
    if (mode == "other-once") {
        std::string marker = BesideSelf("mysqld-standin.once");
        if (GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES)
            return "";
        HANDLE file =
            CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return "other";
    }
    return mode;
}

bool StartShouldFail() {
    char value[16] = {};
    DWORD n = GetEnvironmentVariableA("MYSQLD_STANDIN_START", value, sizeof value);
    return n > 0 && n < sizeof value && strcmp(value, "fail") == 0;
}

int Install(const char* name, const std::string& mode) {
    if (mode == "other") {
        Print("Install/Remove of the service was refused by the stand-in.\r\n");
        return 0;
    }
    if (mode == "silent")
        return 0;
    if (mode == "fail") {
        Print("Failed to install the service (stand-in).\r\n");
        return 1;
    }
    if (mode == "binary") {
        static const unsigned char junk[] = {0x00, 0xFF, 0x80, 0x1B, 0x07, 0xFE, 0x81, 0x00, 0x5C};
        Print(junk, sizeof junk);
        return 0;
    }

    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string binaryPath = std::string("\"") + self + "\" --service \"" + name + "\"";
    if (StartShouldFail())
        binaryPath += " --fail-start";
    SC_HANDLE manager =
        OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr) {
        Print("Failed to open the service manager.\r\n");
        return 1;
    }
    // Demand start: a test prefix must not start left-over services on boot.
    SC_HANDLE service = CreateServiceA(
        manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
        SERVICE_ERROR_NORMAL, binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    DWORD error = service == nullptr ? GetLastError() : 0;
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (error == ERROR_SERVICE_EXISTS) {
        Print("The service already exists!\r\nThe current server installed: " + binaryPath +
              "\r\n");
        return 0;
    }
    if (error != 0) {
        Print("Failed to install the service (error " + std::to_string(error) + ").\r\n");
        return 1;
    }
    Print("Service successfully installed.\r\n");
    if (mode == "big") {
        std::string line(99, 'x');
        line += "\r\n";
        std::string block;
        for (int i = 0; i < 1024; ++i)
            block += line;
        for (int i = 0; i < 10; ++i) // 10 x 101 KB: about 1 MB
            Print(block);
    }
    return 0;
}

void Report(DWORD state, DWORD exitCode = NO_ERROR) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = exitCode;
    SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(g_stopEvent);
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    g_statusHandle = RegisterServiceCtrlHandlerExA(g_serviceName, ControlHandler, nullptr);
    if (g_statusHandle == nullptr)
        return;
    if (g_failStart) {
        Report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
        return;
    }
    g_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_RUNNING);
    WaitForSingleObject(g_stopEvent, INFINITE);
    Report(SERVICE_STOPPED);
}

int RunAsService(int argc, char** argv) {
    snprintf(g_serviceName, sizeof g_serviceName, "%s", argv[2]);
    for (int i = 3; i < argc; ++i)
        g_failStart |= strcmp(argv[i], "--fail-start") == 0;
    SERVICE_TABLE_ENTRYA table[] = {{g_serviceName, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    RecordRun();
    if (argc >= 3 && strcmp(argv[1], "--service") == 0)
        return RunAsService(argc, argv);
    if (argc >= 3 && strcmp(argv[1], "--install") == 0)
        return Install(argv[2], Mode());
    Print("usage: mysqld --install NAME\r\n");
    return 2;
}
