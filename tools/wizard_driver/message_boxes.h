#pragma once
// Finds and answers the message boxes of one process, from inside it (a
// watcher thread, a test's UI loop) or from another process (the driver).
// Each box window is answered once: an answered box stays on screen until its
// modal loop takes the click, and a loop that looks again in the meantime must
// not take it for a second box. Texts are returned in code page 936.
#include <windows.h>

#include <set>
#include <string>
#include <vector>

// A dialog with the text static 0xFFFF that is not the wizard frame.
bool IsMessageBox(HWND window);

struct AnsweredBox {
    HWND Window = nullptr;
    HWND Owner = nullptr;
    std::string Caption;
    std::string Text;
};

class MessageBoxAnswerer {
  public:
    explicit MessageBoxAnswerer(DWORD processId = GetCurrentProcessId()) : processId_(processId) {}

    // Watches another process; forgets the boxes answered so far.
    void Watch(DWORD processId);

    // A visible box of the process not answered yet, or null.
    HWND FindNew() const;
    AnsweredBox Read(HWND box) const;
    // Posts a click on the box's button and remembers the box as answered.
    void Answer(HWND box, int buttonId);
    // Reads and answers every new box with the button; returns them in the
    // order they were found.
    std::vector<AnsweredBox> AnswerAll(int buttonId = IDOK);

  private:
    DWORD processId_;
    std::set<HWND> answered_;
};

// A window's text through WM_GETTEXT (works across processes), in code page 936.
std::string MessageBoxWindowText(HWND window);
