#pragma once
// A setup program is often started from a downloads folder, where anyone may
// have left a DLL under a system library's name. System libraries load some
// DLLs on demand; those must come from the system folder only.

// Restricts the DLL search of this process to the system folder. Call it
// before anything else runs.
void RestrictDllSearchToSystemFolder();
