#include "install/shortcuts.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstring>

#include "core/text_util.h"
#include "install/directory_path.h"
#include "install/worker_pause.h"
#include "install/progress_log.h"
#include "record/link_places.h"

namespace {

// Appends part when the whole result fits; false (text unusable) otherwise.
bool AppendFits(char* path, const char* part) {
    size_t used = strnlen(path, MAX_PATH);
    return used < MAX_PATH && FormatFits(path + used, MAX_PATH - used, "%s", part);
}

// Adds a backslash unless the text already ends in a separator (judged by
// character, so a name ending in a trail byte 0x5C still gets one).
bool AppendSeparator(char* path) {
    long last = FindLastSeparatorGbk(path);
    if (path[0] != '\0' && last >= 0 && path[last + 1] == '\0')
        return true;
    return AppendFits(path, "\\");
}

// The special folder's path, or "" when it cannot be resolved.
void SpecialFolderPath(int csidl, char* path) {
    path[0] = '\0';
    LPITEMIDLIST items = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) && items != nullptr) {
        if (!SHGetPathFromIDListA(items, path))
            path[0] = '\0';
        CoTaskMemFree(items);
    }
}

void PlaceOneShortcut(LinkPlace place, const char* target, const char* folderName,
                      const char* linkName) {
    char linkPath[MAX_PATH] = {};
    SpecialFolderPath(LinkPlaceFolderId(place), linkPath);
    bool fits = AppendSeparator(linkPath);
    size_t folderLength = 0;
    if (place == LinkPlace::StartMenu) {
        fits = fits && AppendFits(linkPath, folderName) && AppendSeparator(linkPath);
        folderLength = strlen(linkPath);
    } else if (place == LinkPlace::QuickLaunch) {
        fits = fits && AppendFits(linkPath, kQuickLaunchSubfolder);
    }
    fits = fits && AppendFits(linkPath, linkName);
    // A cut path would name another file: such a link is left out altogether.
    if (!fits)
        return;
    ParkWorkerBeforeCommand();
    if (folderLength > 0) {
        char folder[MAX_PATH];
        CopyBounded(folder, folderLength + 1, linkPath);
        EnsureDirectoryPath(folder, 0);
    }
    AppendLogLine(nullptr, linkPath, "创建快捷方式：");
    CreateShellLink(target, linkPath, nullptr);
}

} // namespace

void PlaceShortcuts(SetupContext& context, const char* target, const char* folderName,
                    const char* linkName) {
    if (target == nullptr || folderName == nullptr || linkName == nullptr)
        return;
    if (context.StartMenu)
        PlaceOneShortcut(LinkPlace::StartMenu, target, folderName, linkName);
    if (context.Desktop)
        PlaceOneShortcut(LinkPlace::Desktop, target, folderName, linkName);
    if (context.QuickStart)
        PlaceOneShortcut(LinkPlace::QuickLaunch, target, folderName, linkName);
}

int CreateShellLink(const char* target, const char* linkPath, const char* arguments) {
    // Left initialised on purpose: the worker thread keeps using COM.
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return 0;
    link->SetPath(target);

    // The target's folder, without its trailing backslash.
    char workingDir[MAX_PATH] = {};
    long lastSeparator = FindLastSeparatorGbk(target);
    if (lastSeparator >= 0) {
        size_t length = static_cast<size_t>(lastSeparator);
        CopyBounded(workingDir, length < MAX_PATH ? length + 1 : MAX_PATH, target);
    }
    link->SetWorkingDirectory(workingDir);
    if (arguments != nullptr && arguments[0] != '\0')
        link->SetArguments(arguments);

    IPersistFile* file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        link->Release();
        return 0;
    }
    wchar_t widePath[MAX_PATH] = {};
    // A path that does not convert whole is not saved under a cut name.
    if (MultiByteToWideChar(CP_ACP, 0, linkPath, -1, widePath, MAX_PATH) > 0)
        file->Save(widePath, TRUE);
    file->Release();
    link->Release();
    return 1;
}
