#include "uninstall/uninstall_ui.h"

#include "record/record_trust.h"

#include <commctrl.h>

namespace {

const char kWindowClass[] = "MdpxUninstallProgress";
const size_t kNamesShown = 12;
const int kIconId = 102;

std::string Caption(const std::string& product) {
    return "卸载 " + product;
}

LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE)
        return 0; // the work decides when the window goes
    return DefWindowProcA(window, message, wParam, lParam);
}

// Texts here are GBK; they are shown through the UTF-16 calls, so they read
// right whatever the system's code page.
int Box(const std::string& text, const std::string& caption, UINT flags) {
    return MessageBoxW(nullptr, WideFromGbk(text).c_str(), WideFromGbk(caption).c_str(), flags);
}

// The program is DPI-aware (its manifest says so): sizes laid out for 96 DPI
// grow with the screen's DPI, as its font does.
int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

HICON ProgramIcon(int widthMetric, int heightMetric) {
    return static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kIconId),
                                         IMAGE_ICON, GetSystemMetrics(widthMetric),
                                         GetSystemMetrics(heightMetric), LR_SHARED));
}

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void AddNames(std::string* text, const std::vector<KeptItem>& items) {
    for (size_t i = 0; i < items.size() && i < kNamesShown; ++i)
        *text += "\n    " + GbkFromWide(items[i].Name) + "（" + items[i].Reason + "）";
    if (items.size() > kNamesShown)
        *text += "\n    ……另有 " + std::to_string(items.size() - kNamesShown) + " 项";
}

} // namespace

bool AskToUninstall(const std::string& product, const std::string& version) {
    std::string text = "确实要从这台电脑上卸载 " + product + " " + version +
                       " 吗？\n\n将停止并删除它的数据库服务，删除安装的程序文件和快捷方式。"
                       "\n安装后被修改或新建的文件（例如数据库中的数据）会保留。";
    return Box(text, Caption(product),
               MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_SETFOREGROUND) == IDYES;
}

ProgressWindow::ProgressWindow(const std::string& title) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = ProgressProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = ProgramIcon(SM_CXICON, SM_CYICON);
    windowClass.hIconSm = ProgramIcon(SM_CXSMICON, SM_CYSMICON);
    windowClass.hCursor = LoadCursor(nullptr, IDC_WAIT);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExA(&windowClass);

    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        font_ = CreateFontIndirectA(&metrics.lfMessageFont);

    const int dpi = ScreenDpi();
    auto scaled = [dpi](int size) { return MulDiv(size, dpi, USER_DEFAULT_SCREEN_DPI); };
    const int width = scaled(420), height = scaled(130);
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    window_ =
        CreateWindowExA(WS_EX_DLGMODALFRAME, kWindowClass, "", WS_POPUP | WS_CAPTION | WS_VISIBLE,
                        x, y, width, height, nullptr, nullptr, instance, nullptr);
    if (window_ == nullptr)
        return;
    SetWindowTextW(window_, WideFromGbk(title).c_str());
    RECT client;
    GetClientRect(window_, &client);
    const int margin = scaled(16);
    int inner = client.right - 2 * margin;
    text_ = CreateWindowExW(0, L"STATIC", WideFromGbk("正在卸载……").c_str(),
                            WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_PATHELLIPSIS, margin,
                            margin, inner, scaled(20), window_, nullptr, instance, nullptr);
    bar_ = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, margin, scaled(46), inner,
                           scaled(18), window_, nullptr, instance, nullptr);
    if (font_ != nullptr && text_ != nullptr)
        SendMessageA(text_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    SendMessageA(bar_, PBM_SETRANGE32, 0, 1000);
    UpdateWindow(window_);
    PumpMessages();
}

ProgressWindow::~ProgressWindow() {
    if (window_ != nullptr)
        DestroyWindow(window_);
    PumpMessages();
    if (font_ != nullptr)
        DeleteObject(font_);
}

void ProgressWindow::Update(size_t done, size_t total, const std::wstring& item) {
    if (window_ == nullptr)
        return;
    // Redrawing after every file would cost more than the deleting.
    DWORD now = GetTickCount();
    if (done < total && now - lastPump_ < 30)
        return;
    lastPump_ = now;
    SendMessageA(bar_, PBM_SETPOS, total ? static_cast<WPARAM>(done * 1000 / total) : 0, 0);
    SetWindowTextW(text_, (WideFromGbk("正在删除：") + item).c_str());
    PumpMessages();
}

void ShowSummary(const std::string& product, const std::string& version,
                 const std::string& installDir, const UninstallOutcome& outcome,
                 const std::vector<std::wstring>& newFiles) {
    std::string text;
    if (outcome.Failed.empty())
        text = product + " " + version + " 已卸载。";
    else
        text = product + " " + version + " 未能完全卸载。";
    text += "\n\n已删除：" + std::to_string(outcome.FilesRemoved) + " 个文件，" +
            std::to_string(outcome.FoldersRemoved) + " 个文件夹，" +
            std::to_string(outcome.ServicesRemoved) + " 个数据库服务，" +
            std::to_string(outcome.LinksRemoved) + " 个快捷方式";
    text += outcome.EntryRemoved ? "，以及 Win 程序管理中的登记。" : "。";
    std::vector<KeptItem> kept = outcome.Kept;
    for (const std::wstring& file : newFiles)
        kept.push_back({file, "安装后新建"});
    if (!kept.empty()) {
        text += "\n\n以下内容已保留：";
        AddNames(&text, kept);
        text += "\n\n保留的文件在 " + installDir + " 中，如不再需要，可自行删除。";
    }
    if (!outcome.Failed.empty()) {
        text += "\n\n以下内容未能删除：";
        AddNames(&text, outcome.Failed);
        text += "\n\n请关闭正在使用它们的程序，然后再次运行卸载程序。";
    }
    Box(text, Caption(product),
        MB_OK | MB_SETFOREGROUND | (outcome.Failed.empty() ? MB_ICONINFORMATION : MB_ICONWARNING));
}

void ShowNothingLeft(const std::string& installDir) {
    std::string text = "此前的卸载已经完成，" + installDir +
                       " 中没有需要删除的安装内容。\n\n现在只删除卸载程序本身。";
    Box(text, "卸载", MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
}

void ShowRecordError(const std::string& recordPath, const std::string& why) {
    std::string text = "无法读取卸载信息文件：\n" + recordPath + "\n\n" + why +
                       "\n\n卸载没有进行，没有删除任何内容。";
    Box(text, "卸载", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void ShowRefusedStart() {
    Box("这个卸载程序的副本不是由安装目录中的卸载程序启动的，卸载没有进行。\n\n"
        "请从 Win 程序管理或安装目录中运行卸载程序。",
        "卸载", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}
