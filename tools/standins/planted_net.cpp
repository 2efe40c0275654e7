// A net.exe planted where a program's own folder is searched first. It
// claims every service started and leaves "planted-net-ran.txt" beside
// itself, so a test can tell whether anything ran it.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main() {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    char* slash = length > 0 && length < sizeof path ? strrchr(path, '\\') : nullptr;
    if (slash != nullptr && strlen("\\planted-net-ran.txt") < sizeof path - (slash - path)) {
        strcpy(slash, "\\planted-net-ran.txt");
        if (FILE* marker = fopen(path, "a")) {
            fprintf(marker, "%s\n", GetCommandLineA());
            fclose(marker);
        }
    }
    printf("The service is starting.\nservice is starting.\n");
    return 0;
}
