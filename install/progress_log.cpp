#include "install/progress_log.h"

#include <commctrl.h>

#include "core/text_util.h"

namespace {

// Latched by the Installing page's first calls; never reset.
HWND ProgressRangeTarget = nullptr;
HWND ProgressPosTarget = nullptr;
HWND LogTarget = nullptr;
int LogLineCount = 0; // lines added so far, so the index the next one gets

} // namespace

void SetProgressRange(HWND bar, int steps) {
    if (ProgressRangeTarget == nullptr)
        ProgressRangeTarget = bar;
    // PBM_SETRANGE carries the maximum in 16 bits; past that the bar would
    // never fill, so the 32-bit message takes over.
    if (steps > 0xFFFF)
        SendMessageA(ProgressRangeTarget, PBM_SETRANGE32, 1, steps);
    else
        SendMessageA(ProgressRangeTarget, PBM_SETRANGE, 0, MAKELPARAM(1, steps));
    SendMessageA(ProgressRangeTarget, PBM_SETPOS, 0, 0);
}

LRESULT SetProgressPos(HWND bar, int position) {
    if (ProgressPosTarget == nullptr)
        ProgressPosTarget = bar;
    return SendMessageA(ProgressPosTarget, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void AppendLogLine(HWND list, const char* text, const char* prefix) {
    if (LogTarget == nullptr)
        LogTarget = list;
    if (text == nullptr)
        return;
    char line[260];
    FormatBounded(line, sizeof line, "%s%s", prefix != nullptr ? prefix : "", text);
    SendMessageA(LogTarget, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    int index = LogLineCount++;
    if (IsLineBelowView(LogTarget, index))
        SendMessageA(LogTarget, WM_VSCROLL, SB_LINEDOWN, 0);
}

int IsLineBelowView(HWND list, int index) {
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_PAGE | SIF_POS;
    GetScrollInfo(list, SB_VERT, &info);
    return index - info.nPos >= static_cast<int>(info.nPage) ? 1 : 0;
}
