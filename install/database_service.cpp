#include "install/database_service.h"

#include "core/text_util.h"
#include "install/worker_pause.h"
#include "install/folder_protection.h"
#include "install/output_recognition.h"
#include "install/process_runner.h"
#include "install/scratch_files.h"
#include "install/shortcuts.h"
#include "install/progress_log.h"
#include "record/link_places.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kCaptureFile[] = "run.tmp";
const char kSetupRunPrefix[] = "注册：";
const size_t kLineSize = 260;

struct ServiceVariant {
    const char* Name;
    const char* InstallFormat;  // install folder, database folder
    const char* StartArguments; // after the system's net.exe
    const char* InstallFailureText;
    const char* StartFailureText;
};

// The program path is quoted: an install folder with blanks must not make
// the system try "D:\My" and its like first.
const ServiceVariant kNetworkService = {
    "VTR NetWork Mysql",
    "\"%s%sbin\\mysqld.exe\" --install \"VTR NetWork Mysql\"",
    "start \"VTR NetWork Mysql\"",
    "数据库注册服务失败,请先运行安装目录VTRServer下的修复工具,修复密码962\n\n需以管理员身份运行",
    "数据库启动失败,请先运行安装目录VTRServer下的修复工具,修复密码962\n\n需以管理员身份运行",
};

const ServiceVariant kPersonalService = {
    "VTR Personal Mysql",
    "\"%s%sbin\\mysqld.exe\" --install \"VTR Personal Mysql\"",
    "start \"VTR Personal Mysql\"",
    "数据库注册服务失败,请先运行安装目录下的修复工具,修复密码962\n\n需以管理员身份运行",
    "数据库启动失败,请先运行安装目录下的修复工具,修复密码962\n\n需以管理员身份运行",
};

// The output of the last command whose capture was read; null before the
// first read, which gives a failure box the system's default caption. Path is
// where the commands' output is captured ("run.tmp" in its folder).
struct CapturedText {
    char* Data = nullptr;
    DWORD Size = 0;
    char Path[MAX_PATH] = {};

    ~CapturedText() { Release(); }
    void Release() {
        free(Data);
        Data = nullptr;
        Size = 0;
    }
};

// Replaces the held text with the contents of the capture file and deletes it. A
// file that cannot be opened or held in memory gives an empty text.
void ReadCapturedText(CapturedText* held) {
    held->Release();
    char* data = nullptr;
    DWORD size = 0;
    HANDLE file = CreateFileA(held->Path, GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD fileSize = GetFileSize(file, nullptr);
        if (fileSize != INVALID_FILE_SIZE)
            data = static_cast<char*>(malloc(static_cast<size_t>(fileSize) + 1));
        if (data != nullptr && fileSize > 0 && !ReadFile(file, data, fileSize, &size, nullptr))
            size = 0;
        CloseHandle(file);
        DeleteFileA(held->Path);
    }
    if (data == nullptr) {
        data = static_cast<char*>(malloc(1));
        size = 0;
    }
    if (data != nullptr)
        data[size] = '\0';
    held->Data = data;
    held->Size = data != nullptr ? size : 0;
}

// Wine's net and localised systems print other words than the recognised
// ones; the service manager's own view of the service settles it.
bool ServiceReportsStarted(const char* serviceName) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return false;
    bool started = false;
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_QUERY_STATUS);
    if (service != nullptr) {
        SERVICE_STATUS status = {};
        if (QueryServiceStatus(service, &status))
            started = status.dwCurrentState == SERVICE_RUNNING ||
                      status.dwCurrentState == SERVICE_START_PENDING;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return started;
}

enum class StepResult { Accepted, NotAccepted, NotRun };

StepResult RunAndRead(char* command, int newConsole, CapturedText* held,
                      bool (*accepted)(const char*, size_t)) {
    ParkWorkerBeforeCommand();
    if (RunCaptured(nullptr, command, held->Path, newConsole, INFINITE) != 0)
        return StepResult::NotRun;
    ReadCapturedText(held);
    return accepted(held->Data, held->Size) ? StepResult::Accepted : StepResult::NotAccepted;
}

bool InstallDatabaseService(const SetupContext& context, const ServiceVariant& variant,
                            CapturedText* held) {
    char command[kLineSize];
    // A cut command would name another program: refuse it as a failed install.
    if (!FormatFits(command, sizeof command, variant.InstallFormat, context.InstallDir,
                    context.VirDB))
        return false;
    StepResult result = RunAndRead(command, 0, held, IsInstallAccepted);
    if (result == StepResult::NotAccepted)
        result = RunAndRead(command, 1, held, IsInstallAccepted);
    return result == StepResult::Accepted;
}

// The system's own net.exe by its full path: a bare "net" is looked for
// first in the folder the setup program was started from, where a planted
// net.exe would run with administrator rights.
bool MakeStartCommand(char* command, size_t capacity, const ServiceVariant& variant) {
    char systemFolder[MAX_PATH];
    UINT length = GetSystemDirectoryA(systemFolder, sizeof systemFolder);
    if (length == 0 || length >= sizeof systemFolder)
        return false;
    return FormatFits(command, capacity, "\"%s\\net.exe\" %s", systemFolder,
                      variant.StartArguments);
}

bool StartDatabaseService(const ServiceVariant& variant, CapturedText* held) {
    char command[kLineSize];
    if (!MakeStartCommand(command, sizeof command, variant))
        return false;
    for (int newConsole = 0; newConsole <= 1; ++newConsole) {
        StepResult result = RunAndRead(command, newConsole, held, IsStartAccepted);
        if (result == StepResult::NotRun)
            return false;
        if (result == StepResult::Accepted || ServiceReportsStarted(variant.Name))
            return true;
    }
    return false;
}

// Installs and starts one service variant; a failure is shown to the user
// with the last captured output as the box's caption. True when started.
bool RegisterDatabaseService(const SetupContext& context, const ServiceVariant& variant,
                             CapturedText* held) {
    if (!ScratchFilePath(held->Path, sizeof held->Path, kCaptureFile, context.WorkDir))
        CopyBounded(held->Path, sizeof held->Path, kCaptureFile);
    // A mysqld.exe that was there before this run runs only when an
    // administrator's account owns it: it becomes a LocalSystem service.
    char program[kLineSize];
    bool fits = FormatFits(program, sizeof program, "%s%sbin\\mysqld.exe", context.InstallDir,
                           context.VirDB);
    const char* failure = nullptr;
    if (fits && !MayStartProgram(program))
        failure = variant.InstallFailureText;
    else if (!InstallDatabaseService(context, variant, held))
        failure = variant.InstallFailureText;
    else if (!StartDatabaseService(variant, held))
        failure = variant.StartFailureText;
    if (failure == nullptr)
        return true;
    // Never together with the stop question, and not at all after a stop.
    WorkerMessageBox(context.MainWindow, failure, held->Data, MB_OK);
    return false;
}

// Copies a fixed-size header text, which need not be terminated.
void CopyHeaderText(char* out, size_t capacity, const char* field, size_t fieldSize) {
    size_t n = strnlen(field, fieldSize);
    if (n >= capacity)
        n = capacity - 1;
    memcpy(out, field, n);
    out[n] = '\0';
}

// install folder + side folder + program file; false when it does not fit.
bool BuildTarget(char* out, size_t capacity, const SetupContext& context, const char* sideFolder,
                 const char* programField) {
    char program[kPackageTextSize];
    CopyHeaderText(program, sizeof program, programField, kPackageTextSize);
    return FormatFits(out, capacity, "%s%s%s", context.InstallDir, sideFolder, program);
}

void ShowPosition(int* position) {
    ++*position;
    SetProgressPos(nullptr, *position);
}

void PlaceSideShortcuts(SetupContext& context, bool targetFits, const char* target,
                        const char* linkName, int* position) {
    if (!context.Desktop && !context.StartMenu && !context.QuickStart)
        return;
    if (targetFits)
        PlaceShortcuts(context, target, kStartMenuFolderName, linkName);
    ShowPosition(position);
}

// The set-up run: the installed program once with its set-up argument. A
// command that does not fit is not run under a cut name.
void RunSetupProgram(bool targetFits, const char* target, const char* argsField, int* position) {
    char args[kRunArgsSize + 1];
    CopyHeaderText(args, sizeof args, argsField, kRunArgsSize);
    char command[kLineSize];
    if (targetFits && FormatFits(command, sizeof command, "\"%s\" %s", target, args) &&
        MayStartProgram(target)) {
        ParkWorkerBeforeCommand();
        AppendLogLine(nullptr, command, kSetupRunPrefix);
        RunAndWait(command, 1);
    }
    ShowPosition(position);
}

} // namespace

int PostInstallActions(SetupContext& context, int position) {
    CapturedText held;
    const PackageHeader& header = context.Header;
    if (context.InstallServer) {
        char target[kLineSize];
        bool fits =
            BuildTarget(target, sizeof target, context, context.VirSer, header.ServerProgram);
        PlaceSideShortcuts(context, fits, target, kServerLinkName, &position);
        if (context.DB2) {
            bool started = RegisterDatabaseService(context, kNetworkService, &held);
            held.Release();
            if (started && header.ServerRunFlag)
                RunSetupProgram(fits, target, header.ServerRunArgs, &position);
        }
    }
    if (context.InstallClient) {
        char target[kLineSize];
        bool fits =
            BuildTarget(target, sizeof target, context, context.VirCli, header.ClientProgram);
        PlaceSideShortcuts(context, fits, target, kClientLinkName, &position);
        if (!context.InstallServer && header.ServerEntryCount == 0) {
            bool started = RegisterDatabaseService(context, kPersonalService, &held);
            held.Release();
            if (!started)
                return 1;
        }
        if (header.ClientRunFlag)
            RunSetupProgram(fits, target, header.ClientRunArgs, &position);
    }
    return 1;
}
