#pragma once
// Progress bar and log list of the Installing page. Each helper latches the
// window of its first call; later calls (the worker passes null) act on it.
#include <windows.h>

void SetProgressRange(HWND bar, int steps);
LRESULT SetProgressPos(HWND bar, int position);
void AppendLogLine(HWND list, const char* text, const char* prefix);
// 1 when the line at index lies below the list's visible page.
int IsLineBelowView(HWND list, int index);
