#include "install/extraction_worker.h"

#include "install/setup_context.h"
#include "core/text_util.h"
#include "install/directory_path.h"
#include "package/package_reader.h"
#include "package/package_resources.h"
#include "install/placed_files.h"
#include "package/stream_inflater.h"
#include "install/worker_pause.h"
#include "install/database_service.h"
#include "install/folder_protection.h"
#include "install/unpack_ahead.h"
#include "install/uninstall_registration.h"
#include "resources/resource_ids.h"
#include "install/progress_log.h"

#include <cstdio>
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

// How a new target's unpacking ended.
enum class Placement {
    Placed,        // the target is in place (with the package's times unless cancelled)
    FoundExisting, // something was already there: it stays, the new data is dropped
    Failed,        // the outcome says why
};

// The partial file sits beside its target, so that moving it into place is a
// rename within one folder. A folder that leaves no room for the name (a
// target of 250 to 259 bytes with a short name) is named by its short form;
// failing that the partial goes to the nearest enclosing folder with room. A
// rename never copies, so no torn target can appear either way.
bool PartialPathFor(const char* folder, char* partial, size_t size) {
    if (FormatFits(partial, size, "%s%s", folder, kPartialName))
        return true;
    char shortFolder[260];
    DWORD length = GetShortPathNameA(folder, shortFolder, sizeof shortFolder);
    if (length != 0 && length < sizeof shortFolder &&
        FindLastSeparatorGbk(shortFolder) == static_cast<long>(length) - 1 &&
        FormatFits(partial, size, "%s%s", shortFolder, kPartialName))
        return true;
    char enclosing[260];
    CopyBounded(enclosing, sizeof enclosing, folder);
    for (;;) {
        enclosing[strlen(enclosing) - 1] = '\0'; // the folder's own backslash
        long separator = FindLastSeparatorGbk(enclosing);
        if (separator < 0)
            return false;
        enclosing[separator + 1] = '\0';
        if (FormatFits(partial, size, "%s%s", enclosing, kPartialName))
            return true;
    }
}

// Renames an open file to target without replacing anything there.
bool RenameOpenFile(HANDLE file, const char* target) {
    // The name runs on past the structure's one-character array, terminated.
    struct {
        FILE_RENAME_INFO Info;
        WCHAR Rest[260];
    } request = {};
    int length = MultiByteToWideChar(CP_ACP, 0, target, -1, request.Info.FileName, 260);
    if (length <= 1) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    request.Info.ReplaceIfExists = FALSE;
    request.Info.RootDirectory = nullptr;
    request.Info.FileNameLength = static_cast<DWORD>(length - 1) * sizeof(WCHAR);
    return SetFileInformationByHandle(file, FileRenameInfo, &request, sizeof request) != 0;
}

void SetPackageTimes(HANDLE file, const PackageEntry& entry) {
    FILETIME times[3];
    memcpy(&times[0], &entry.CreationTime, sizeof times[0]);
    memcpy(&times[1], &entry.LastAccessTime, sizeof times[1]);
    memcpy(&times[2], &entry.LastWriteTime, sizeof times[2]);
    SetFileTime(file, &times[0], &times[1], &times[2]);
}

bool IsExistsError(DWORD error) {
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

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
    HANDLE work_ = INVALID_HANDLE_VALUE; // the open work file, once made
    DWORD workLength_ = 0;               // the current entry's stream at its start
    DWORD workExtent_ = 0;               // the file's length: that of the longest stream

    SYSTEMTIME now_ = {};
    // The previous entry's folder, known to exist (empty when not known), and
    // whether this run made it: then it holds only what this run put there.
    char knownFolder_[260] = {};
    bool knownFolderIsNew_ = false;
    // Large entries unpacked on the second core; entry_ counts the run's
    // entries as the helper numbers them.
    UnpackAhead ahead_;
    size_t entry_ = 0;

    void Status(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool CancelRequested(DWORD waitMs);
    void Fail(int outcome, const char* subject);
    int StepTotal() const;
    void PlanGroups(GroupPlan plans[3]) const;
    void MakeBackupFolder(const char* folder);
    bool WriteWorkStream(const uint8_t* stream, DWORD length, DWORD* written);
    void StartUnpackingAhead(const PackageView& package, const GroupPlan plans[3]);
    void InstallEntry(const PackageView& package, const PackageEntry& entry, const char* folder);
    bool PlaceUnpackedAhead(UnpackedAhead& unpacked, const char* target, const PackageEntry& entry,
                            Placement* placed);
    Placement UnpackNewTarget(const char* target, const char* folder, const PackageEntry& entry,
                              const uint8_t* stream);
    Placement MoveIntoPlace(HANDLE file, FILE* output, const char* partial, const char* target,
                            const PackageEntry* times);
    void CloseWorkFile();
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
    // The frame creates the event when the user confirms; until then there
    // is nothing to wait for (a wait on the null handle would fail at once,
    // meaning "go on", but still costs a kernel call).
    HANDLE cancel = InterlockedCompareExchangePointer(&context_.CancelEvent, nullptr, nullptr);
    if (cancel == nullptr || WaitForSingleObject(cancel, waitMs) != WAIT_OBJECT_0)
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

// Unpacks the entry's stream (the bytes just written to the work file, read
// from the mapped payload) into a partial file, then moves it into place with
// the package's times. On failure nothing remains under either name.
Placement WorkerRun::UnpackNewTarget(const char* target, const char* folder,
                                     const PackageEntry& entry, const uint8_t* stream) {
    char partial[260];
    if (!PartialPathFor(folder, partial, sizeof partial)) {
        Fail(kPathTooLong, target);
        return Placement::Failed;
    }
    // Something under the partial name in a folder this run did not make is
    // removed, never written into: a file planted there would keep its owner
    // (or, as a hard link, carry the data to its other names).
    if (!knownFolderIsNew_ || strncmp(partial, folder, strlen(folder)) != 0)
        DeleteFileA(partial);
    // Unpacked on the second core already?
    UnpackedAhead unpacked;
    switch (ahead_.TakeEntry(entry_, WorkerShouldStop, &unpacked)) {
    case UnpackAhead::Take::Stopped:
        Fail(kCancelled, "");
        return Placement::Failed;
    case UnpackAhead::Take::Ready: {
        Placement placed;
        if (PlaceUnpackedAhead(unpacked, target, entry, &placed))
            return placed;
        break;
    }
    case UnpackAhead::Take::Yours:
        break;
    }
    // One handle writes the partial file, gives it the times and renames it.
    // CREATE_NEW: whatever still stands under the name is not written through.
    HANDLE file = CreateFileA(partial, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // Its folder could not be made.
        Fail(kTargetNotOpened, target);
        return Placement::Failed;
    }
    FILE* output = StreamOverHandle(file);
    if (output == nullptr) {
        DeleteFileA(partial);
        Fail(kTargetNotOpened, target);
        return Placement::Failed;
    }
    // Between blocks the inflater parks for the question and ends on a
    // confirmed stop, so a large entry never keeps the stop waiting.
    ContentStamp stamp;
    int result = 0;
    try {
        result = InflateToStreamStamped(stream, entry.CompressedLength, output, &stamp,
                                        WorkerShouldStop);
        // Files unpacked ahead take room this entry would have had.
        if (result == StreamInflater::kWriteFailed && ahead_.Stop()) {
            fclose(output);
            DeleteFileA(partial);
            return UnpackNewTarget(target, folder, entry, stream);
        }
    } catch (...) {
        // The run's catch-all counts the entry as done; the partial file
        // must not stay open and behind.
        fclose(output);
        DeleteFileA(partial);
        throw;
    }
    if (result == StreamInflater::kAborted) {
        fclose(output);
        DeleteFileA(partial);
        Fail(kCancelled, "");
        return Placement::Failed;
    }
    if (result != 0) {
        fclose(output);
        DeleteFileA(partial);
        Fail(kInflateFailed, target);
        return Placement::Failed;
    }
    // A cancel seen now leaves the target with the time of its unpacking.
    bool cancelled = CancelRequested(10);
    Placement placed = MoveIntoPlace(file, output, partial, target, cancelled ? nullptr : &entry);
    if (placed == Placement::Placed)
        RememberPlacedFile(target, stamp);
    return placed;
}

// Moves a file the helper unpacked into place as MoveIntoPlace does. False
// when it cannot be renamed there (another volume below the install folder):
// it is removed, and the entry is unpacked here instead.
bool WorkerRun::PlaceUnpackedAhead(UnpackedAhead& unpacked, const char* target,
                                   const PackageEntry& entry, Placement* placed) {
    // A cancel seen now leaves the target with the time of its unpacking.
    if (!CancelRequested(10))
        SetPackageTimes(unpacked.File, entry);
    bool moved = RenameOpenFile(unpacked.File, target);
    DWORD error = moved ? ERROR_SUCCESS : GetLastError();
    fclose(unpacked.Output);
    if (moved) {
        RememberPlacedFile(target, unpacked.Stamp);
        *placed = Placement::Placed;
        return true;
    }
    DeleteFileA(unpacked.Path);
    *placed = Placement::FoundExisting;
    return IsExistsError(error);
}

// The times are set on the handle that wrote the partial file and also
// renames it, so the target is not opened once more. Closes output (and
// with it the handle).
Placement WorkerRun::MoveIntoPlace(HANDLE file, FILE* output, const char* partial,
                                   const char* target, const PackageEntry* times) {
    if (times != nullptr)
        SetPackageTimes(file, *times);
    bool moved = RenameOpenFile(file, target);
    DWORD error = moved ? ERROR_SUCCESS : GetLastError();
    fclose(output);
    if (!moved && !IsExistsError(error)) {
        // A file system that cannot rename by handle still can by name.
        moved = MoveFileExA(partial, target, 0) != 0;
        error = moved ? ERROR_SUCCESS : GetLastError();
    }
    if (moved)
        return Placement::Placed;
    DeleteFileA(partial);
    if (IsExistsError(error))
        return Placement::FoundExisting;
    Fail(kTargetNotOpened, target);
    return Placement::Failed;
}

// Writes an entry's stream into the work file in pieces, so that a stop
// asked meanwhile need not wait for a large one. False when a write failed
// or the run was stopped (the outcome then says so).
bool WorkerRun::WriteWorkStream(const uint8_t* stream, DWORD length, DWORD* written) {
    const DWORD kPiece = 4u << 20;
    *written = 0;
    while (*written < length) {
        if (WorkerShouldStop()) {
            Fail(kCancelled, "");
            return false;
        }
        DWORD piece = length - *written < kPiece ? length - *written : kPiece;
        DWORD done = 0;
        if (!WriteFile(work_, stream + *written, piece, &done, nullptr) || done != piece) {
            *written += done;
            return false;
        }
        *written += done;
    }
    return true;
}

void WorkerRun::InstallEntry(const PackageView& package, const PackageEntry& entry,
                             const char* folder) {
    Status("抽取：%s %s %260d", "Reading ...", entry.RelativePath, 0);
    AppendLogLine(nullptr, entry.RelativePath, "抽取：");
    if (CancelRequested(10))
        return;

    // One handle serves the run: each entry rewrites the file from its start;
    // the file is cut after the last one when the run ends (CloseWorkFile).
    if (work_ == INVALID_HANDLE_VALUE) {
        HANDLE work = CreateFileA(workFile_, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (work == nullptr || work == INVALID_HANDLE_VALUE) {
            Fail(kWorkFileNotCreated, workFile_);
            return;
        }
        work_ = work;
    }
    DWORD written = 0;
    const uint8_t* stream = package.Stream(entry);
    bool wrote = stream != nullptr && SetFilePointer(work_, 0, nullptr, FILE_BEGIN) == 0 &&
                 WriteWorkStream(stream, entry.CompressedLength, &written);
    if (written > workExtent_)
        workExtent_ = written;
    workLength_ = written;
    if (outcome_ != kRunning)
        return;
    if (!wrote || written != entry.CompressedLength) {
        workLength_ = workExtent_; // as it was when a write failed: not cut
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
    char targetFolder[260];
    CopyBounded(targetFolder, sizeof targetFolder, target);
    targetFolder[FindLastSeparatorGbk(targetFolder) + 1] = '\0';
    // The previous entry's folder is known to exist: it is not probed again.
    if (strcmp(targetFolder, knownFolder_) != 0) {
        FolderState state = EnsureFolderPath(target, 1);
        CopyBounded(knownFolder_, sizeof knownFolder_,
                    state == FolderState::Missing ? "" : targetFolder);
        knownFolderIsNew_ = state == FolderState::Created;
    }
    if (CancelRequested(20))
        return;
    Status("%s %s %260d", "Uncompressing data file...", target, 0);

    try {
        // In a folder this run made only a name the package repeats could
        // exist; the move into place never replaces it, and says so.
        bool exists = false;
        if (!knownFolderIsNew_) {
            WIN32_FIND_DATAA found;
            HANDLE existing = FindFirstFileA(target, &found);
            exists = existing != nullptr && existing != INVALID_HANDLE_VALUE;
            if (exists)
                FindClose(existing); // kept as it is; it only gets the package's times
        }
        bool polled = false;
        if (!exists) {
            Placement placed = UnpackNewTarget(target, targetFolder, entry, stream);
            if (placed == Placement::Failed || outcome_ != kRunning)
                return;
            exists = placed == Placement::FoundExisting;
            polled = true;
        }
        if (exists) {
            if (!polled && CancelRequested(10))
                return;
            HANDLE file = CreateFileA(target, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE) {
                Fail(kTargetNotOpened, target);
                return;
            }
            SetPackageTimes(file, entry);
            CloseHandle(file);
        }
    } catch (...) {
        // Counted as done, as the installation always has.
    }
    SetProgressPos(nullptr, ++position_);
}

// The work file is left holding the last entry's stream and nothing after it.
// It is cut once here rather than after every shorter entry: each cut is a
// request to the Wine server, and no one reads the file during the run.
void WorkerRun::CloseWorkFile() {
    if (work_ == INVALID_HANDLE_VALUE)
        return;
    LARGE_INTEGER length;
    length.QuadPart = workLength_;
    if (workExtent_ > workLength_ && SetFilePointerEx(work_, length, nullptr, FILE_BEGIN))
        SetEndOfFile(work_);
    CloseHandle(work_);
    work_ = INVALID_HANDLE_VALUE;
}

// Hands the helper the streams of every entry this run will unpack, in order.
// An entry the index cannot give ends the list; the run stops there anyway.
void WorkerRun::StartUnpackingAhead(const PackageView& package, const GroupPlan plans[3]) {
    std::vector<AheadSource> sources;
    for (int p = 0; p < 3; ++p) {
        if (!plans[p].Taken)
            continue;
        GroupRange range = package.Group(plans[p].Group);
        for (uint32_t i = 0; i < range.Count; ++i) {
            PackageEntry entry;
            if (!package.Entry(range.First + i, &entry))
                break;
            sources.push_back({package.Stream(entry), entry.CompressedLength, entry.Size});
        }
    }
    ahead_.Start(context_.InstallDir, sources);
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
    ForgetPlacedFiles();

    ResourceBytes index = LoadPackageResource(kIndexResourceId);
    ResourceBytes payload = LoadPackageResource(kPayloadResourceId);
    PackageView package(index.Data, index.Size, payload.Data, payload.Size);
    // Checked at start-up already; checked again because nothing may be read
    // outside the resources whatever happened since.
    if (package.Validate() != PackageFault::kOk)
        Fail(kPackageDamaged, "");
    // Before the first folder or file is made below the install folder.
    if (outcome_ == kRunning) {
        SecureInstallFolder(context_);
        StartUnpackingAhead(package, plans);
    }

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
            ahead_.Done(entry_++);
        }
    }

    ahead_.Stop();
    CloseWorkFile();

    DWORD exitCode = 0;
    if (outcome_ == kRunning) {
        ParkWorkerIfAsked();
        int result = PostInstallActions(context_, position_);
        // The registration's safe point: a stop confirmed by now means no
        // registration at all; once begun it runs to its end (the frame
        // ends the worker by force only in a child process wait).
        if (WorkerShouldStop()) {
            Fail(kCancelled, "");
        } else {
            RegisterUninstall(context_);
            context_.Failed = result == 0 ? 1 : 0;
        }
        exitCode = 1;
    }
    if (outcome_ != kRunning)
        FinishRun();
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
