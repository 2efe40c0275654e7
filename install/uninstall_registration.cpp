#include "install/uninstall_registration.h"

#include "install/directory_path.h"
#include "package/package_resources.h"
#include "install/shortcuts.h"
#include "install/uninstall_record_builder.h"
#include "record/link_places.h"
#include "record/record_trust.h"
#include "record/uninstall_names.h"
#include "install/progress_log.h"

#include <cstdio>

namespace {

const char kLogPrefix[] = "卸载程序：";

// Writes bytes under a temporary name beside path and moves them into place,
// so an earlier uninstaller or record is replaced whole or not at all.
bool WriteWholeFile(const std::string& path, const void* bytes, size_t size) {
    std::string partial = path + ".part";
    // Always a new file: one found under the name (planted before the run)
    // would keep its owner, who could change the uninstaller afterwards.
    DeleteFileA(partial.c_str());
    HANDLE file = CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL wrote = size == 0 || WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr);
    BOOL closed = CloseHandle(file);
    if (!wrote || !closed || written != size ||
        !MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(partial.c_str());
        return false;
    }
    return true;
}

bool SetText(HKEY key, const char* name, const std::string& value) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool SetNumber(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

std::string WithoutTrailingBackslash(std::string path) {
    if (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    return path;
}

// The Programs and Features entry. The key is the product's, not the
// version's: installing again rewrites the one entry.
bool WriteProgramsEntry(const SetupContext& context, const UninstallRecord& record,
                        const std::string& uninstaller, const std::string& recordDigest) {
    std::string keyPath =
        std::string(kUninstallKeyParent) + "\\" + UninstallKeyForProduct(context.AppName);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    uint64_t bytes = 0;
    for (const RecordedFile& file : record.Files)
        bytes += file.Size;
    WIN32_FILE_ATTRIBUTE_DATA program;
    if (GetFileAttributesExA(uninstaller.c_str(), GetFileExInfoStandard, &program))
        bytes += program.nFileSizeLow;
    uint64_t kilobytes = (bytes + 1023) / 1024;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[16];
    snprintf(date, sizeof date, "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    std::string quoted = "\"" + uninstaller + "\"";
    std::string name = std::string(context.AppName) + " " + context.AppVersion;
    bool ok = SetText(key, "DisplayName", name) &&
              SetText(key, "DisplayVersion", context.AppVersion) &&
              SetText(key, "Publisher", context.AppName) &&
              SetText(key, "InstallLocation", WithoutTrailingBackslash(context.InstallDir)) &&
              SetText(key, "DisplayIcon", uninstaller + ",0") &&
              SetText(key, "UninstallString", quoted) &&
              SetText(key, "QuietUninstallString", quoted + " " + kSilentSwitch) &&
              SetNumber(key, "EstimatedSize",
                        kilobytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(kilobytes)) &&
              SetText(key, "InstallDate", date) && SetNumber(key, "NoModify", 1) &&
              SetNumber(key, "NoRepair", 1) && SetText(key, kRecordDigestValue, recordDigest);
    RegCloseKey(key);
    return ok;
}

void Log(const std::string& text) {
    AppendLogLine(nullptr, text.c_str(), kLogPrefix);
}

} // namespace

void RegisterUninstall(SetupContext& context) {
    if (!context.ProgramMg)
        return;
    const std::string installDir = context.InstallDir;
    const std::string uninstaller = installDir + kUninstallerFileName;
    const std::string recordPath = installDir + kUninstallRecordFileName;
    if (uninstaller.size() >= MAX_PATH || recordPath.size() >= MAX_PATH) {
        Log("安装路径过长，未创建卸载程序。");
        return;
    }

    ResourceBytes program = LoadPackageResource(kUninstallerResourceId);
    if (!program.Found || !WriteWholeFile(uninstaller, program.Data, program.Size)) {
        Log("无法写入卸载程序 " + uninstaller);
        return;
    }
    Log(uninstaller);

    UninstallRecord record = BuildUninstallRecord(context);
    if (context.StartMenu) {
        std::string link = LinkPath(LinkPlace::StartMenu, kUninstallLinkName);
        if (!link.empty()) {
            EnsureDirectoryPath(LinkFolder(LinkPlace::StartMenu).c_str(), 0);
            AppendLogLine(nullptr, link.c_str(), "创建快捷方式：");
            CreateShellLink(uninstaller.c_str(), link.c_str(), nullptr);
            if (GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES)
                record.Links.push_back({LinkPlace::StartMenu, Utf8FromGbk(kUninstallLinkName)});
        }
    }

    // The record is written before the entry that vouches for it: the
    // uninstaller obeys only the record whose digest the entry holds.
    const std::string keyName = UninstallKeyForProduct(context.AppName);
    std::string text = FormatUninstallRecord(record);
    std::string digest = RecordDigestText(text);
    if (digest.empty() || !WriteWholeFile(recordPath, text.data(), text.size())) {
        Log("无法写入卸载信息 " + recordPath);
        return;
    }
    if (!WriteProgramsEntry(context, record, uninstaller, digest)) {
        Log("无法登记到 Win 程序管理：" + keyName);
        return;
    }
    Log("已登记到 Win 程序管理：" + keyName);
}
