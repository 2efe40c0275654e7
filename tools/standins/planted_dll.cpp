// A DLL under a name no system has, left beside a program to see whether the
// program's DLL search still picks it up.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
