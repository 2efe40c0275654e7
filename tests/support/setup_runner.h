#pragma once
// Runs a built setup program as a user would meet it, answering whatever
// appears: a message box is read and confirmed, a wizard is closed.
#include <windows.h>

#include <string>
#include <vector>

struct SetupRunResult {
    int ExitCode = -1;                 // -1: did not start, -2: did not end in time
    std::vector<std::string> BoxTexts; // texts of the message boxes shown
    bool SawWizard = false;            // the wizard frame appeared
};

// tempDir becomes the program's TEMP and TMP.
SetupRunResult RunSetupProgram(const std::string& exe, const std::string& tempDir,
                               DWORD timeoutMs = 30000);

// Top-level windows of a process, visible or not.
std::vector<HWND> ProcessWindows(DWORD processId);
std::string WindowText(HWND window);
