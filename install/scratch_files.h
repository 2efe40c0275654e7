#pragma once
// Where the installer's scratch files go: "run.tmp" (captured command output)
// and "errlog.log" (child process incidents). Their place is the current
// folder; a setup program started from a read-only medium or share cannot
// write there, which would lose the captured output and report a service
// that did install as failed. Such a run uses the work folder instead.
#include <cstddef>

// True when a new file can be made in folder (ending in a backslash; ""
// stands for the current folder). The probe file is removed again.
bool FolderAcceptsNewFiles(const char* folder);

// The path of the scratch file name: the bare name (the current folder) when
// that folder accepts new files, else fallbackFolder + name. False when the
// result does not fit.
bool ScratchFilePath(char* out, size_t capacity, const char* name, const char* fallbackFolder);
