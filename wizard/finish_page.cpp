#include "wizard/wizard_pages.h"

#include "install/setup_context.h"
#include "core/text_util.h"
#include "resources/resource_ids.h"

void FormatFinishText(char* buf, size_t capacity, uint32_t failed, const char* errorText) {
    const char suffix[] = "\r\n\r\n单击 [完成(F)] 关闭此向导。";
    if (!failed) {
        FormatBounded(buf, capacity, "澜枢软件已安装完成。%s", suffix);
        return;
    }
    // A long failure text is cut, at a character boundary, so that the
    // closing hint always shows.
    size_t room = capacity > sizeof suffix ? capacity - (sizeof suffix - 1) : 1;
    CopyBounded(buf, room, errorText);
    AppendBounded(buf, capacity, suffix);
}

INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG)
        return FALSE;
    const SetupContext& context = g_SetupContext;
    HWND frame = context.MainWindow;
    PlacePage(page, 0);
    ShowWindow(GetDlgItem(frame, IDOK), SW_HIDE);
    ShowWindow(GetDlgItem(frame, IDC_BACK), SW_HIDE);
    SetDlgItemTextA(frame, IDCANCEL, "完成(&F)");
    ApplyCaptionFont(GetDlgItem(page, IDC_FINISH_TEXT), 14);

    char text[260];
    FormatFinishText(text, sizeof text, context.Failed, context.ErrorText);
    SetDlgItemTextA(page, IDC_FINISH_TEXT, text);
    return TRUE;
}
