// Sample server/client program of the demo package. Run with a set-up
// argument, it records the argument in "setup-runs.log" beside itself and
// exits; that record is how tests and the demo see the set-up run happened.
// While a file "setup-run.hold" lies beside it, it waits before exiting, so a
// test can hold the installation inside a set-up run.
#include <windows.h>

#include <cstdio>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    char* slash = strrchr(path, '\\');
    if (slash == nullptr)
        return 1;
    snprintf(slash + 1, sizeof path - (slash + 1 - path), "%s", "setup-runs.log");
    FILE* log = fopen(path, "a");
    if (log == nullptr)
        return 1;
    fprintf(log, "%s\n", commandLine);
    fclose(log);
    snprintf(slash + 1, sizeof path - (slash + 1 - path), "%s", "setup-run.hold");
    while (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
        Sleep(20);
    return 0;
}
