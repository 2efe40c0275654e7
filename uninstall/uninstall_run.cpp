#include "uninstall/uninstall_run.h"

#include "package/package_digest.h"
#include "record/link_places.h"
#include "record/record_trust.h"
#include "record/uninstall_names.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

namespace {

const char kChanged[] = "安装后已被修改，可能是您的数据";
const char kOutside[] = "记录中的路径不在安装目录内，未处理";
const char kLeadsOutside[] = "指向安装目录之外，未处理";
const char kNotDeleted[] = "无法删除，可能正在使用";
const char kRootUnknown[] = "无法确定安装目录的实际位置，未处理";
const char kLinkNotOurs[] = "快捷方式不指向安装目录，未处理";
const DWORD kServiceStopWaitMs = 20000;

bool IsGone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_INVALID_NAME;
}

// Opens the object a path names itself: a link or junction is opened, not
// followed.
HANDLE OpenItem(const std::wstring& path, DWORD access) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Changes the attributes of an open file; times stay as they are.
bool SetAttributesOf(HANDLE handle, DWORD attributes) {
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Marks an open file or empty folder for deletion: it goes when the handle
// closes, and only the object this handle reaches.
bool DeleteThrough(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

// CRC-32 of what an open file holds, read from its start.
bool ContentCrc(HANDLE handle, uint32_t* crc) {
    static std::vector<char> buffer(256 * 1024);
    uint32_t value = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(handle, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            return false;
        if (got == 0)
            break;
        value = ExtendCrc32(value, buffer.data(), got);
    }
    *crc = value;
    return true;
}

// The program a service's command line starts: the quoted part, or the text
// up to ".exe" (the command line may go on with arguments).
std::wstring ServiceProgram(const std::wstring& commandLine) {
    if (!commandLine.empty() && commandLine[0] == L'"') {
        size_t close = commandLine.find(L'"', 1);
        return close == std::wstring::npos ? std::wstring() : commandLine.substr(1, close - 1);
    }
    for (size_t at = 0; at + 4 <= commandLine.size(); ++at) {
        if (SamePath(commandLine.substr(at, 4), L".exe") &&
            (at + 4 == commandLine.size() || commandLine[at + 4] == L' '))
            return commandLine.substr(0, at + 4);
    }
    return commandLine;
}

class Remover {
  public:
    Remover(const UninstallRecord& record, const std::wstring& installDir,
            const UninstallProgress& progress)
        : record_(record), installDir_(installDir), progress_(progress),
          codePage_(RecordCodePage(record)) {
        HANDLE root = CreateFileW(installDir_.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (root != INVALID_HANDLE_VALUE) {
            rootFinal_ = FinalPathOf(root);
            CloseHandle(root);
        }
        if (!rootFinal_.empty() && rootFinal_.back() != L'\\')
            rootFinal_ += L'\\';
        total_ = record.Services.size() + record.Links.size() + record.Files.size() +
                 record.Folders.size() + record.BackupFolders.size() + 1;
    }

    UninstallOutcome Run();

  private:
    const UninstallRecord& record_;
    const std::wstring installDir_;
    const UninstallProgress& progress_;
    const unsigned codePage_;
    std::wstring rootFinal_; // empty when the system cannot say: nothing is deleted
    size_t total_ = 0;
    size_t done_ = 0;
    UninstallOutcome outcome_;

    std::wstring Wide(const std::string& text) const { return WideFrom(text, codePage_); }
    void Step(const std::wstring& item) {
        ++done_;
        if (progress_)
            progress_(done_, total_, item);
    }
    // True when the object the handle reaches lies inside the install folder.
    bool Inside(HANDLE handle) const {
        return !rootFinal_.empty() && IsInsideFolder(FinalPathOf(handle), rootFinal_);
    }
    // The full path of a recorded relative path, or empty (then it is named).
    std::wstring Resolve(const std::string& relative, std::wstring* name);
    void RemoveService(const std::string& name);
    void RemoveLink(const RecordedLink& link);
    void RemoveFile(const RecordedFile& file);
    void RemoveFolder(const std::string& relative, bool backup);
    void RemoveEntry();
    bool WaitUntilServiceGone(SC_HANDLE manager, const std::string& name, HANDLE process);
};

std::wstring Remover::Resolve(const std::string& relative, std::wstring* name) {
    *name = Wide(relative);
    if (name->empty()) {
        *name = WideFromGbk(relative);
        outcome_.Kept.push_back({*name, kOutside});
        return std::wstring();
    }
    if (rootFinal_.empty()) {
        outcome_.Failed.push_back({*name, kRootUnknown});
        return std::wstring();
    }
    return installDir_ + *name;
}

bool Remover::WaitUntilServiceGone(SC_HANDLE manager, const std::string& name, HANDLE process) {
    // DeleteService only marks the service; it goes once every handle to it
    // is closed. Files are deleted only after it and its process are gone.
    DWORD started = GetTickCount();
    for (;;) {
        SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
        bool gone = service == nullptr && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
        if (service != nullptr)
            CloseServiceHandle(service);
        bool ended = process == nullptr || WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        if (gone && ended)
            return true;
        if (GetTickCount() - started > kServiceGoneWaitMs)
            return false;
        Sleep(100);
    }
}

void Remover::RemoveService(const std::string& name) {
    std::wstring wideName = Wide(name);
    Step(wideName);
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        outcome_.Failed.push_back({wideName, "无法打开服务管理器"});
        return;
    }
    SC_HANDLE service = OpenServiceA(
        manager, name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | DELETE);
    if (service == nullptr) {
        DWORD error = GetLastError();
        if (error != ERROR_SERVICE_DOES_NOT_EXIST)
            outcome_.Failed.push_back({wideName, "无法打开服务"});
        CloseServiceHandle(manager);
        return;
    }
    // Ours only when the program it runs really lies in the install folder;
    // a service whose program cannot be found or read belongs to someone else.
    std::vector<BYTE> buffer(8192);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD needed = 0;
    bool ours = false;
    if (!rootFinal_.empty() &&
        QueryServiceConfigW(service, config, static_cast<DWORD>(buffer.size()), &needed) &&
        config->lpBinaryPathName != nullptr) {
        std::wstring program = ServiceProgram(config->lpBinaryPathName);
        HANDLE file = CreateFileW(program.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            ours = Inside(file);
            CloseHandle(file);
        }
    }
    if (!ours) {
        outcome_.Kept.push_back({wideName, "服务属于其他位置的安装"});
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
        return;
    }
    SERVICE_STATUS_PROCESS running = {};
    DWORD size = 0;
    HANDLE process = nullptr;
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&running),
                             sizeof running, &size) &&
        running.dwProcessId != 0)
        process = OpenProcess(SYNCHRONIZE, FALSE, running.dwProcessId);
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
    bool deleted = DeleteService(service) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
    CloseServiceHandle(service);
    if (!deleted)
        outcome_.Failed.push_back({wideName, "无法删除服务"});
    else if (!stopped)
        outcome_.Failed.push_back({wideName, "服务未能停止"});
    else if (!WaitUntilServiceGone(manager, name, process))
        outcome_.Failed.push_back({wideName, "服务已标记为删除，但仍未消失"});
    else
        ++outcome_.ServicesRemoved;
    if (process != nullptr)
        CloseHandle(process);
    CloseServiceHandle(manager);
}

// Only a link that leads into this install folder is ours: an older
// installation elsewhere, or another program, may own a link of that name.
void Remover::RemoveLink(const RecordedLink& link) {
    std::wstring name = Wide(link.Name);
    Step(name);
    std::wstring path = LinkPathW(link.Place, name);
    if (path.empty())
        return;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return; // already gone
    std::wstring target;
    IShellLinkW* shellLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&shellLink)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(
                shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            wchar_t found[MAX_PATH] = {};
            if (SUCCEEDED(file->Load(path.c_str(), STGM_READ)) &&
                shellLink->GetPath(found, MAX_PATH, nullptr, SLGP_RAWPATH) == S_OK)
                target = found;
            file->Release();
        }
        shellLink->Release();
    }
    if (!IsInsideFolder(target, installDir_)) {
        outcome_.Kept.push_back({path, kLinkNotOurs});
        return;
    }
    HANDLE handle = OpenItem(path, DELETE | FILE_READ_ATTRIBUTES);
    if (handle == INVALID_HANDLE_VALUE) {
        if (!IsGone(GetLastError()))
            outcome_.Failed.push_back({path, kNotDeleted});
        return;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    bool plain =
        GetFileInformationByHandle(handle, &info) &&
        !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    if (!plain)
        outcome_.Kept.push_back({path, kLinkNotOurs});
    else if (DeleteThrough(handle))
        ++outcome_.LinksRemoved;
    else
        outcome_.Failed.push_back({path, kNotDeleted});
    CloseHandle(handle);
}

void Remover::RemoveFile(const RecordedFile& file) {
    std::wstring name;
    std::wstring path = Resolve(file.Path, &name);
    Step(name);
    if (path.empty())
        return;
    HANDLE handle = OpenItem(path, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES);
    if (handle == INVALID_HANDLE_VALUE) {
        if (!IsGone(GetLastError()))
            outcome_.Failed.push_back({name, kNotDeleted});
        return;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    bool read = GetFileInformationByHandle(handle, &info) != 0;
    if (!read || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !Inside(handle)) {
        outcome_.Kept.push_back({name, kLeadsOutside});
        CloseHandle(handle);
        return;
    }
    uint64_t size = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    uint64_t written = static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32 |
                       info.ftLastWriteTime.dwLowDateTime;
    bool same = !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && size == file.Size;
    if (same && record_.FormatVersion >= 2) {
        uint32_t crc = 0;
        same = ContentCrc(handle, &crc) && crc == file.Crc;
    } else if (same) {
        same = written == file.WriteTime;
    }
    if (!same) {
        outcome_.Kept.push_back({name, kChanged});
        CloseHandle(handle);
        return;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        SetAttributesOf(handle, info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteThrough(handle))
        ++outcome_.FilesRemoved;
    else
        outcome_.Failed.push_back({name, kNotDeleted});
    CloseHandle(handle);
}

// A folder goes only once empty; one that still holds something stays
// without a word (what it holds is named on its own).
void Remover::RemoveFolder(const std::string& relative, bool backup) {
    std::wstring name;
    std::wstring path = Resolve(relative, &name);
    Step(name);
    if (path.empty())
        return;
    HANDLE handle = OpenItem(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    if (handle == INVALID_HANDLE_VALUE)
        return; // already gone
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !Inside(handle)) {
        outcome_.Kept.push_back({name, kLeadsOutside});
        CloseHandle(handle);
        return;
    }
    // Backup folders are made read-only, hidden and system; a read-only
    // folder cannot be removed.
    bool cleared = backup && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) &&
                   SetAttributesOf(handle, FILE_ATTRIBUTE_DIRECTORY);
    if (DeleteThrough(handle))
        ++outcome_.FoldersRemoved;
    else if (cleared)
        SetAttributesOf(handle, info.dwFileAttributes);
    CloseHandle(handle);
}

// The entry was checked before anything was touched: it holds this record's
// digest and names this install folder.
void Remover::RemoveEntry() {
    std::wstring keyName = Wide(record_.KeyName);
    Step(keyName);
    if (keyName.empty())
        return;
    std::wstring keyPath = WideFromGbk(kUninstallKeyParent) + L"\\" + keyName;
    LONG deleted = RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath.c_str());
    if (deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND)
        outcome_.EntryRemoved = true;
    else
        outcome_.Failed.push_back({keyName, "无法删除程序管理中的登记"});
}

UninstallOutcome Remover::Run() {
    for (const std::string& refused : record_.Refused) {
        std::wstring name = Wide(refused);
        outcome_.Kept.push_back({name.empty() ? WideFromGbk(refused) : name, kOutside});
    }
    // Services first: a running database holds its files open.
    for (const std::string& service : record_.Services)
        RemoveService(service);
    for (const RecordedLink& link : record_.Links) {
        if (link.Name != GbkTextIn(kUninstallLinkName, codePage_))
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
            if (link.Name == GbkTextIn(kUninstallLinkName, codePage_))
                RemoveLink(link);
        }
        std::wstring startFolder = LinkFolderW(LinkPlace::StartMenu);
        if (!startFolder.empty())
            RemoveDirectoryW(startFolder.c_str());
        RemoveEntry();
    }
    return outcome_;
}

void CollectLeftovers(const std::wstring& installDir, const std::wstring& relative, size_t limit,
                      int depth, std::vector<std::wstring>* out) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((installDir + relative + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    const std::wstring program = WideFromGbk(kUninstallerFileName);
    const std::wstring record = WideFromGbk(kUninstallRecordFileName);
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (relative.empty() && (SamePath(name, program) || SamePath(name, record)))
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A link to elsewhere is not walked into.
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && depth < 32)
                CollectLeftovers(installDir, relative + name + L"\\", limit, depth + 1, out);
        } else if (out->size() < limit) {
            out->push_back(relative + name);
        }
    } while (out->size() < limit && FindNextFileW(search, &found));
    FindClose(search);
}

} // namespace

UninstallOutcome RunUninstall(const UninstallRecord& record, const std::wstring& installDir,
                              const UninstallProgress& progress) {
    Remover remover(record, installDir, progress);
    return remover.Run();
}

std::vector<std::wstring> LeftoverFiles(const std::wstring& installDir, size_t limit) {
    std::vector<std::wstring> files;
    CollectLeftovers(installDir, L"", limit, 0, &files);
    return files;
}
