#pragma once
// Where the installation's links lie, worked out the same way on both sides:
// the installation records a place and a name, the uninstaller rebuilds the
// path from them (so a record can never name a file elsewhere).
#include "record/uninstall_record.h"

#include <string>

// The Start-menu folder every link of the product goes to (the other places
// take links directly), and the links themselves.
constexpr const char kStartMenuFolderName[] = "澜枢中介管理软件";
constexpr const char kServerLinkName[] = "澜枢软件服务器.lnk";
constexpr const char kClientLinkName[] = "澜枢软件.lnk";
constexpr const char kUninstallLinkName[] = "卸载澜枢软件.lnk";
// Quick Launch lies below the roaming application data folder.
constexpr const char kQuickLaunchSubfolder[] = "Microsoft\\Internet Explorer\\Quick Launch\\";

// The shell's folder id (CSIDL) below which a place's links lie.
int LinkPlaceFolderId(LinkPlace place);

// The folder that receives links of a place, ending in a backslash; for the
// Start menu this is the product's own folder. Empty when the system folder
// cannot be resolved or the path would not fit MAX_PATH.
std::string LinkFolder(LinkPlace place);
// LinkFolder + name, or empty.
std::string LinkPath(LinkPlace place, const std::string& name);

// The same in UTF-16, with the system folders read as such: right whatever
// the system's code page.
std::wstring LinkFolderW(LinkPlace place);
std::wstring LinkPathW(LinkPlace place, const std::wstring& name);
