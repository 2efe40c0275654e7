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
    bool IsCopy = false;       // "--from" was given
    std::wstring OriginalPath; // the uninstaller in the install folder
    HANDLE Report = nullptr;   // pipe to the original, for the exit code
    HANDLE Original = nullptr; // the original's process, to wait for
};

// Reads "--from <path> --report <handle> --original <handle>" from the
// command line; without "--from" the program is the original.
CopyArguments ReadCopyArguments(const wchar_t* commandLine);

// The handshake: true only when the copy was started by the uninstaller that
// "--from" names. The handles must have been inherited from the parent
// process (a command line typed by hand carries none): "--original" is a
// process handle, that process is this one's parent, and it runs the very
// file "--from" names, an uninstaller by its file name.
bool IsStartedByOriginal(const CopyArguments& arguments);

// Starts the temporary copy with the same switches and returns its exit
// code; -1 when no copy could be started (the caller then works in place).
int RunFromTemporaryCopy(const std::wstring& selfPath, bool silent);

// In the copy: hands the exit code to the original and waits for it to end.
void ReportToOriginal(const CopyArguments& arguments, int exitCode);
// Deletes the uninstaller's file (retrying while the original still holds it)
// and then the install folder when it is empty. True when the file is gone.
bool DeleteOriginal(const std::wstring& originalPath, const std::wstring& installDir);
// Marks a file (or an empty folder) for deletion at the next start of the system.
void DeleteAtRestart(const std::wstring& path);
// The same for the temporary copy and the folder made for it.
void DeleteCopyAtRestart(const std::wstring& copyPath);
