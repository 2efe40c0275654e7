#include "wizard/wizard_pages.h"

#include "install/setup_context.h"
#include "resources/resource_ids.h"

INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        char text[260];
        ComposeNamed(text, sizeof text, "欢迎使用【", "】安装向导");
        SetDlgItemTextA(page, IDC_WELCOME_CAPTION, text);
        ComposeNamed(text, sizeof text, "此向导将引导你完成【", "】的安装进程");
        SetDlgItemTextA(page, IDC_WELCOME_INTRO, text);
        ApplyCaptionFont(GetDlgItem(page, IDC_WELCOME_CAPTION), 18);
        PlacePage(page, 0);
        EnableWindow(GetDlgItem(g_SetupContext.MainWindow, IDOK), TRUE);
        return TRUE;
    }
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    }
    return FALSE;
}
