#pragma once
// Runs the extraction worker headless, exactly as the Installing page does:
// a hidden frame owned by this (UI) thread with a progress bar, a log list and
// a status line; the helpers are bound to them before the worker thread starts.
#include "install/setup_context.h"
#include "tests/support/test_support.h"
#include "tools/wizard_driver/message_boxes.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class WorkerHarness {
  public:
    WorkerHarness();
    ~WorkerHarness();

    // Builds a setup program from the package, loads it as the package
    // module and fills g_SetupContext for an install into installDir.
    void Prepare(const TestPackage& package, const std::string& installDir,
                 const std::vector<uint8_t>* indexOverride = nullptr,
                 const std::vector<uint8_t>* payloadOverride = nullptr);

    // The same for a setup program already built (benchmarks); false when it
    // cannot be loaded.
    bool PrepareFromExe(const std::string& exe, const std::string& installDir,
                        const std::string& workDir);

    // Starts the worker and pumps messages until WM_INSTALL_DONE arrived and
    // the thread ended (or timeoutMs passed: returns false).
    bool Run(DWORD timeoutMs = 120000);
    // Starts the worker only; Pump() then drives the UI thread.
    HANDLE Start();
    bool WaitDone(DWORD timeoutMs);

    // Called on the UI thread with every status text the worker sets.
    std::function<void(const std::string&)> OnStatus;

    DWORD ExitCode = STILL_ACTIVE;
    int DoneMessages = 0;
    std::vector<std::string> StatusTexts;
    // Message boxes the worker showed (text, caption); each was answered OK.
    std::vector<std::pair<std::string, std::string>> Boxes;
    std::vector<std::string> LogLines() const;
    int ProgressPosition() const;
    int ProgressMaximum() const;
    std::string WorkDir;

    HWND Frame = nullptr, Bar = nullptr, List = nullptr, StatusLine = nullptr;
    HANDLE Thread = nullptr;

  private:
    HMODULE module_ = nullptr;
    void AnswerBoxes();
    MessageBoxAnswerer boxes_;
    void FillContext(const void* index, size_t indexSize, const std::string& installDir);
    std::string exe_;
    static LRESULT CALLBACK FrameProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK StatusProc(HWND, UINT, WPARAM, LPARAM);
    WNDPROC staticProc_ = nullptr;
};

// The three times of a file on disk, as the package stores them.
PackageFileTimes FileTimesOf(const std::string& path);
bool SameTimes(const PackageFileTimes& a, const PackageFileTimes& b);
