#include "app/frame_failure.h"

#include "core/text_util.h"

#include <cstring>

void FormatFrameFailureText(char* buf, size_t capacity, DWORD error) {
    char system[260] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, system, sizeof system, nullptr);
    if (length >= sizeof system)
        length = 0;
    system[length] = '\0';
    // The system's texts end in a line break of their own.
    while (length > 0 &&
           (system[length - 1] == '\r' || system[length - 1] == '\n' || system[length - 1] == ' '))
        system[--length] = '\0';
    FormatBounded(buf, capacity, "安装程序无法打开它的窗口。\n\n%s（错误 %lu）", system,
                  static_cast<unsigned long>(error));
}

void ReportFrameFailure(DWORD error) {
    char text[260];
    FormatFrameFailureText(text, sizeof text, error);
    MessageBoxA(nullptr, text, "", MB_OK | MB_ICONERROR);
}
