#include "wizard/wizard_pages.h"

#include "install/setup_context.h"
#include "core/text_util.h"
#include "resources/resource_ids.h"

// Initialisations of the Location page in a package with a server group; the
// data-server question is asked on the first only.
static int LocationInitCount = 0;

static void ShowAvailableSpace(HWND page) {
    char root[4];
    CopyBounded(root, sizeof root, g_SetupContext.InstallDir);
    ULARGE_INTEGER available = {};
    // A failed query (a path that is no drive root) shows 0G.
    if (!GetDiskFreeSpaceExA(root, &available, nullptr, nullptr))
        available.QuadPart = 0;
    char text[260];
    FormatAvailableSpace(text, sizeof text, available.QuadPart);
    SetDlgItemTextA(page, IDC_AVAILABLE_SPACE, text);
}

static void ShowRequiredSpace(HWND page, uint32_t bytes) {
    char text[260];
    FormatRequiredSpace(text, sizeof text, bytes);
    SetDlgItemTextA(page, IDC_REQUIRED_SPACE, text);
}

static void UpdateNextButton() {
    const SetupContext& context = g_SetupContext;
    EnableWindow(GetDlgItem(context.MainWindow, IDOK),
                 context.InstallServer || context.InstallClient);
}

static void InitLocation(HWND page) {
    SetupContext& context = g_SetupContext;
    HWND frame = context.MainWindow;
    int top = InnerPageTop(frame);
    char text[260];
    ComposeNamed(text, sizeof text, "安装程序将把",
                 "安装到下列文件夹。要安装到不同的文件夹，请点击【浏览】并先把其他文件夹。"
                 "点击【下一步】继续设置其他选项。");
    SetDlgItemTextA(page, IDC_LOCATION_TEXT, text);
    bool hasServer = context.Header.ServerBytes != 0;
    if (!hasServer) {
        ShowWindow(GetDlgItem(page, IDC_SERVER_BOX), SW_HIDE);
        CheckDlgButton(page, IDC_CLIENT_BOX, BST_CHECKED);
    }
    ComposeNamed(text, sizeof text, "选择【", "】的安装文件夹。");
    SetHeaderTexts(frame, "请选择安装位置", text);
    ApplyCaptionFont(GetDlgItem(frame, IDC_HEADER_TITLE), 14);
    ApplyTagFolder(context.InstallDir, sizeof context.InstallDir, context.TagFolder);
    SetDlgItemTextA(page, IDC_INSTALL_DIR, context.InstallDir);
    PlacePage(page, top);

    SendDlgItemMessageA(page, IDC_SERVER_BOX, BM_SETCHECK, context.InstallServer, 0);
    SendDlgItemMessageA(page, IDC_CLIENT_BOX, BM_SETCHECK, context.InstallClient, 0);
    context.InstallClient = 1;
    CheckDlgButton(page, IDC_CLIENT_BOX, BST_CHECKED);
    UpdateNextButton();
    ShowAvailableSpace(page);

    if (hasServer) {
        if (LocationInitCount++ == 0) {
            int answer = MessageBoxA(frame,
                                     "公司共享版，必须且只能指定一台电脑做数据服务器．\n"
                                     "是否选择这台电脑做为数据服务器",
                                     "安装提示", MB_YESNO | MB_ICONQUESTION);
            if (answer == IDYES) {
                context.InstallServer = 1;
                CheckDlgButton(page, IDC_SERVER_BOX, BST_CHECKED);
            }
        }
    } else {
        EnableWindow(GetDlgItem(page, IDC_CLIENT_BOX), FALSE);
    }
    ShowRequiredSpace(page,
                      RequiredBytes(context.Header, context.InstallServer, context.InstallClient));
    context.DatabaseSelected = 1;
}

static void OnSideBoxClicked(HWND page) {
    SetupContext& context = g_SetupContext;
    context.InstallServer = IsDlgButtonChecked(page, IDC_SERVER_BOX) == BST_CHECKED;
    context.InstallClient = IsDlgButtonChecked(page, IDC_CLIENT_BOX) == BST_CHECKED;
    ShowRequiredSpace(page,
                      RequiredBytes(context.Header, context.InstallServer, context.InstallClient));
    // Installing no side at all is never what the user wants.
    UpdateNextButton();
}

static void OnBrowse(HWND page) {
    SetupContext& context = g_SetupContext;
    char chosen[260];
    if (BrowseForFolder(page, chosen, sizeof chosen) <= 0)
        return;
    CopyBounded(context.InstallDir, sizeof context.InstallDir, chosen);
    ApplyTagFolder(context.InstallDir, sizeof context.InstallDir, context.TagFolder);
    SetDlgItemTextA(page, IDC_INSTALL_DIR, context.InstallDir);
    ShowAvailableSpace(page);
}

INT_PTR CALLBACK LocationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        InitLocation(page);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_SERVER_BOX:
        case IDC_CLIENT_BOX:
            OnSideBoxClicked(page);
            break;
        case IDC_BROWSE:
            OnBrowse(page);
            break;
        }
        return FALSE;
    }
    return FALSE;
}
