#pragma once
// Runs a setup program and drives its wizard from another process, through
// window messages only. Texts are returned in code page 936.
#include "message_boxes.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class WizardDriver {
  public:
    WizardDriver() = default;
    WizardDriver(const WizardDriver&) = delete;
    WizardDriver& operator=(const WizardDriver&) = delete;
    // Ends a program that is still running.
    ~WizardDriver();

    // Starts the program; a driver already running one ends it first.
    bool Start(const std::string& exePath, const std::string& workingDir);
    DWORD ProcessId() const { return process_.dwProcessId; }

    // The wizard frame, once it has been shown (null on time-out).
    HWND WaitForFrame(DWORD timeoutMs = 15000);
    HWND Frame() const { return frame_; }
    // A message box of the program (a dialog with the text static 0xFFFF)
    // that has not been answered yet: an answered box can stay on screen a
    // moment longer, and must not be taken for a second one.
    HWND WaitForMessageBox(DWORD timeoutMs = 10000);
    HWND FindMessageBox();

    // The page shown: 0..5, or -1 when none is recognised.
    int PageIndex();
    HWND Page();
    bool WaitForPage(int index, DWORD timeoutMs = 10000);

    std::string Text(HWND window);
    std::string ItemText(HWND parent, int id) { return Text(GetDlgItem(parent, id)); }
    std::string PageText(int id) { return ItemText(Page(), id); }
    std::string FrameText(int id) { return ItemText(frame_, id); }
    std::vector<std::string> ListLines(HWND list);

    bool IsVisible(HWND parent, int id);
    bool IsEnabled(HWND parent, int id);
    bool IsChecked(int pageControl);

    // Clicks a frame button by posting, since some open a modal box.
    void ClickFrameButton(int id);
    // Clicks a page control (a check box) and waits until it is handled.
    void ClickPageControl(int id);
    void AnswerMessageBox(HWND box, int buttonId);

    // Polls until ready() holds; false on time-out.
    static bool WaitUntil(const std::function<bool()>& ready, DWORD timeoutMs);

    // Exit code, or -2 when the program is still running after the time-out.
    int WaitForExit(DWORD timeoutMs = 10000);
    bool HasExited();

  private:
    // Ends a program still running and forgets it.
    void Release();

    PROCESS_INFORMATION process_ = {};
    HWND frame_ = nullptr;
    MessageBoxAnswerer boxes_{0};
};

// Wide text to code page 936, and back.
std::string ToGbk(const std::wstring& text);
std::wstring FromGbk(const std::string& text);

// A visible message box of any process whose caption begins with
// captionPrefix and that is not in skip (programs that work from a copy of
// themselves show their boxes from another process).
HWND FindMessageBoxByCaption(const std::wstring& captionPrefix, const std::vector<HWND>& skip);
