#include "install/folder_protection.h"

#include "core/text_util.h"
#include "install/directory_path.h"
#include "install/folder_trust.h"
#include "install/progress_log.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>

namespace {

// ---- The system's calls -------------------------------------------------

bool SystemVolumeKeepsPermissions(const char* folder) {
    char root[MAX_PATH];
    DWORD flags = 0;
    return GetVolumePathNameA(folder, root, sizeof root) &&
           GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
           (flags & FILE_PERSISTENT_ACLS) != 0;
}

// Enables one privilege of the process for the scope, as far as the token
// has it, and puts the previous state back.
class ScopedPrivilege {
  public:
    explicit ScopedPrivilege(const char* name) {
        TOKEN_PRIVILEGES wanted = {};
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                              &token_) ||
            !LookupPrivilegeValueA(nullptr, name, &wanted.Privileges[0].Luid))
            return;
        wanted.PrivilegeCount = 1;
        wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        DWORD size = sizeof previous_;
        adjusted_ =
            AdjustTokenPrivileges(token_, FALSE, &wanted, sizeof previous_, &previous_, &size) &&
            GetLastError() == ERROR_SUCCESS;
    }
    ~ScopedPrivilege() {
        if (adjusted_)
            AdjustTokenPrivileges(token_, FALSE, &previous_, 0, nullptr, nullptr);
        if (token_ != nullptr)
            CloseHandle(token_);
    }
    ScopedPrivilege(const ScopedPrivilege&) = delete;
    ScopedPrivilege& operator=(const ScopedPrivilege&) = delete;

  private:
    HANDLE token_ = nullptr;
    TOKEN_PRIVILEGES previous_ = {};
    bool adjusted_ = false;
};

bool IsLink(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Calls visit for everything below folder (no trailing backslash), folders
// before their contents, never through a link. Returns the first error of a
// visit or of the walk itself; the walk goes on after one.
template <typename Visit> DWORD WalkBelow(const char* folder, Visit&& visit) {
    char pattern[MAX_PATH];
    if (!FormatFits(pattern, sizeof pattern, "%s\\*", folder))
        return ERROR_FILENAME_EXCED_RANGE;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileExA(pattern, FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    DWORD first = ERROR_SUCCESS;
    do {
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
            continue;
        char path[MAX_PATH];
        DWORD error = ERROR_SUCCESS;
        if (!FormatFits(path, sizeof path, "%s\\%s", folder, found.cFileName)) {
            error = ERROR_FILENAME_EXCED_RANGE;
        } else {
            error = visit(path, found.dwFileAttributes);
            bool folderBelow = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                               !IsLink(found.dwFileAttributes);
            if (folderBelow) {
                DWORD inner = WalkBelow(path, visit);
                error = error != ERROR_SUCCESS ? error : inner;
            }
        }
        first = first != ERROR_SUCCESS ? first : error;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return first;
}

// Everything below folder loses its own entries and inherits the folder's;
// folders below get owner as their owner (the owner of a folder can always
// change its list, and so what lies in it). Files keep their owners: the
// owner check of programs reads them.
DWORD ResetBelow(const char* folder, PSID owner) {
    ACL empty;
    if (!InitializeAcl(&empty, sizeof empty, ACL_REVISION))
        return GetLastError();
    ScopedPrivilege takeOwnership(SE_TAKE_OWNERSHIP_NAME);
    return WalkBelow(folder, [&](const char* path, DWORD attributes) -> DWORD {
        if (IsLink(attributes))
            return ERROR_CANT_ACCESS_FILE;
        char* name = const_cast<char*>(path);
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            DWORD error = SetNamedSecurityInfoA(name, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                                owner, nullptr, nullptr, nullptr);
            if (error != ERROR_SUCCESS)
                return error;
        }
        return SetNamedSecurityInfoA(
            name, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
            nullptr, nullptr, &empty, nullptr);
    });
}

DWORD ProtectFound(const char* folder, PSID owner, PACL dacl) {
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError();
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return ERROR_DIRECTORY;
    // A link anywhere in the tree could carry the reset to what it leads to
    // (a system folder, say): such a tree is left as it is.
    if (IsLink(attributes))
        return ERROR_CANT_ACCESS_FILE;
    DWORD links = WalkBelow(folder, [](const char*, DWORD found) -> DWORD {
        return IsLink(found) ? ERROR_CANT_ACCESS_FILE : ERROR_SUCCESS;
    });
    if (links != ERROR_SUCCESS)
        return links;
    DWORD error = ERROR_SUCCESS;
    {
        ScopedPrivilege takeOwnership(SE_TAKE_OWNERSHIP_NAME);
        error = SetNamedSecurityInfoA(const_cast<char*>(folder), SE_FILE_OBJECT,
                                      OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr, nullptr);
    }
    if (error == ERROR_SUCCESS)
        error =
            SetNamedSecurityInfoA(const_cast<char*>(folder), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, dacl, nullptr);
    DWORD below = ResetBelow(folder, owner);
    return error != ERROR_SUCCESS ? error : below;
}

DWORD SystemProtectFolder(const char* folder, const char* sddl) {
    char path[MAX_PATH];
    if (!FormatFits(path, sizeof path, "%s", folder))
        return ERROR_FILENAME_EXCED_RANGE;
    size_t length = strlen(path);
    if (length > 0 && EndsWithBackslashByte(path) && FindLastSeparatorGbk(path) == long(length) - 1)
        path[--length] = '\0';
    // A drive's root is never made over into a program folder.
    char root[MAX_PATH];
    if (length < 3 || !GetVolumePathNameA(path, root, sizeof root))
        return ERROR_BAD_PATHNAME;
    if (_strnicmp(root, path, length) == 0 && (root[length] == '\0' || root[length] == '\\'))
        return ERROR_BAD_PATHNAME;

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return GetLastError();
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    DWORD error = ERROR_SUCCESS;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present)
        error = ERROR_INVALID_SECURITY_DESCR;
    if (error == ERROR_SUCCESS) {
        // Made by this run: it has the descriptor from its first moment, so
        // nothing can be put into it before.
        EnsureDirectoryPath(path, 1);
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
        if (!CreateDirectoryA(path, &attributes)) {
            error = GetLastError();
            if (error == ERROR_ALREADY_EXISTS)
                error = ProtectFound(path, owner, dacl);
        }
    }
    LocalFree(descriptor);
    return error;
}

DWORD CopySidText(PSID sid, char* out, size_t size) {
    char* text = nullptr;
    if (sid == nullptr || !ConvertSidToStringSidA(sid, &text))
        return sid == nullptr ? ERROR_INVALID_SID : GetLastError();
    bool fits = FormatFits(out, size, "%s", text);
    LocalFree(text);
    return fits ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER;
}

DWORD SystemReadOwner(const char* path, char* sid, size_t size) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetNamedSecurityInfoA(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                        nullptr, nullptr, nullptr, &descriptor);
    if (error == ERROR_SUCCESS)
        error = CopySidText(owner, sid, size);
    LocalFree(descriptor);
    return error;
}

DWORD SystemReadInstallingAccount(char* sid, size_t size) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return GetLastError();
    // A TOKEN_USER followed by its SID (at most 68 bytes).
    union {
        TOKEN_USER User;
        BYTE Bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD used = 0;
    DWORD error = GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &used)
                      ? CopySidText(buffer.User.User.Sid, sid, size)
                      : GetLastError();
    CloseHandle(token);
    return error;
}

const FolderSecurityCalls kSystemCalls = {SystemVolumeKeepsPermissions, SystemProtectFolder,
                                          SystemReadOwner, SystemReadInstallingAccount};
const FolderSecurityCalls* g_calls = &kSystemCalls;

// ---- The run's notes ----------------------------------------------------

// The programs the installer may start that were already in place when the
// run began, and whether the install folder's volume keeps permissions.
struct ProgramsInPlace {
    char Paths[3][MAX_PATH];
    int Count;
    bool VolumeKeepsPermissions;
};
ProgramsInPlace g_inPlace;

void NoteIfInPlace(const char* format, const char* folder, const char* program,
                   const char* installDir) {
    char path[MAX_PATH];
    if (!FormatFits(path, sizeof path, format, installDir, folder, program))
        return; // never started either: the commands are not cut
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return;
    CopyBounded(g_inPlace.Paths[g_inPlace.Count++], MAX_PATH, path);
}

// A header text, which need not be terminated.
void CopyHeaderText(char* out, size_t capacity, const char* field) {
    size_t n = strnlen(field, kPackageTextSize);
    n = n < capacity ? n : capacity - 1;
    memcpy(out, field, n);
    out[n] = '\0';
}

void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogLine(const char* format, ...) {
    char line[260];
    va_list args;
    va_start(args, format);
    FormatBoundedV(line, sizeof line, format, args);
    va_end(args);
    AppendLogLine(nullptr, line, "");
}

} // namespace

const FolderSecurityCalls& SystemFolderSecurityCalls() {
    return kSystemCalls;
}

void ReplaceFolderSecurityCalls(const FolderSecurityCalls* calls) {
    g_calls = calls != nullptr ? calls : &kSystemCalls;
}

void SecureInstallFolder(const SetupContext& context) {
    memset(&g_inPlace, 0, sizeof g_inPlace);
    char server[kPackageTextSize], client[kPackageTextSize];
    CopyHeaderText(server, sizeof server, context.Header.ServerProgram);
    CopyHeaderText(client, sizeof client, context.Header.ClientProgram);
    NoteIfInPlace("%s%s%s", context.VirDB, "bin\\mysqld.exe", context.InstallDir);
    NoteIfInPlace("%s%s%s", context.VirSer, server, context.InstallDir);
    NoteIfInPlace("%s%s%s", context.VirCli, client, context.InstallDir);

    g_inPlace.VolumeKeepsPermissions = g_calls->VolumeKeepsPermissions(context.InstallDir);
    if (!g_inPlace.VolumeKeepsPermissions) {
        LogLine("安装目录所在磁盘不能保存权限（FAT、exFAT或网络共享），目录未受保护：%s",
                context.InstallDir);
        return;
    }
    DWORD error = g_calls->ProtectFolder(context.InstallDir, kProtectedFolderSddl);
    if (error != ERROR_SUCCESS)
        LogLine("未能设置安装目录的权限（错误%lu），目录未受保护：%s", error, context.InstallDir);
}

bool MayStartProgram(const char* path) {
    bool inPlace = false;
    for (int i = 0; i < g_inPlace.Count; ++i)
        inPlace |= strcmp(g_inPlace.Paths[i], path) == 0;
    if (!inPlace || !g_inPlace.VolumeKeepsPermissions)
        return true;
    char owner[184];
    DWORD error = g_calls->ReadOwner(path, owner, sizeof owner);
    if (error != ERROR_SUCCESS) {
        LogLine("读不出所有者，未运行安装前已存在的程序：%s（错误%lu）", path, error);
        return false;
    }
    char installer[184];
    if (g_calls->ReadInstallingAccount(installer, sizeof installer) != ERROR_SUCCESS)
        installer[0] = '\0';
    if (IsTrustedProgramOwner(owner, installer))
        return true;
    LogLine("所有者不可信，未运行安装前已存在的程序：%s（所有者%s）", path, owner);
    return false;
}
