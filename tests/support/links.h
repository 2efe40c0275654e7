#pragma once
// Reading back the shell links a test made, and the special folders they go in.
#include <windows.h>

#include <string>
#include <vector>

// A special folder's path (no trailing backslash), as the shell gives it.
std::string SpecialFolderPath(int csidl);

struct LinkContents {
    std::string path, workingDir, arguments;
};
// Loads a .lnk through the shell-link object; false when it cannot be read.
bool ReadLink(const std::string& linkPath, LinkContents* contents);

// Quick Launch does not exist in a fresh prefix and the program does not make
// it: made for the scope, removing only the levels it added.
class ScopedQuickLaunch {
  public:
    ScopedQuickLaunch();
    ~ScopedQuickLaunch();
    ScopedQuickLaunch(const ScopedQuickLaunch&) = delete;
    ScopedQuickLaunch& operator=(const ScopedQuickLaunch&) = delete;
    // With a trailing backslash.
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    std::vector<std::string> made_;
};
