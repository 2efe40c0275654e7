#pragma once
// The uninstaller carried in a setup program (BIN 131), taken out to be
// signed and put back: a signed release signs it with the same key as
// setup.exe, so its UAC prompt names the publisher too.
#include <string>

// Writes the carried uninstaller to outputExe.
int RunTakeUninstaller(const std::wstring& setupExe, const std::wstring& outputExe);

// Writes a copy of setupExe carrying uninstallerExe instead, with its header
// checksum set and its digest checked; a signature of setupExe is dropped
// (sign the result afterwards).
int RunPutUninstaller(const std::wstring& setupExe, const std::wstring& uninstallerExe,
                      const std::wstring& outputExe);
