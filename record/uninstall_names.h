#pragma once
#include "uninstall/uninstaller_resource.h"

// Names shared by the installation, which writes the uninstaller and its
// record, and by the uninstaller, which reads them back.

// Written into the install folder, beside each other.
constexpr const char kUninstallerFileName[] = "MDPX-Uninstall.exe";
constexpr const char kUninstallRecordFileName[] = "MDPX-Uninstall.dat";
constexpr int kUninstallerResourceId = IDR_UNINSTALLER;

// Programs and Features: HKLM\<this>\<key>.
constexpr const char kUninstallKeyParent[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// The Start-menu folder the program links go to, and the uninstall link in it.
constexpr const char kStartMenuFolderName[] = "澜枢中介管理软件";
constexpr const char kUninstallLinkName[] = "卸载澜枢软件.lnk";
// Asks nothing and shows nothing; the exit code tells the outcome.
constexpr const char kSilentSwitch[] = "/S";
