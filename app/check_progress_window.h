#pragma once
// The small window start-up shows while it checks a large package, so a
// check that takes a while does not look like a program that never started.
#include <windows.h>

#include <cstdint>

// When the window appears: once the check has run ShowAfterMs and, at the
// rate seen over its first piece or more, needs at least MinRemainingMs more.
// Checks that end within about half a second never show it, so ordinary
// packages start without a flash.
struct CheckProgressPace {
    DWORD ShowAfterMs = 250;
    DWORD MinRemainingMs = 250;
    // Called after each update while the window is shown (tests look at it).
    void (*Observer)(HWND window) = nullptr;
};

struct CheckProgressWindow {
    CheckProgressPace Pace;
    const char* ConfigPath = nullptr; // the INI copy; its AppName is the title
    DWORD Started = 0;
    bool Tried = false; // the window is made at most once
    HWND Window = nullptr;
    HWND Bar = nullptr;
    HFONT Font = nullptr;
};

// Starts the clock; the window is made only when the pace calls for it.
void BeginCheckProgress(CheckProgressWindow* progress, const CheckProgressPace& pace,
                        const char* configPath);
// Shows the window when due, moves its bar and answers its messages.
void UpdateCheckProgress(CheckProgressWindow* progress, uint64_t done, uint64_t total);
void EndCheckProgress(CheckProgressWindow* progress);

// Text of the window and the ids of its text and bar (for the tests).
extern const char kCheckProgressText[];
enum : int { kCheckProgressTextId = 100, kCheckProgressBarId = 101 };
