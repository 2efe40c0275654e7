#include "wizard/wizard_pages.h"

#include "install/setup_context.h"
#include "resources/resource_ids.h"

namespace {
struct OptionBinding {
    int Control;
    int32_t SetupContext::*Field;
};
const OptionBinding kOptions[] = {
    {IDC_DESKTOP_BOX, &SetupContext::Desktop},
    {IDC_QUICKSTART_BOX, &SetupContext::QuickStart},
    {IDC_STARTMENU_BOX, &SetupContext::StartMenu},
    {IDC_PROGRAMMG_BOX, &SetupContext::ProgramMg},
};
} // namespace

INT_PTR CALLBACK OptionsPageProc(HWND page, UINT message, WPARAM, LPARAM) {
    SetupContext& context = g_SetupContext;
    switch (message) {
    case WM_INITDIALOG: {
        HWND frame = context.MainWindow;
        SetHeaderTexts(frame, "附加选项", "创建程序快速启动方式。");
        ApplyCaptionFont(GetDlgItem(frame, IDC_HEADER_TITLE), 14);
        for (const OptionBinding& option : kOptions)
            CheckDlgButton(page, option.Control,
                           context.*option.Field != 0 ? BST_CHECKED : BST_UNCHECKED);
        PlacePage(page, InnerPageTop(frame));
        return TRUE;
    }
    case WM_DESTROY:
        // The only moment this page writes the record: the frame destroys it
        // before the next page reads the choices.
        for (const OptionBinding& option : kOptions)
            context.*option.Field = IsDlgButtonChecked(page, option.Control) == BST_CHECKED;
        return FALSE;
    }
    return FALSE;
}
