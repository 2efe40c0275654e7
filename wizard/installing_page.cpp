#include "wizard/wizard_pages.h"

#include "install/setup_context.h"
#include "core/text_util.h"
#include "install/extraction_worker.h"
#include "resources/resource_ids.h"
#include "install/progress_log.h"

INT_PTR CALLBACK InstallingPageProc(HWND page, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG)
        return FALSE;
    SetupContext& context = g_SetupContext;
    HWND frame = context.MainWindow;
    int top = InnerPageTop(frame);
    SetHeaderTexts(frame, "正在安装", "");
    ApplyCaptionFont(GetDlgItem(frame, IDC_HEADER_TITLE), 14);
    PlacePage(page, top);

    HWND bar = GetDlgItem(page, IDC_PROGRESS);
    SetProgressPos(bar, 0);
    SetProgressRange(bar, 0);
    AppendLogLine(GetDlgItem(page, IDC_LOG_LIST), nullptr, "抽取：");
    context.LogList = GetDlgItem(page, IDC_LOG_LIST);
    context.StatusLine = GetDlgItem(page, IDC_STATUS_LINE);

    context.WorkerThread = CreateThread(nullptr, 0, ExtractionWorker, &context, 0, nullptr);
    if (!context.WorkerThread) {
        context.Failed = 1;
        CopyBounded(context.ErrorText, sizeof context.ErrorText, "无法启动安装线程。");
        // The frame is still creating this page; let it move on afterwards.
        PostMessageA(frame, WM_INSTALL_DONE, 0, 0);
    }
    return TRUE;
}
