#include "record/link_places.h"

#include "record/record_trust.h"
#include "record/uninstall_names.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

namespace {

std::string SpecialFolder(int csidl) {
    char path[MAX_PATH] = {};
    LPITEMIDLIST items = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) && items != nullptr) {
        if (!SHGetPathFromIDListA(items, path))
            path[0] = '\0';
        CoTaskMemFree(items);
    }
    return path;
}

std::wstring SpecialFolderW(int csidl) {
    wchar_t path[MAX_PATH] = {};
    LPITEMIDLIST items = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) && items != nullptr) {
        if (!SHGetPathFromIDListW(items, path))
            path[0] = L'\0';
        CoTaskMemFree(items);
    }
    return path;
}

} // namespace

int LinkPlaceFolderId(LinkPlace place) {
    return place == LinkPlace::StartMenu ? CSIDL_COMMON_PROGRAMS
           : place == LinkPlace::Desktop ? CSIDL_COMMON_DESKTOPDIRECTORY
                                         : CSIDL_APPDATA;
}

std::wstring LinkFolderW(LinkPlace place) {
    std::wstring folder = SpecialFolderW(LinkPlaceFolderId(place));
    if (folder.empty())
        return folder;
    if (folder.back() != L'\\')
        folder += L'\\';
    if (place == LinkPlace::StartMenu)
        folder += WideFromGbk(kStartMenuFolderName) + L"\\";
    else if (place == LinkPlace::QuickLaunch)
        folder += WideFromGbk(kQuickLaunchSubfolder);
    return folder.size() < MAX_PATH ? folder : std::wstring();
}

std::wstring LinkPathW(LinkPlace place, const std::wstring& name) {
    std::wstring folder = LinkFolderW(place);
    if (folder.empty() || name.empty() || folder.size() + name.size() >= MAX_PATH)
        return std::wstring();
    return folder + name;
}

std::string LinkFolder(LinkPlace place) {
    std::string folder = SpecialFolder(LinkPlaceFolderId(place));
    if (folder.empty())
        return folder;
    if (folder.back() != '\\')
        folder += '\\';
    if (place == LinkPlace::StartMenu)
        folder += std::string(kStartMenuFolderName) + "\\";
    else if (place == LinkPlace::QuickLaunch)
        folder += kQuickLaunchSubfolder;
    return folder.size() < MAX_PATH ? folder : std::string();
}

std::string LinkPath(LinkPlace place, const std::string& name) {
    std::string folder = LinkFolder(place);
    if (folder.empty() || folder.size() + name.size() >= MAX_PATH)
        return std::string();
    return folder + name;
}
