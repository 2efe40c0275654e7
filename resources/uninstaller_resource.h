#pragma once
// The uninstaller program carried in setup.exe as resource BIN 131 (the
// package uses 101, 102 and 121); shared by the resource scripts and the code.
#define IDR_UNINSTALLER 131
