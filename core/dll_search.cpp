#include "core/dll_search.h"

#include <windows.h>

void RestrictDllSearchToSystemFolder() {
    // Looked up by name: Vista and 7 without the update that added the call
    // must still start.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC found =
        kernel != nullptr ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(found));
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    // Older systems: at least take the current folder out of the search.
    SetDllDirectoryA("");
}
