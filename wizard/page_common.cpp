#include "wizard/wizard_pages.h"

#include "install/setup_context.h"
#include "core/text_util.h"
#include "resources/resource_ids.h"

#include <shlobj.h>

HFONT MakeTitleFont(int height) {
    LOGFONTA font = {};
    font.lfHeight = height;
    font.lfWeight = FW_BOLD;
    font.lfOutPrecision = OUT_STROKE_PRECIS;
    font.lfClipPrecision = CLIP_STROKE_PRECIS;
    font.lfQuality = DRAFT_QUALITY;
    font.lfPitchAndFamily = VARIABLE_PITCH;
    CopyBounded(font.lfFaceName, sizeof font.lfFaceName, "Tahoma");
    return CreateFontIndirectA(&font);
}

int BrowseForFolder(HWND owner, char* buffer, int size) {
    if (size <= 0)
        return 0;
    ZeroMemory(buffer, size);
    // SHGetPathFromIDListA writes up to MAX_PATH bytes whatever the buffer.
    char path[MAX_PATH] = {};
    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    info.pszDisplayName = path;
    info.lpszTitle = "请选择目录";
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    path[0] = '\0';
    if (chosen) {
        if (!SHGetPathFromIDListA(chosen, path))
            path[0] = '\0';
        CoTaskMemFree(chosen);
    }
    CopyBounded(buffer, size, path);
    if (buffer[0] != '\0' && !EndsWithBackslashByte(buffer))
        AppendBounded(buffer, size, "\\");
    return static_cast<int>(lstrlenA(buffer));
}

int InnerPageTop(HWND frame) {
    RECT rect = {};
    GetWindowRect(GetDlgItem(frame, IDC_HEADER_SEPARATOR), &rect);
    POINT corner = {rect.right, rect.bottom};
    ScreenToClient(frame, &corner);
    return corner.y;
}

void PlacePage(HWND page, int y) {
    SetWindowPos(page, nullptr, 0, y, 0, 0, SWP_SHOWWINDOW | SWP_NOZORDER | SWP_NOSIZE);
}

void SetHeaderTexts(HWND frame, const char* title, const char* subtitle) {
    SetDlgItemTextA(frame, IDC_HEADER_TITLE, title);
    SetDlgItemTextA(frame, IDC_HEADER_SUBTITLE, subtitle);
}

void ApplyCaptionFont(HWND control, int height) {
    SetupContext& context = g_SetupContext;
    if (context.CaptionFont)
        DeleteObject(context.CaptionFont);
    context.CaptionFont = MakeTitleFont(height);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(context.CaptionFont), TRUE);
}

void ComposeNamed(char* buf, size_t capacity, const char* first, const char* last) {
    const SetupContext& context = g_SetupContext;
    FormatBounded(buf, capacity, "%s %s%s %s", first, context.AppName, context.AppVersion, last);
}
