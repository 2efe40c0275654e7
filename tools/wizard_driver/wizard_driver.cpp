#include "wizard_driver.h"

#include "resources/resource_ids.h"

#include <cstring>

namespace {
const UINT kGbk = 936;

bool IsDialogClass(HWND window) {
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    return strcmp(name, "#32770") == 0;
}

struct FrameSearch {
    DWORD ProcessId;
    HWND Found;
};

BOOL CALLBACK FindFrame(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<FrameSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->ProcessId || !IsWindowVisible(window) || !IsDialogClass(window))
        return TRUE;
    if (GetDlgItem(window, IDC_HEADER_BAND) == nullptr)
        return TRUE;
    search->Found = window;
    return FALSE;
}
} // namespace

std::string ToGbk(const std::wstring& text) {
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(kGbk, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(kGbk, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr,
                        nullptr);
    return out;
}

std::wstring FromGbk(const std::string& text) {
    if (text.empty())
        return std::wstring();
    int size = MultiByteToWideChar(kGbk, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(kGbk, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

WizardDriver::~WizardDriver() {
    Release();
}

void WizardDriver::Release() {
    if (process_.hProcess) {
        if (!HasExited()) {
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, 5000);
        }
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
    process_ = {};
    frame_ = nullptr;
    boxes_.Watch(0);
}

bool WizardDriver::Start(const std::string& exePath, const std::string& workingDir) {
    Release();
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string line = "\"" + exePath + "\"";
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &process_)) {
        process_ = {};
        return false;
    }
    boxes_.Watch(process_.dwProcessId);
    WaitForInputIdle(process_.hProcess, 10000);
    return true;
}

bool WizardDriver::WaitUntil(const std::function<bool()>& ready, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (ready())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
}

HWND WizardDriver::WaitForFrame(DWORD timeoutMs) {
    WaitUntil(
        [&] {
            FrameSearch search{process_.dwProcessId, nullptr};
            EnumWindows(FindFrame, reinterpret_cast<LPARAM>(&search));
            frame_ = search.Found;
            return frame_ != nullptr || HasExited();
        },
        timeoutMs);
    return frame_;
}

HWND WizardDriver::FindMessageBox() {
    return process_.hProcess ? boxes_.FindNew() : nullptr;
}

HWND WizardDriver::WaitForMessageBox(DWORD timeoutMs) {
    HWND box = nullptr;
    WaitUntil(
        [&] {
            box = FindMessageBox();
            return box != nullptr || HasExited();
        },
        timeoutMs);
    return box;
}

HWND WizardDriver::Page() {
    // The page is the frame's one child dialog.
    return frame_ ? FindWindowExA(frame_, nullptr, "#32770", nullptr) : nullptr;
}

int WizardDriver::PageIndex() {
    HWND page = Page();
    if (!page)
        return -1;
    // Each page is recognised by a control only it has.
    const int marks[] = {IDC_WELCOME_CAPTION, IDC_INSTALL_DIR, IDC_DESKTOP_BOX,
                         IDC_LOG_LIST,        IDC_PROGRESS,    IDC_FINISH_TEXT};
    if (GetDlgItem(page, IDC_PROGRESS))
        return 4;
    for (int index = 0; index < 6; ++index) {
        if (GetDlgItem(page, marks[index]))
            return index;
    }
    return -1;
}

bool WizardDriver::WaitForPage(int index, DWORD timeoutMs) {
    return WaitUntil([&] { return PageIndex() == index && IsWindowVisible(Page()); }, timeoutMs);
}

std::string WizardDriver::Text(HWND window) {
    if (!window)
        return std::string();
    wchar_t buffer[1024] = {};
    // Sent, not GetWindowText: that reads another process's controls from a
    // cache that edit controls do not keep.
    SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
    return ToGbk(buffer);
}

std::vector<std::string> WizardDriver::ListLines(HWND list) {
    std::vector<std::string> lines;
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendMessageW(list, LB_GETTEXTLEN, i, 0);
        if (length < 0 || length > 4096)
            length = 4096;
        // Wine returns cross-process LB_GETTEXT in UTF-16 whatever the A/W
        // flavour, so ask for the wide text and convert.
        std::wstring line(static_cast<size_t>(length) + 1, L'\0');
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&line[0]));
        line.resize(wcslen(line.c_str()));
        lines.push_back(ToGbk(line));
    }
    return lines;
}

bool WizardDriver::IsVisible(HWND parent, int id) {
    HWND control = GetDlgItem(parent, id);
    return control && (GetWindowLongPtrA(control, GWL_STYLE) & WS_VISIBLE);
}

bool WizardDriver::IsEnabled(HWND parent, int id) {
    HWND control = GetDlgItem(parent, id);
    return control && IsWindowEnabled(control);
}

bool WizardDriver::IsChecked(int pageControl) {
    return SendMessageW(GetDlgItem(Page(), pageControl), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void WizardDriver::ClickFrameButton(int id) {
    PostMessageA(GetDlgItem(frame_, id), BM_CLICK, 0, 0);
}

void WizardDriver::ClickPageControl(int id) {
    SendMessageA(GetDlgItem(Page(), id), BM_CLICK, 0, 0);
}

void WizardDriver::AnswerMessageBox(HWND box, int buttonId) {
    boxes_.Answer(box, buttonId);
}

bool WizardDriver::HasExited() {
    return !process_.hProcess || WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0;
}

int WizardDriver::WaitForExit(DWORD timeoutMs) {
    if (!process_.hProcess || WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return -2;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<int>(code);
}

namespace {
struct CaptionSearch {
    const std::wstring* Prefix;
    const std::vector<HWND>* Skip;
    HWND Found;
};

BOOL CALLBACK FindByCaption(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<CaptionSearch*>(parameter);
    if (!IsWindowVisible(window) || !IsDialogClass(window) || !GetDlgItem(window, 0xFFFF))
        return TRUE;
    for (HWND skipped : *search->Skip)
        if (skipped == window)
            return TRUE;
    wchar_t caption[256] = {};
    SendMessageW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(caption));
    if (std::wstring(caption).compare(0, search->Prefix->size(), *search->Prefix) != 0)
        return TRUE;
    search->Found = window;
    return FALSE;
}
} // namespace

HWND FindMessageBoxByCaption(const std::wstring& captionPrefix, const std::vector<HWND>& skip) {
    CaptionSearch search{&captionPrefix, &skip, nullptr};
    EnumWindows(FindByCaption, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}
