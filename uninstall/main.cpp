// The uninstaller an installation leaves in its install folder. Exit codes:
// 0 everything that should go is gone (also when an earlier run left only
// this program), 1 something could not be removed
// (the record, the program and the Programs and Features entry stay, so it
// can run again), 2 the record could not be read (nothing was touched),
// 3 the user answered No.
#include "core/text_util.h"
#include "uninstall/self_copy.h"
#include "record/uninstall_names.h"
#include "uninstall/uninstall_run.h"
#include "uninstall/uninstall_ui.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

namespace {

enum ExitCode { kDone = 0, kIncomplete = 1, kRecordUnreadable = 2, kDeclined = 3 };

bool HasSilentSwitch(const char* commandLine) {
    std::string line = commandLine;
    for (size_t at = line.find(kSilentSwitch); at != std::string::npos;
         at = line.find(kSilentSwitch, at + 1)) {
        bool starts = at > 0 && (line[at - 1] == ' ' || line[at - 1] == '\t');
        size_t after = at + strlen(kSilentSwitch);
        if (starts && (after == line.size() || line[after] == ' ' || line[after] == '\t'))
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

enum class RecordRead { kRead, kMissing, kUnreadable };

// Reads the record beside the uninstaller; why says what is wrong.
RecordRead ReadRecord(const std::string& path, UninstallRecord* record, std::string* why) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND)
            return RecordRead::kMissing;
        *why = "文件无法打开。";
        return RecordRead::kUnreadable;
    }
    LARGE_INTEGER size = {};
    std::string text;
    bool read = GetFileSizeEx(file, &size) && size.QuadPart <= LONGLONG(kUninstallRecordMaxBytes);
    if (read) {
        text.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        read = text.empty() ||
               (ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr) &&
                got == text.size());
    }
    CloseHandle(file);
    if (!read) {
        *why = "文件无法读取或过大。";
        return RecordRead::kUnreadable;
    }
    size_t badLine = 0;
    RecordError error = ParseUninstallRecord(text.data(), text.size(), record, &badLine);
    if (error == RecordError::kOk)
        return RecordRead::kRead;
    *why = DescribeRecordError(error);
    if (badLine > 0)
        *why += "（第 " + std::to_string(badLine) + " 行）";
    return RecordRead::kUnreadable;
}

// Files in the install folder that the installation did not make.
std::vector<std::string> NewFiles(const std::string& installDir, const UninstallRecord& record,
                                  const UninstallOutcome& outcome) {
    std::set<std::string> known;
    for (const RecordedFile& file : record.Files)
        known.insert(file.Path);
    for (const KeptItem& item : outcome.Kept)
        known.insert(item.Name);
    std::vector<std::string> found;
    for (const std::string& file : LeftoverFiles(installDir, 1000)) {
        if (known.count(file) == 0)
            found.push_back(file);
    }
    return found;
}

int Uninstall(const std::string& installDir, bool silent, bool* removeProgram) {
    *removeProgram = false;
    std::string recordPath = installDir + kUninstallRecordFileName;
    UninstallRecord record;
    std::string why;
    RecordRead read = ReadRecord(recordPath, &record, &why);
    if (read == RecordRead::kMissing) {
        // The record goes last, once everything else is gone: a run ended
        // just after that left only this program to remove.
        if (!silent)
            ShowNothingLeft(installDir);
        *removeProgram = true;
        return kDone;
    }
    if (read == RecordRead::kUnreadable) {
        if (!silent)
            ShowRecordError(recordPath, why);
        return kRecordUnreadable;
    }
    if (!silent && !AskToUninstall(record.Product, record.Version))
        return kDeclined;

    std::unique_ptr<ProgressWindow> window;
    if (!silent)
        window.reset(new ProgressWindow("卸载 " + record.Product));
    UninstallOutcome outcome = RunUninstall(
        record, installDir, [&window](size_t done, size_t total, const std::string& item) {
            if (window)
                window->Update(done, total, item);
        });
    if (outcome.Failed.empty()) {
        DeleteFileA(recordPath.c_str());
        *removeProgram = true;
    }
    window.reset();
    if (!silent)
        ShowSummary(record.Product, record.Version, installDir, outcome,
                    NewFiles(installDir, record, outcome));
    return outcome.Failed.empty() ? kDone : kIncomplete;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const char* commandLine = GetCommandLineA();
    bool silent = HasSilentSwitch(commandLine);
    CopyArguments copy = ReadCopyArguments(commandLine);
    char self[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    if (length == 0 || length >= sizeof self)
        return kIncomplete;
    if (!copy.IsCopy) {
        int code = RunFromTemporaryCopy(self, silent);
        if (code != -1)
            return code;
    }
    // The install folder is the uninstaller's own folder: the record never
    // says where to work.
    std::string original = copy.IsCopy ? copy.OriginalPath : std::string(self);
    long separator = FindLastSeparatorGbk(original.c_str());
    if (separator < 0)
        return kIncomplete;
    std::string installDir = original.substr(0, static_cast<size_t>(separator) + 1);

    bool removeProgram = false;
    int code = Uninstall(installDir, silent, &removeProgram);
    if (copy.IsCopy) {
        ReportToOriginal(copy, code);
        if (removeProgram)
            DeleteOriginal(original, installDir);
        DeleteCopyAtRestart(self);
    } else if (removeProgram) {
        DeleteAtRestart(original); // no copy could run: the system removes it later
    }
    return code;
}
