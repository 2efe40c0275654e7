#pragma once
// Helpers of the post-install tests: a scratch current directory, message
// boxes answered from a watcher thread, the bound progress and log windows,
// and services removed through the service manager.
#include "tests/support/services.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Clears the inherit flag of this process's standard handles. Wine starts a
// console host for each console child, which inherits them and can outlive a
// child terminated early; ctest would then wait for its output pipe forever.
void KeepStandardHandlesFromChildren();

// Makes a fresh scratch folder the current directory for the scope.
class ScopedCurrentDir {
  public:
    explicit ScopedCurrentDir(const std::string& dir);
    ~ScopedCurrentDir();

  private:
    char previous_[MAX_PATH] = {};
};

// A folder nothing can be written to, standing in for a read-only medium or
// share: Wine as root writes read-only folders and files alike, but no one can
// create a file in the root of the Linux kernel's sysfs (Z:\sys\). "" when
// this machine has no such folder (the caller skips).
std::string UnwritableFolder();

// Sets the setup record's work folder for the scope.
class ScopedWorkDir {
  public:
    explicit ScopedWorkDir(const std::string& dir);
    ~ScopedWorkDir();

  private:
    char previous_[260] = {};
};

// Sets an environment variable for the scope (children inherit it).
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();

  private:
    std::string name_;
};

struct SeenBox {
    HWND Owner;
    std::string Caption;
    std::string Text;
};

// Answers every message box of this process with OK and records it.
class BoxWatcher {
  public:
    BoxWatcher();
    ~BoxWatcher();
    std::vector<SeenBox> Boxes();

  private:
    void Run();
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<SeenBox> boxes_;
    std::thread thread_;
};

// The windows the progress and log helpers latch; made and bound once per
// process on the calling thread, never destroyed.
struct BoundWindows {
    HWND Main;
    HWND Bar;
    HWND List;
};
const BoundWindows& TheBoundWindows();
int ProgressPosition();
std::vector<std::string> LogLines();

std::string ReadText(const std::string& path); // "" when missing
int CountLines(const std::string& text, const std::string& containing);
