// The uninstaller an installation leaves in its install folder. Exit codes:
// 0 everything that should go is gone (also when an earlier run left only
// this program), 1 something could not be removed, the record included
// (the record, the program and the Programs and Features entry stay, so it
// can run again), 2 the record could not be read or is not the one the
// installation registered (nothing was touched), 3 the user answered No,
// 4 a copy started by something other than this program (nothing touched).
#include "core/dll_search.h"
#include "record/record_trust.h"
#include "uninstall/self_copy.h"
#include "record/uninstall_names.h"
#include "uninstall/uninstall_run.h"
#include "uninstall/uninstall_ui.h"

#include <windows.h>

#include <objbase.h>

#include <memory>
#include <set>
#include <vector>

namespace {

enum ExitCode {
    kDone = 0,
    kIncomplete = 1,
    kRecordUnreadable = 2,
    kDeclined = 3,
    kNotStartedByOriginal = 4
};

bool HasSilentSwitch(const wchar_t* commandLine) {
    std::wstring line = commandLine;
    const std::wstring silent = WideFromGbk(kSilentSwitch);
    for (size_t at = line.find(silent); at != std::wstring::npos; at = line.find(silent, at + 1)) {
        bool starts = at > 0 && (line[at - 1] == L' ' || line[at - 1] == L'\t');
        size_t after = at + silent.size();
        if (starts && (after == line.size() || line[after] == L' ' || line[after] == L'\t'))
            return true;
    }
    return false;
}

const char* DescribeRecordError(RecordError error) {
    switch (error) {
    case RecordError::kEmpty:
        return "文件为空。";
    case RecordError::kTooLarge:
        return "文件过大。";
    case RecordError::kNotARecord:
        return "这不是卸载信息文件。";
    case RecordError::kOtherVersion:
        return "文件来自另一版本的安装程序。";
    case RecordError::kMalformed:
        return "文件已损坏。";
    case RecordError::kOk:
        break;
    }
    return "";
}

std::wstring UninstallKeyPath(const std::wstring& keyName) {
    return WideFromGbk(kUninstallKeyParent) + L"\\" + keyName;
}

bool ReadText(HKEY key, const wchar_t* name, std::wstring* text) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer - sizeof buffer[0];
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    *text = std::wstring(buffer, size / sizeof buffer[0]);
    while (!text->empty() && text->back() == L'\0')
        text->pop_back();
    return true;
}

std::wstring WithoutTrailingBackslash(std::wstring path) {
    if (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    return path;
}

// An entry of this product family whose install folder is this one.
bool EntryNamesFolder(const std::wstring& installDir) {
    HKEY parent = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, WideFromGbk(kUninstallKeyParent).c_str(), 0,
                      KEY_ENUMERATE_SUB_KEYS, &parent) != ERROR_SUCCESS)
        return false;
    bool found = false;
    wchar_t name[256];
    for (DWORD i = 0; !found; ++i) {
        DWORD length = sizeof name / sizeof name[0];
        if (RegEnumKeyExW(parent, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        if (wcsncmp(name, L"MDPX ", 5) != 0)
            continue;
        HKEY key = nullptr;
        std::wstring location;
        if (RegOpenKeyExW(parent, name, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
            found = ReadText(key, L"InstallLocation", &location) &&
                    SamePath(location, WithoutTrailingBackslash(installDir));
            RegCloseKey(key);
        }
    }
    RegCloseKey(parent);
    return found;
}

// The record is obeyed only when the Programs and Features key it names is
// this product's (its name is the product's key), names this install folder
// and holds the digest of exactly these bytes. Only administrators can write
// that key; anyone who can write into the install folder could plant a record.
bool TrustRecord(const std::string& bytes, const UninstallRecord& record,
                 const std::wstring& installDir, std::string* why) {
    std::wstring keyName = WideFrom(record.KeyName, RecordCodePage(record));
    std::wstring ownKey = WideFromGbk(
        UninstallKeyForProduct(GbkFromWide(WideFrom(record.Product, RecordCodePage(record)))));
    HKEY key = nullptr;
    if (keyName.empty() || !SamePath(keyName, ownKey) ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, UninstallKeyPath(keyName).c_str(), 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS) {
        *why = "Win 程序管理中没有这个安装的登记。";
        return false;
    }
    std::wstring digest, location;
    bool readDigest = ReadText(key, kRecordDigestValueW, &digest);
    bool readLocation = ReadText(key, L"InstallLocation", &location);
    RegCloseKey(key);
    if (!readLocation || !SamePath(location, WithoutTrailingBackslash(installDir))) {
        *why = "Win 程序管理中的登记属于其他位置的安装。";
        return false;
    }
    std::string computed = RecordDigestText(bytes);
    if (!readDigest || computed.empty() || digest != WideFromGbk(computed)) {
        *why = "文件与安装时登记的不符，可能已被替换或改动。";
        return false;
    }
    return true;
}

enum class RecordRead { kRead, kMissing, kUnreadable };

// Reads the record beside the uninstaller; why says what is wrong.
RecordRead ReadRecord(const std::wstring& path, std::string* text, UninstallRecord* record,
                      std::string* why) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND)
            return RecordRead::kMissing;
        *why = "文件无法打开。";
        return RecordRead::kUnreadable;
    }
    LARGE_INTEGER size = {};
    bool read = GetFileSizeEx(file, &size) && size.QuadPart <= LONGLONG(kUninstallRecordMaxBytes);
    if (read) {
        text->resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        read = text->empty() ||
               (ReadFile(file, &(*text)[0], static_cast<DWORD>(text->size()), &got, nullptr) &&
                got == text->size());
    }
    CloseHandle(file);
    if (!read) {
        *why = "文件无法读取或过大。";
        return RecordRead::kUnreadable;
    }
    size_t badLine = 0;
    RecordError error = ParseUninstallRecord(text->data(), text->size(), record, &badLine);
    if (error == RecordError::kOk)
        return RecordRead::kRead;
    *why = DescribeRecordError(error);
    if (badLine > 0)
        *why += "（第 " + std::to_string(badLine) + " 行）";
    return RecordRead::kUnreadable;
}

// True when no file the record lists is there any more (only looked at).
bool NoRecordedFileLeft(const UninstallRecord& record, const std::wstring& installDir) {
    for (const RecordedFile& file : record.Files) {
        std::wstring path = WideFrom(file.Path, RecordCodePage(record));
        if (path.empty() ||
            GetFileAttributesW((installDir + path).c_str()) != INVALID_FILE_ATTRIBUTES)
            return false;
    }
    return true;
}

// Files in the install folder that the installation did not make.
std::vector<std::wstring> NewFiles(const std::wstring& installDir, const UninstallRecord& record,
                                   const UninstallOutcome& outcome) {
    std::set<std::wstring> known;
    for (const RecordedFile& file : record.Files)
        known.insert(WideFrom(file.Path, RecordCodePage(record)));
    for (const KeptItem& item : outcome.Kept)
        known.insert(item.Name);
    std::vector<std::wstring> found;
    for (const std::wstring& file : LeftoverFiles(installDir, 1000)) {
        if (known.count(file) == 0)
            found.push_back(file);
    }
    return found;
}

int Uninstall(const std::wstring& installDir, bool silent, bool* removeProgram) {
    *removeProgram = false;
    std::wstring recordPath = installDir + WideFromGbk(kUninstallRecordFileName);
    std::string recordGbk = GbkFromWide(recordPath);
    std::string text, why;
    UninstallRecord record;
    RecordRead read = ReadRecord(recordPath, &text, &record, &why);
    if (read == RecordRead::kMissing) {
        // The record goes last, once everything else is gone: a run ended
        // just after that left only this program to remove. With the entry
        // still there, the record was lost some other way.
        if (EntryNamesFolder(installDir)) {
            if (!silent)
                ShowRecordError(recordGbk, "文件不存在，而 Win 程序管理中仍有这个安装的登记。");
            return kRecordUnreadable;
        }
        if (!silent)
            ShowNothingLeft(GbkFromWide(installDir));
        *removeProgram = true;
        return kDone;
    }
    if (read == RecordRead::kRead && !TrustRecord(text, record, installDir, &why)) {
        // A run ended by force between deleting the entry and the record
        // leaves a record no entry vouches for, and none of its files: only
        // the record and this program are left to remove.
        if (!EntryNamesFolder(installDir) && NoRecordedFileLeft(record, installDir)) {
            if (!silent)
                ShowNothingLeft(GbkFromWide(installDir));
            if (DeleteFileW(recordPath.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) {
                *removeProgram = true;
                return kDone;
            }
            return kIncomplete;
        }
        read = RecordRead::kUnreadable;
    }
    if (read == RecordRead::kUnreadable) {
        if (!silent)
            ShowRecordError(recordGbk, why);
        return kRecordUnreadable;
    }
    std::string product = GbkFromWide(WideFrom(record.Product, RecordCodePage(record)));
    std::string version = GbkFromWide(WideFrom(record.Version, RecordCodePage(record)));
    if (!silent && !AskToUninstall(product, version))
        return kDeclined;

    std::unique_ptr<ProgressWindow> window;
    if (!silent)
        window.reset(new ProgressWindow("卸载 " + product));
    UninstallOutcome outcome = RunUninstall(
        record, installDir, [&window](size_t done, size_t total, const std::wstring& item) {
            if (window)
                window->Update(done, total, item);
        });
    if (outcome.Failed.empty()) {
        if (DeleteFileW(recordPath.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND)
            *removeProgram = true;
        else
            outcome.Failed.push_back(
                {WideFromGbk(kUninstallRecordFileName), "无法删除卸载信息文件"});
    }
    window.reset();
    if (!silent)
        ShowSummary(product, version, GbkFromWide(installDir), outcome,
                    NewFiles(installDir, record, outcome));
    return outcome.Failed.empty() ? kDone : kIncomplete;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Runs elevated from the install folder and from a copy in the
    // temporary folder: no DLL is taken from either.
    RestrictDllSearchToSystemFolder();
    const wchar_t* commandLine = GetCommandLineW();
    bool silent = HasSilentSwitch(commandLine);
    CopyArguments copy = ReadCopyArguments(commandLine);
    if (copy.IsCopy && !IsStartedByOriginal(copy)) {
        if (!silent)
            ShowRefusedStart();
        return kNotStartedByOriginal;
    }
    std::vector<wchar_t> self(32768);
    DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (length == 0 || length >= self.size())
        return kIncomplete;
    std::wstring selfPath(self.data(), length);
    if (!copy.IsCopy) {
        int code = RunFromTemporaryCopy(selfPath, silent);
        if (code != -1)
            return code;
    }
    // The install folder is the uninstaller's own folder: the record never
    // says where to work.
    std::wstring original = copy.IsCopy ? copy.OriginalPath : selfPath;
    size_t separator = original.find_last_of(L'\\');
    if (separator == std::wstring::npos)
        return kIncomplete;
    std::wstring installDir = original.substr(0, separator + 1);

    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); // links are read through the shell
    bool removeProgram = false;
    int code = Uninstall(installDir, silent, &removeProgram);
    CoUninitialize();
    if (copy.IsCopy) {
        ReportToOriginal(copy, code);
        if (removeProgram)
            DeleteOriginal(original, installDir);
        DeleteCopyAtRestart(selfPath);
    } else if (removeProgram) {
        DeleteAtRestart(original); // no copy could run: the system removes it later
    }
    return code;
}
