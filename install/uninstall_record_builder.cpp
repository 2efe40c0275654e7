#include "install/uninstall_record_builder.h"

#include "package/package_reader.h"
#include "package/package_digest.h"
#include "package/package_resources.h"
#include "install/placed_files.h"
#include "record/link_places.h"
#include "record/record_trust.h"
#include "record/uninstall_names.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <vector>

namespace {

std::string FieldText(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

// The folders between the install folder and the file, deepest first.
void AddParentFolders(const std::string& relativePath, std::set<std::string>* folders) {
    size_t end = relativePath.size();
    while (end > 0) {
        size_t separator = std::string::npos;
        for (size_t i = 0; i < end; ++i) {
            unsigned char b = static_cast<unsigned char>(relativePath[i]);
            if (b >= 0x81 && b <= 0xFE && i + 1 < end)
                ++i; // a trail byte 0x5C is no separator
            else if (b == '\\' || b == '/')
                separator = i;
        }
        if (separator == std::string::npos)
            return;
        folders->insert(relativePath.substr(0, separator));
        end = separator;
    }
}

// "yyyy.mm.dd.w": the name the installation gives its backup folders.
bool IsBackupFolderName(const char* name) {
    static const char kShape[] = "dddd.dd.dd.d";
    if (strlen(name) != sizeof kShape - 1)
        return false;
    for (size_t i = 0; kShape[i] != '\0'; ++i) {
        bool digit = name[i] >= '0' && name[i] <= '9';
        if (kShape[i] == 'd' ? !digit : name[i] != '.')
            return false;
    }
    return true;
}

void AddBackupFolders(const std::string& installDir, const std::string& groupFolder,
                      std::set<std::string>* backups) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((installDir + groupFolder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            IsBackupFolderName(found.cFileName)) {
            std::string relative = groupFolder + found.cFileName;
            if (IsContainedRelativePath(relative))
                backups->insert(relative);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool ServiceExists(const char* name) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return false;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}

void AddLinks(const SetupContext& context, const char* linkName, UninstallRecord* record) {
    const struct {
        int32_t Setting;
        LinkPlace Place;
    } places[] = {{context.StartMenu, LinkPlace::StartMenu},
                  {context.Desktop, LinkPlace::Desktop},
                  {context.QuickStart, LinkPlace::QuickLaunch}};
    for (const auto& place : places) {
        std::string path = place.Setting ? LinkPath(place.Place, linkName) : std::string();
        if (!path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            record->Links.push_back({place.Place, Utf8FromGbk(linkName)});
    }
}

using PreviousFiles = std::map<std::wstring, RecordedFile, PathLess>;

// The files the record of an earlier installation here lists with their
// content's CRC-32, when that record is the one its entry vouches for.
PreviousFiles ReadPreviousRecord(const std::string& installDir, const std::string& keyName) {
    PreviousFiles files;
    std::string text;
    HANDLE file = CreateFileA((installDir + kUninstallRecordFileName).c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return files;
    LARGE_INTEGER size = {};
    DWORD got = 0;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 &&
        size.QuadPart <= LONGLONG(kUninstallRecordMaxBytes)) {
        text.resize(static_cast<size_t>(size.QuadPart));
        if (!ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr) ||
            got != text.size())
            text.clear();
    }
    CloseHandle(file);
    HKEY key = nullptr;
    char digest[80] = {};
    DWORD digestSize = sizeof digest - 1, type = 0;
    bool vouched = false;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                      (std::string(kUninstallKeyParent) + "\\" + keyName).c_str(), 0,
                      KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        vouched = RegQueryValueExA(key, kRecordDigestValue, nullptr, &type,
                                   reinterpret_cast<BYTE*>(digest), &digestSize) == ERROR_SUCCESS &&
                  type == REG_SZ && !text.empty() && RecordDigestText(text) == digest;
        RegCloseKey(key);
    }
    UninstallRecord previous;
    if (!vouched || ParseUninstallRecord(text.data(), text.size(), &previous) != RecordError::kOk ||
        previous.FormatVersion < 2)
        return files; // an older record holds times, which say nothing of the content
    for (const RecordedFile& recorded : previous.Files)
        files[WideFrom(recorded.Path, RecordCodePage(previous))] = recorded;
    return files;
}

// Size and CRC-32 of a file as it is now.
bool StampOf(const std::string& path, ContentStamp* stamp) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::vector<char> buffer(64 * 1024);
    ContentStamp now;
    DWORD got = 0;
    bool read = true;
    while ((read = ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                            nullptr) != 0) &&
           got > 0) {
        now.Crc = ExtendCrc32(now.Crc, buffer.data(), got);
        now.Size += got;
    }
    CloseHandle(file);
    *stamp = now;
    return read;
}

// A file this run placed is the installation's. One it found there is the
// user's, unless the earlier installation's record lists it and it is still
// exactly what that installation put there.
bool StampOfOurs(const std::string& installDir, const std::string& relative,
                 const PreviousFiles& previous, ContentStamp* stamp) {
    if (FindPlacedFile(installDir + relative, stamp))
        return true;
    auto listed = previous.find(WideFromGbk(relative));
    if (listed == previous.end())
        return false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA((installDir + relative).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow) !=
            listed->second.Size)
        return false;
    return StampOf(installDir + relative, stamp) && stamp->Size == listed->second.Size &&
           stamp->Crc == listed->second.Crc;
}

} // namespace

UninstallRecord BuildUninstallRecord(const SetupContext& context) {
    UninstallRecord record;
    record.Product = Utf8FromGbk(context.AppName);
    record.Version = Utf8FromGbk(context.AppVersion);
    const std::string keyName = UninstallKeyForProduct(context.AppName);
    record.KeyName = Utf8FromGbk(keyName);
    const std::string installDir = context.InstallDir;
    const PreviousFiles previous = ReadPreviousRecord(installDir, keyName);

    const PackageHeader& header = context.Header;
    bool hasServer = header.ServerEntryCount != 0;
    bool server = context.InstallServer != 0;
    bool client = context.InstallClient != 0;
    // The groups the worker took, as it plans them.
    const struct {
        PackageGroup Group;
        const char* Folder;
        bool Taken;
    } groups[] = {{PackageGroup::Server, context.VirSer, hasServer && server},
                  {PackageGroup::Client, context.VirCli, client},
                  {PackageGroup::Database, context.VirDB, hasServer ? server : client}};

    ResourceBytes index = LoadPackageResource(kIndexResourceId);
    ResourceBytes payload = LoadPackageResource(kPayloadResourceId);
    PackageView package(index.Data, index.Size, payload.Data, payload.Size);
    std::set<std::string> folders, backups, seen;
    for (const auto& group : groups) {
        if (!group.Taken)
            continue;
        AddBackupFolders(installDir, group.Folder, &backups);
        GroupRange range = package.Group(group.Group);
        for (uint32_t i = 0; i < range.Count; ++i) {
            PackageEntry entry;
            if (!package.Entry(range.First + i, &entry))
                break;
            std::string relative =
                group.Folder + FieldText(entry.RelativePath, sizeof entry.RelativePath);
            // A path that could leave the install folder is never recorded.
            if (!IsContainedRelativePath(relative) || !seen.insert(relative).second)
                continue;
            ContentStamp stamp;
            if (!StampOfOurs(installDir, relative, previous, &stamp))
                continue;
            RecordedFile file;
            file.Path = Utf8FromGbk(relative);
            file.Size = stamp.Size;
            file.Crc = stamp.Crc;
            AddParentFolders(relative, &folders);
            record.Files.push_back(file);
        }
    }
    for (const std::string& backup : backups)
        record.BackupFolders.push_back(Utf8FromGbk(backup));
    for (const std::string& folder : folders)
        record.Folders.push_back(Utf8FromGbk(folder));
    // A folder's path is a prefix of its subfolders': longest first empties
    // children before their parents.
    std::stable_sort(
        record.Folders.begin(), record.Folders.end(),
        [](const std::string& a, const std::string& b) { return a.size() > b.size(); });

    if (server && context.DB2 && ServiceExists("VTR NetWork Mysql"))
        record.Services.push_back("VTR NetWork Mysql");
    if (client && !server && !hasServer && ServiceExists("VTR Personal Mysql"))
        record.Services.push_back("VTR Personal Mysql");
    if (server)
        AddLinks(context, kServerLinkName, &record);
    if (client)
        AddLinks(context, kClientLinkName, &record);
    return record;
}
