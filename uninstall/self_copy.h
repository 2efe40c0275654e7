#pragma once
// A running program cannot delete its own file. The uninstaller started from
// the install folder therefore copies itself to the temporary folder and
// lets the copy do the work: the copy reports its exit code back through a
// pipe, waits for the original to end, and then deletes the original's file
// and the install folder once empty. The copy and its folder are removed by
// the system at the next start.
#include <windows.h>

#include <string>

struct CopyArguments {
    bool IsCopy = false;       // started as the temporary copy
    std::string OriginalPath;  // the uninstaller in the install folder
    HANDLE Report = nullptr;   // pipe to the original, for the exit code
    HANDLE Original = nullptr; // the original's process, to wait for
};

// Reads "--from <path> --report <handle> --original <handle>" from the
// command line; anything else means the program is the original.
CopyArguments ReadCopyArguments(const char* commandLine);

// Starts the temporary copy with the same switches and returns its exit
// code; -1 when no copy could be started (the caller then works in place).
int RunFromTemporaryCopy(const std::string& selfPath, bool silent);

// In the copy: hands the exit code to the original and waits for it to end.
void ReportToOriginal(const CopyArguments& arguments, int exitCode);
// Deletes the uninstaller's file (retrying while the original still holds it)
// and then the install folder when it is empty. True when the file is gone.
bool DeleteOriginal(const std::string& originalPath, const std::string& installDir);
// Marks a file (or an empty folder) for deletion at the next start of the system.
void DeleteAtRestart(const std::string& path);
// The same for the temporary copy and the folder made for it.
void DeleteCopyAtRestart(const std::string& copyPath);
