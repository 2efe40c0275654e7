#include "app/check_progress_window.h"

#include <commctrl.h>

const char kCheckProgressText[] = "正在检查安装包，请稍候…";

static const char kWindowClass[] = "MdpxCheckProgress";
// The rate is judged only after this much was read, so one slow first piece
// on a busy machine does not make a small package look large.
static const uint64_t kBytesBeforeEstimate = 1u << 20;
static const int kBarRange = 1000;

static LRESULT CALLBACK CheckProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The check cannot be stopped halfway; closing waits for its end.
    if (message == WM_CLOSE)
        return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

static bool IsDue(const CheckProgressWindow& progress, uint64_t done, uint64_t total) {
    DWORD elapsed = GetTickCount() - progress.Started;
    if (elapsed < progress.Pace.ShowAfterMs || done >= total || done < kBytesBeforeEstimate)
        return false;
    double remainingMs = static_cast<double>(elapsed) * static_cast<double>(total - done) /
                         static_cast<double>(done);
    return remainingMs >= progress.Pace.MinRemainingMs;
}

static void Create(CheckProgressWindow* progress) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = CheckProgressProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_WAIT);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExA(&windowClass); // fails harmlessly when already registered

    char title[260] = {};
    if (progress->ConfigPath)
        GetPrivateProfileStringA("INFO", "AppName", "", title, sizeof title, progress->ConfigPath);
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        progress->Font = CreateFontIndirectA(&metrics.lfMessageFont);

    RECT client = {0, 0, 360, 84};
    DWORD style = WS_POPUP | WS_CAPTION | WS_BORDER;
    AdjustWindowRectEx(&client, style, FALSE, WS_EX_APPWINDOW);
    int width = client.right - client.left, height = client.bottom - client.top;
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    progress->Window = CreateWindowExA(WS_EX_APPWINDOW, kWindowClass, title, style,
                                       area.left + (area.right - area.left - width) / 2,
                                       area.top + (area.bottom - area.top - height) / 2, width,
                                       height, nullptr, nullptr, instance, nullptr);
    if (progress->Window == nullptr)
        return; // the check goes on without a window
    HWND text = CreateWindowExA(0, "STATIC", kCheckProgressText, WS_CHILD | WS_VISIBLE | SS_LEFT,
                                16, 16, 328, 20, progress->Window,
                                reinterpret_cast<HMENU>(kCheckProgressTextId), instance, nullptr);
    progress->Bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 16, 46, 328, 18,
                                    progress->Window, reinterpret_cast<HMENU>(kCheckProgressBarId),
                                    instance, nullptr);
    if (progress->Font && text)
        SendMessageA(text, WM_SETFONT, reinterpret_cast<WPARAM>(progress->Font), FALSE);
    if (progress->Bar)
        SendMessageA(progress->Bar, PBM_SETRANGE32, 0, kBarRange);
    ShowWindow(progress->Window, SW_SHOWNORMAL);
    SetForegroundWindow(progress->Window);
}

void BeginCheckProgress(CheckProgressWindow* progress, const CheckProgressPace& pace,
                        const char* configPath) {
    progress->Pace = pace;
    progress->ConfigPath = configPath;
    progress->Started = GetTickCount();
}

void UpdateCheckProgress(CheckProgressWindow* progress, uint64_t done, uint64_t total) {
    if (progress->Window == nullptr) {
        if (progress->Tried || !IsDue(*progress, done, total))
            return;
        progress->Tried = true;
        Create(progress);
        if (progress->Window == nullptr)
            return;
    }
    if (progress->Bar && total > 0)
        SendMessageA(progress->Bar, PBM_SETPOS, static_cast<WPARAM>(done * kBarRange / total), 0);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (progress->Pace.Observer)
        progress->Pace.Observer(progress->Window);
}

void EndCheckProgress(CheckProgressWindow* progress) {
    if (progress->Window)
        DestroyWindow(progress->Window);
    if (progress->Font)
        DeleteObject(progress->Font);
    progress->Window = nullptr;
    progress->Bar = nullptr;
    progress->Font = nullptr;
}
