#pragma once
// What the uninstaller shows when it is not silent: the question, a small
// progress window, the final summary and the refusal of an unreadable record.
#include "uninstall/uninstall_run.h"

#include <windows.h>

#include <string>
#include <vector>

bool AskToUninstall(const std::string& product, const std::string& version);

class ProgressWindow {
  public:
    explicit ProgressWindow(const std::string& title);
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;
    void Update(size_t done, size_t total, const std::wstring& item);

  private:
    HWND window_ = nullptr;
    HWND text_ = nullptr;
    HWND bar_ = nullptr;
    HFONT font_ = nullptr;
    DWORD lastPump_ = 0;
};

// Texts are GBK. newFiles: files found in the install folder that the record
// does not hold.
void ShowSummary(const std::string& product, const std::string& version,
                 const std::string& installDir, const UninstallOutcome& outcome,
                 const std::vector<std::wstring>& newFiles);
// The record is gone: an earlier run removed everything but this program.
void ShowNothingLeft(const std::string& installDir);
void ShowRecordError(const std::string& recordPath, const std::string& why);
// A "--from" start that the handshake did not confirm.
void ShowRefusedStart();
