#include "uninstall/uninstall_run.h"

#include "record/link_places.h"
#include "record/uninstall_names.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace {

const char kChanged[] = "安装后已被修改，可能是您的数据";
const char kOutside[] = "记录中的路径不在安装目录内，未处理";
const char kLeadsOutside[] = "指向安装目录之外，未处理";
const char kNotDeleted[] = "无法删除，可能正在使用";
const DWORD kServiceStopWaitMs = 20000;

bool IsGone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_INVALID_NAME;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, text.c_str(),
                          static_cast<int>(prefix.size()), prefix.c_str(),
                          static_cast<int>(prefix.size())) == CSTR_EQUAL;
}

// The path the system really reaches through an open handle (links and
// junctions resolved), or "" when it cannot say.
std::string FinalPathOf(HANDLE handle) {
    char path[1024];
    DWORD length = GetFinalPathNameByHandleA(handle, path, sizeof path, FILE_NAME_NORMALIZED);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

std::string FinalPathOf(const std::string& path) {
    HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::string();
    std::string final = FinalPathOf(handle);
    CloseHandle(handle);
    return final;
}

class Remover {
  public:
    Remover(const UninstallRecord& record, const std::string& installDir,
            const UninstallProgress& progress)
        : record_(record), installDir_(installDir), progress_(progress) {
        std::string root = FinalPathOf(installDir_);
        if (!root.empty() && root.back() != '\\')
            root += '\\';
        rootFinal_ = root;
        total_ = record.Services.size() + record.Links.size() + record.Files.size() +
                 record.Folders.size() + record.BackupFolders.size() + 1;
    }

    UninstallOutcome Run();

  private:
    const UninstallRecord& record_;
    const std::string installDir_;
    const UninstallProgress& progress_;
    std::string rootFinal_;
    size_t total_ = 0;
    size_t done_ = 0;
    UninstallOutcome outcome_;

    void Step(const std::string& item) {
        ++done_;
        if (progress_)
            progress_(done_, total_, item);
    }
    // True when the object the handle reaches lies inside the install folder.
    bool Inside(HANDLE handle) const {
        if (rootFinal_.empty())
            return true; // the system cannot tell; the record's paths are checked already
        std::string final = FinalPathOf(handle);
        return !final.empty() && StartsWithNoCase(final, rootFinal_);
    }
    void RemoveService(const std::string& name);
    void RemoveLink(const RecordedLink& link);
    void RemoveFile(const RecordedFile& file);
    void RemoveFolder(const std::string& relative, bool backup);
    void RemoveEntry();
};

void Remover::RemoveService(const std::string& name) {
    Step(name);
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        outcome_.Failed.push_back({name, "无法打开服务管理器"});
        return;
    }
    SC_HANDLE service = OpenServiceA(
        manager, name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | DELETE);
    if (service == nullptr) {
        DWORD error = GetLastError();
        if (error != ERROR_SERVICE_DOES_NOT_EXIST)
            outcome_.Failed.push_back({name, "无法打开服务"});
        CloseServiceHandle(manager);
        return;
    }
    // A service of the same name that runs a program elsewhere belongs to
    // another installation.
    std::vector<char> buffer(8192);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    DWORD needed = 0;
    bool ours = true;
    if (QueryServiceConfigA(service, config, static_cast<DWORD>(buffer.size()), &needed) &&
        config->lpBinaryPathName != nullptr) {
        std::string program = config->lpBinaryPathName;
        if (!program.empty() && program[0] == '"')
            program.erase(0, 1);
        ours = StartsWithNoCase(program, installDir_);
    }
    if (!ours) {
        outcome_.Kept.push_back({name, "服务属于其他位置的安装"});
    } else {
        SERVICE_STATUS status = {};
        if (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED)
            ControlService(service, SERVICE_CONTROL_STOP, &status);
        DWORD started = GetTickCount();
        bool stopped = false;
        while (QueryServiceStatus(service, &status)) {
            if (status.dwCurrentState == SERVICE_STOPPED) {
                stopped = true;
                break;
            }
            if (GetTickCount() - started > kServiceStopWaitMs)
                break;
            Sleep(100);
        }
        if (DeleteService(service) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE) {
            if (stopped)
                ++outcome_.ServicesRemoved;
            else
                outcome_.Failed.push_back({name, "服务未能停止"});
        } else {
            outcome_.Failed.push_back({name, "无法删除服务"});
        }
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

void Remover::RemoveLink(const RecordedLink& link) {
    Step(link.Name);
    std::string path = LinkPath(link.Place, link.Name);
    if (path.empty())
        return;
    if (DeleteFileA(path.c_str()))
        ++outcome_.LinksRemoved;
    else if (!IsGone(GetLastError()))
        outcome_.Failed.push_back({path, kNotDeleted});
}

void Remover::RemoveFile(const RecordedFile& file) {
    Step(file.Path);
    std::string path = installDir_ + file.Path;
    HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        if (!IsGone(GetLastError()))
            outcome_.Failed.push_back({file.Path, kNotDeleted});
        return;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    bool read = GetFileInformationByHandle(handle, &info) != 0;
    bool inside = Inside(handle);
    CloseHandle(handle);
    if (!inside || (read && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        outcome_.Kept.push_back({file.Path, kLeadsOutside});
        return;
    }
    uint64_t size = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    uint64_t written = static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32 |
                       info.ftLastWriteTime.dwLowDateTime;
    if (!read || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || size != file.Size ||
        written != file.WriteTime) {
        outcome_.Kept.push_back({file.Path, kChanged});
        return;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path.c_str(), info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteFileA(path.c_str()) || IsGone(GetLastError()))
        ++outcome_.FilesRemoved;
    else
        outcome_.Failed.push_back({file.Path, kNotDeleted});
}

// A folder goes only once empty; one that still holds something stays
// without a word (what it holds is named on its own).
void Remover::RemoveFolder(const std::string& relative, bool backup) {
    Step(relative);
    std::string path = installDir_ + relative;
    HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return; // already gone
    bool inside = Inside(handle);
    CloseHandle(handle);
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (!inside || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        outcome_.Kept.push_back({relative, kLeadsOutside});
        return;
    }
    // Backup folders are made read-only, hidden and system; a read-only
    // folder cannot be removed.
    if (backup && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (RemoveDirectoryA(path.c_str()))
        ++outcome_.FoldersRemoved;
    else if (backup)
        SetFileAttributesA(path.c_str(), attributes);
}

void Remover::RemoveEntry() {
    Step(record_.KeyName);
    if (record_.KeyName.empty())
        return;
    std::string keyPath = std::string(kUninstallKeyParent) + "\\" + record_.KeyName;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        outcome_.EntryRemoved = true; // already gone
        return;
    }
    char location[1024] = {};
    DWORD size = sizeof location - 1;
    DWORD type = 0;
    LONG read = RegQueryValueExA(key, "InstallLocation", nullptr, &type,
                                 reinterpret_cast<BYTE*>(location), &size);
    RegCloseKey(key);
    std::string here = installDir_;
    if (here.size() > 3 && here.back() == '\\')
        here.pop_back();
    // Installed again elsewhere since: that installation owns the entry now.
    if (read == ERROR_SUCCESS && type == REG_SZ &&
        !(strlen(location) == here.size() && StartsWithNoCase(location, here))) {
        outcome_.Kept.push_back({record_.KeyName, "程序管理中的登记属于其他位置的安装"});
        return;
    }
    LONG deleted = RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
    if (deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND)
        outcome_.EntryRemoved = true;
    else
        outcome_.Failed.push_back({record_.KeyName, "无法删除程序管理中的登记"});
}

UninstallOutcome Remover::Run() {
    for (const std::string& refused : record_.Refused)
        outcome_.Kept.push_back({refused, kOutside});
    // Services first: a running database holds its files open.
    for (const std::string& service : record_.Services)
        RemoveService(service);
    for (const RecordedLink& link : record_.Links) {
        if (link.Name != kUninstallLinkName)
            RemoveLink(link);
    }
    for (const RecordedFile& file : record_.Files)
        RemoveFile(file);
    std::vector<std::string> folders = record_.Folders;
    std::stable_sort(
        folders.begin(), folders.end(),
        [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& folder : record_.BackupFolders)
        RemoveFolder(folder, true);
    for (const std::string& folder : folders)
        RemoveFolder(folder, false);
    // The way back in (uninstall link, entry) goes only when nothing that
    // should go is left, so the user can run the uninstaller again.
    if (outcome_.Failed.empty()) {
        for (const RecordedLink& link : record_.Links) {
            if (link.Name == kUninstallLinkName)
                RemoveLink(link);
        }
        std::string startFolder = LinkFolder(LinkPlace::StartMenu);
        if (!startFolder.empty())
            RemoveDirectoryA(startFolder.c_str());
        RemoveEntry();
    }
    return outcome_;
}

void CollectLeftovers(const std::string& installDir, const std::string& relative, size_t limit,
                      int depth, std::vector<std::string>* out) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((installDir + relative + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (relative.empty() && (name == kUninstallerFileName || name == kUninstallRecordFileName))
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A link to elsewhere is not walked into.
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && depth < 32)
                CollectLeftovers(installDir, relative + name + "\\", limit, depth + 1, out);
        } else if (out->size() < limit) {
            out->push_back(relative + name);
        }
    } while (out->size() < limit && FindNextFileA(search, &found));
    FindClose(search);
}

} // namespace

UninstallOutcome RunUninstall(const UninstallRecord& record, const std::string& installDir,
                              const UninstallProgress& progress) {
    Remover remover(record, installDir, progress);
    return remover.Run();
}

std::vector<std::string> LeftoverFiles(const std::string& installDir, size_t limit) {
    std::vector<std::string> files;
    CollectLeftovers(installDir, "", limit, 0, &files);
    return files;
}
