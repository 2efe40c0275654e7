#include "install/uninstall_record_builder.h"

#include "package/package_reader.h"
#include "package/package_resources.h"
#include "record/link_places.h"
#include "record/uninstall_names.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <set>

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
            record->Links.push_back({place.Place, linkName});
    }
}

} // namespace

bool ReadFileStamp(const std::string& path, uint64_t* size, uint64_t* writeTime) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    *size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    *writeTime = static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 |
                 data.ftLastWriteTime.dwLowDateTime;
    return true;
}

UninstallRecord BuildUninstallRecord(const SetupContext& context) {
    UninstallRecord record;
    record.Product = context.AppName;
    record.Version = context.AppVersion;
    record.KeyName = UninstallKeyForProduct(context.AppName);
    const std::string installDir = context.InstallDir;

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
            RecordedFile file;
            file.Path = group.Folder + FieldText(entry.RelativePath, sizeof entry.RelativePath);
            // A path that could leave the install folder is never recorded.
            if (!IsContainedRelativePath(file.Path) || !seen.insert(file.Path).second)
                continue;
            if (!ReadFileStamp(installDir + file.Path, &file.Size, &file.WriteTime))
                continue;
            AddParentFolders(file.Path, &folders);
            record.Files.push_back(file);
        }
    }
    record.BackupFolders.assign(backups.begin(), backups.end());
    record.Folders.assign(folders.begin(), folders.end());
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
