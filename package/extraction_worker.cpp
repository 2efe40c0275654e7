#include "package/extraction_worker.h"

#include "app/setup_context.h"
#include "app/text_util.h"
#include "package/directory_path.h"
#include "package/package_reader.h"
#include "package/package_resources.h"
#include "package/stream_inflater.h"
#include "package/worker_pause.h"
#include "postinstall/database_service.h"
#include "postinstall/uninstall_registration.h"
#include "resources/resource_ids.h"
#include "wizard/progress_log.h"

#include <cstring>

namespace {

// Why a run stopped; the texts go to the Finish page.
enum Outcome {
    kRunning = 0,
    kWorkFileNotCreated = 4, // "创建文件%s错误。"
    kTargetNotOpened = 5,    // "打开文件%s错误。"
    kWorkFileNotWritten = 6, // "写文件%s错误。"
    kCancelled = 7,          // "用户终止。"
    kInflateFailed = 8,      // "解压文件%s错误。"
    kPathTooLong = 9,        // "文件路径过长：%s"
    kPackageDamaged = 10,    // "安装包已损坏，无法安装。"
};

// A status text always fills the line: 260 bytes, padded with spaces.
constexpr size_t kStatusBytes = 260;
// Unpacked data goes here first, beside the target, and is moved into place
// only when complete: a run ended by force never leaves a partial target.
const char kPartialName[] = "~MDPX.part";

volatile LONG g_outcomeRecorded;

struct GroupPlan {
    PackageGroup Group;
    const char* Folder;
    bool Taken;
};

class WorkerRun {
  public:
    explicit WorkerRun(SetupContext& context) : context_(context) {}
    DWORD Run();

  private:
    SetupContext& context_;
    int outcome_ = kRunning;
    char outcomeSubject_[520] = {}; // the path named by the failure text
    int position_ = 0;
    char workFile_[260] = {};
    SYSTEMTIME now_ = {};

    void Status(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool CancelRequested(DWORD waitMs);
    void Fail(int outcome, const char* subject);
    int StepTotal() const;
    void PlanGroups(GroupPlan plans[3]) const;
    void MakeBackupFolder(const char* folder);
    void InstallEntry(const PackageView& package, const PackageEntry& entry, const char* folder);
    bool UnpackNewTarget(const char* target);
    void FinishRun();
};

void WorkerRun::Status(const char* format, ...) {
    char text[kStatusBytes + 1];
    va_list args;
    va_start(args, format);
    FormatBoundedV(text, sizeof text, format, args);
    va_end(args);
    SetWindowTextA(context_.StatusLine, text);
}

bool WorkerRun::CancelRequested(DWORD waitMs) {
    ParkWorkerIfAsked();
    // The frame creates the event when the user confirms; until then the
    // wait on a null handle fails at once, which means "go on".
    HANDLE cancel = InterlockedCompareExchangePointer(&context_.CancelEvent, nullptr, nullptr);
    if (WaitForSingleObject(cancel, waitMs) != WAIT_OBJECT_0)
        return false;
    Fail(kCancelled, "");
    return true;
}

void WorkerRun::Fail(int outcome, const char* subject) {
    if (outcome_ != kRunning)
        return;
    outcome_ = outcome;
    CopyBounded(outcomeSubject_, sizeof outcomeSubject_, subject);
}

void WorkerRun::PlanGroups(GroupPlan plans[3]) const {
    const PackageHeader& h = context_.Header;
    bool hasServer = h.ServerEntryCount != 0;
    bool server = context_.InstallServer != 0;
    bool client = context_.InstallClient != 0;
    // The database goes with the server side, or with the client side in a
    // package that has no server group.
    plans[0] = {PackageGroup::Server, context_.VirSer, hasServer && server};
    plans[1] = {PackageGroup::Client, context_.VirCli, client};
    plans[2] = {PackageGroup::Database, context_.VirDB, hasServer ? server : client};
}

int WorkerRun::StepTotal() const {
    const PackageHeader& h = context_.Header;
    int shortcuts = (context_.Desktop || context_.QuickStart || context_.StartMenu) ? 1 : 0;
    int serverRun = h.ServerRunFlag ? 1 : 0;
    int clientRun = h.ClientRunFlag ? 1 : 0;
    int64_t total = 0;
    if (h.ServerEntryCount != 0) {
        if (context_.InstallServer)
            total += int64_t(h.ServerEntryCount) + h.DatabaseEntryCount + shortcuts + serverRun;
        if (context_.InstallClient)
            total += int64_t(h.ClientEntryCount) + shortcuts + clientRun;
    } else {
        total = int64_t(h.ClientEntryCount) + h.DatabaseEntryCount;
        if (context_.InstallClient)
            total += shortcuts + clientRun;
    }
    return total > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(total);
}

void WorkerRun::MakeBackupFolder(const char* folder) {
    char backup[260];
    // A path cut to fit would name some other folder, possibly outside the
    // install folder: such a backup folder is not made at all.
    bool fits = FormatFits(backup, sizeof backup, "%s%s%04d.%02d.%02d.%01d\\", context_.InstallDir,
                           folder, now_.wYear, now_.wMonth, now_.wDay, now_.wDayOfWeek);
    char shortPath[260] = {};
    DWORD length = fits ? GetShortPathNameA(backup, shortPath, sizeof shortPath) : 0;
    if (length == 0 || length >= sizeof shortPath)
        shortPath[0] = '\0';
    Status("Create backup directory %s%260d", shortPath, 0);
    if (!fits)
        return;
    CreateDirectoryA(backup, nullptr);
    SetFileAttributesA(backup,
                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

// Unpacks the work file into a partial file beside the target, then moves it
// into place. On failure nothing remains under either name.
bool WorkerRun::UnpackNewTarget(const char* target) {
    char folder[260];
    CopyBounded(folder, sizeof folder, target);
    folder[FindLastSeparatorGbk(folder) + 1] = '\0';
    char partial[260];
    if (!FormatFits(partial, sizeof partial, "%s%s", folder, kPartialName)) {
        Fail(kPathTooLong, target);
        return false;
    }
    int result = InflateFile(workFile_, partial);
    if (result != 0) {
        DeleteFileA(partial);
        Fail(kInflateFailed, target);
        return false;
    }
    if (!MoveFileExA(partial, target, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(partial);
        Fail(kTargetNotOpened, target);
        return false;
    }
    return true;
}

void WorkerRun::InstallEntry(const PackageView& package, const PackageEntry& entry,
                             const char* folder) {
    Status("抽取：%s %s %260d", "Reading ...", entry.RelativePath, 0);
    AppendLogLine(nullptr, entry.RelativePath, "抽取：");
    if (CancelRequested(10))
        return;

    HANDLE work = CreateFileA(workFile_, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (work == nullptr || work == INVALID_HANDLE_VALUE) {
        Fail(kWorkFileNotCreated, workFile_);
        return;
    }
    DWORD written = 0;
    const uint8_t* stream = package.Stream(entry);
    BOOL wrote =
        stream != nullptr && (entry.CompressedLength == 0 ||
                              WriteFile(work, stream, entry.CompressedLength, &written, nullptr));
    CloseHandle(work);
    if (!wrote || written != entry.CompressedLength) {
        Fail(kWorkFileNotWritten, workFile_);
        return;
    }

    char target[260];
    if (!FormatFits(target, sizeof target, "%s%s%s", context_.InstallDir, folder,
                    entry.RelativePath)) {
        char full[1040];
        FormatBounded(full, sizeof full, "%s%s%s", context_.InstallDir, folder, entry.RelativePath);
        Fail(kPathTooLong, full);
        return;
    }
    EnsureDirectoryPath(target, 1);
    if (CancelRequested(20))
        return;
    Status("%s %s %260d", "Uncompressing data file...", target, 0);

    try {
        WIN32_FIND_DATAA found;
        HANDLE existing = FindFirstFileA(target, &found);
        if (existing != nullptr && existing != INVALID_HANDLE_VALUE) {
            FindClose(existing); // kept as it is; it only gets the package's times
        } else if (!UnpackNewTarget(target)) {
            return;
        }
        if (CancelRequested(10))
            return;
        HANDLE file = CreateFileA(target, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            Fail(kTargetNotOpened, target);
            return;
        }
        FILETIME times[3];
        memcpy(&times[0], &entry.CreationTime, sizeof times[0]);
        memcpy(&times[1], &entry.LastAccessTime, sizeof times[1]);
        memcpy(&times[2], &entry.LastWriteTime, sizeof times[2]);
        SetFileTime(file, &times[0], &times[1], &times[2]);
        CloseHandle(file);
    } catch (...) {
        // Counted as done, as the installation always has.
    }
    SetProgressPos(nullptr, ++position_);
}

void WorkerRun::FinishRun() {
    // The Finish page's text for each way a run can stop; %s is the path named.
    static const struct {
        int Outcome;
        const char* Format;
    } kTexts[] = {
        {kWorkFileNotCreated, "创建文件%s错误。"}, {kTargetNotOpened, "打开文件%s错误。"},
        {kWorkFileNotWritten, "写文件%s错误。"},   {kInflateFailed, "解压文件%s错误。"},
        {kPathTooLong, "文件路径过长：%s"},        {kPackageDamaged, "安装包已损坏，无法安装。"},
    };
    const char* format = "用户终止。";
    for (const auto& text : kTexts) {
        if (text.Outcome == outcome_)
            format = text.Format;
    }
    FormatBounded(context_.ErrorText, sizeof context_.ErrorText, format, outcomeSubject_);
    context_.Failed = 1;
}

DWORD WorkerRun::Run() {
    Status("%s%130c", "initializing ...", ' ');
    GroupPlan plans[3];
    PlanGroups(plans);
    int total = StepTotal();
    SendMessageA(context_.LogList, WM_VSCROLL, SB_TOP, 0);
    SetProgressRange(nullptr, total);
    FormatBounded(workFile_, sizeof workFile_, "%s%s", context_.WorkDir, "Zlib.tmp");
    GetLocalTime(&now_);

    ResourceBytes index = LoadPackageResource(kIndexResourceId);
    ResourceBytes payload = LoadPackageResource(kPayloadResourceId);
    PackageView package(index.Data, index.Size, payload.Data, payload.Size);
    // Checked at start-up already; checked again because nothing may be read
    // outside the resources whatever happened since.
    if (package.Validate() != PackageFault::kOk)
        Fail(kPackageDamaged, "");

    for (const GroupPlan& plan : plans) {
        if (outcome_ != kRunning)
            break;
        if (!plan.Taken)
            continue;
        MakeBackupFolder(plan.Folder);
        GroupRange range = package.Group(plan.Group);
        for (uint32_t i = 0; i < range.Count && outcome_ == kRunning; ++i) {
            PackageEntry entry;
            if (!package.Entry(range.First + i, &entry)) {
                Fail(kPackageDamaged, "");
                break;
            }
            InstallEntry(package, entry, plan.Folder);
        }
    }

    DWORD exitCode = 0;
    if (outcome_ == kRunning) {
        ParkWorkerIfAsked();
        int result = PostInstallActions(context_, position_);
        RegisterUninstall(context_);
        context_.Failed = result == 0 ? 1 : 0;
        exitCode = 1;
    } else {
        FinishRun();
    }
    InterlockedExchange(&g_outcomeRecorded, 1);
    SendMessageA(context_.MainWindow, WM_INSTALL_DONE, 0, 0);
    return exitCode;
}

} // namespace

bool WorkerRecordedOutcome() {
    return InterlockedCompareExchange(&g_outcomeRecorded, 0, 0) != 0;
}

DWORD WINAPI ExtractionWorker(LPVOID argument) {
    InterlockedExchange(&g_outcomeRecorded, 0);
    WorkerRun run(*static_cast<SetupContext*>(argument));
    return run.Run();
}
