#pragma once
#include <windows.h>

// Anonymous pipe with both ends inheritable: 1, or 0 after a message box.
int CreateInheritablePipe(HANDLE* readEnd, HANDLE* writeEnd);

// Runs commandLine with stdout and stderr captured into outputFile (none when
// null or empty); timeoutMs 0 = do not wait, INFINITE = no limit. 0 or -1.
int RunCaptured(DWORD* exitCode, char* commandLine, const char* outputFile, int newConsole,
                DWORD timeoutMs);

// Runs commandLine; with wait non-zero waits for it and returns its exit code.
int RunAndWait(char* commandLine, int wait);
