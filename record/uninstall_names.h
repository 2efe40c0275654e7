#pragma once
#include "resources/uninstaller_resource.h"

// Names shared by the installation, which writes the uninstaller and its
// record, and by the uninstaller, which reads them back.

// Written into the install folder, beside each other.
constexpr const char kUninstallerFileName[] = "MDPX-Uninstall.exe";
constexpr const char kUninstallRecordFileName[] = "MDPX-Uninstall.dat";
constexpr int kUninstallerResourceId = IDR_UNINSTALLER;

// Programs and Features: HKLM\<this>\<key>.
constexpr const char kUninstallKeyParent[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// Asks nothing and shows nothing; the exit code tells the outcome.
constexpr const char kSilentSwitch[] = "/S";
