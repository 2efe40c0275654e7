#include "wizard/wizard_pages.h"

#include "install/setup_context.h"
#include "core/text_util.h"
#include "resources/resource_ids.h"

static const char* Mark(int64_t value) {
    return value != 0 ? "√" : "×";
}

static void AddLine(HWND list, const char* label, int64_t value) {
    char line[260];
    FormatBounded(line, sizeof line, "%s%s", label, Mark(value));
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
}

INT_PTR CALLBACK ConfirmPageProc(HWND page, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG)
        return FALSE;
    const SetupContext& context = g_SetupContext;
    HWND frame = context.MainWindow;
    int top = InnerPageTop(frame);
    SetHeaderTexts(frame, "安装确认", "");
    ApplyCaptionFont(GetDlgItem(frame, IDC_HEADER_TITLE), 14);
    PlacePage(page, top);

    char name[260] = {};
    char version[260] = {};
    GetPrivateProfileStringA("INFO", "AppName", "", name, sizeof name, context.ConfigPath);
    GetPrivateProfileStringA("INFO", "AppVersion", "", version, sizeof version, context.ConfigPath);
    HWND list = GetDlgItem(page, IDC_LOG_LIST);
    char line[260];
    FormatBounded(line, sizeof line, "%s %s 安装前确认", name, version);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    AddLine(list, "服务器：", context.InstallServer);
    if (context.InstallServer)
        AddLine(list, "数据库：", context.DatabaseSelected);
    AddLine(list, "客户端：", context.InstallClient);
    FormatBounded(line, sizeof line, "安装目录：%s", context.InstallDir);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    AddLine(list, "创建桌面快捷方式：", context.Desktop);
    AddLine(list, "创建快速启动快捷方式：", context.QuickStart);
    AddLine(list, "创建开始菜单快捷方式：", context.StartMenu);
    AddLine(list, "注册程序到 Win 程序管理：", context.ProgramMg);
    return FALSE;
}
