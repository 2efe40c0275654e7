#include "tools/setup_pack/console_out.h"

#include "tools/setup_pack/text_convert.h"

#include <windows.h>

static void WriteLine(DWORD which, const std::string& utf8Line) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;
    std::string line = utf8Line + "\n";
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        std::wstring wide = Utf8ToWide(line);
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void PrintOut(const std::string& utf8Line) {
    WriteLine(STD_OUTPUT_HANDLE, utf8Line);
}
void PrintError(const std::string& utf8Line) {
    WriteLine(STD_ERROR_HANDLE, utf8Line);
}
