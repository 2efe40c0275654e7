#pragma once
// The install folder's protection and the owner check of programs that were
// in place before the run, on the worker thread. What is decided lives in
// folder_trust (plain data); the few Windows calls go through
// FolderSecurityCalls.
#include "install/setup_context.h"

#include <windows.h>

#include <cstddef>

// The Windows-only calls. The shipped program always uses the system's
// (SystemFolderSecurityCalls). Test seam: test programs linked with this code
// replace them in-process with ReplaceFolderSecurityCalls, because Wine keeps
// no security descriptors (it reports the current user as every file's
// owner). Nothing reaches them from outside the process: no environment
// variable, registry value or file is read for them.
struct FolderSecurityCalls {
    // Whether the volume holding folder keeps permissions (FILE_PERSISTENT_ACLS).
    bool (*VolumeKeepsPermissions)(const char* folder);
    // Makes folder (its ancestors with default security) with the descriptor,
    // or gives an existing one the descriptor and resets everything below it
    // to inherit it (folders below also get its owner; files keep theirs).
    // ERROR_SUCCESS or the first error.
    DWORD (*ProtectFolder)(const char* folder, const char* sddl);
    // The owner of path as a SID string.
    DWORD (*ReadOwner)(const char* path, char* sid, size_t size);
    // The account running the installer as a SID string.
    DWORD (*ReadInstallingAccount)(char* sid, size_t size);
};
const FolderSecurityCalls& SystemFolderSecurityCalls();
// Null restores the system's calls. Only for the in-process test harness.
void ReplaceFolderSecurityCalls(const FolderSecurityCalls* calls);

// At the worker's start, before any folder or file is made: notes which of the
// programs the installer may start (mysqld.exe, the server and client
// programs) are already in place, then protects the install folder. A folder
// that cannot be protected gets one log line and the install goes on.
void SecureInstallFolder(const SetupContext& context);

// Before the installer starts path or registers it as a service's program.
// False only for a program noted as in place before this run, on a volume that
// keeps permissions, whose owner is not trusted (folder_trust) or cannot be
// read; the refusal adds one log line naming the file and why.
bool MayStartProgram(const char* path);
