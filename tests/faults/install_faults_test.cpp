// Faults of the machine during an installation, with the real worker in a
// process of its own: a full drive, a target that cannot be written, a
// missing drive and an install folder whose paths are too long. Each run must
// end with a failure text and leave every earlier file as it was.
#include "tests/support/fault_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, strlen(prefix), prefix) == 0;
}

// Wine shows the Linux root as Z:.
std::string WinePathOfUnix(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

// Polls until ready() holds, for at most five seconds.
template <typename Ready> void WaitUntilReady(Ready ready) {
    for (int i = 0; i < 100 && !ready(); ++i)
        Sleep(50);
}

class InstallFaultTest : public ::testing::Test {
  protected:
    // Builds the package's setup program in the scene's folder.
    std::string BuildSetup(const TestPackage& package, const FaultScene& scene) {
        std::string exe = scene.Root + "work\\setup.exe";
        EXPECT_TRUE(WriteTestSetup(package, exe));
        return exe;
    }
};

TEST_F(InstallFaultTest, FullDriveStopsWithAMessageAndTearsNothing) {
    char control[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableA("FAULT_FULL_CONTROL", control, sizeof control);
    if (n == 0 || n >= sizeof control)
        GTEST_SKIP() << "the small-drive simulation is not preloaded (no host compiler?)";
    std::string controlFile = WinePathOfUnix(control);
    TestPackage package = PlainPackage(8, 40000);
    CaseResult result{"Disk fills up during the install", 0, 0, 0, 0, ""};
    const long long budgets[] = {0, 3000, 60000, 250000, 600000};
    int effective = 0;
    for (long long budget : budgets) {
        FaultScene scene("diskfull");
        std::string exe = BuildSetup(package, scene);
        std::string drive = UnixPathOf(scene.InstallDir);
        ASSERT_FALSE(drive.empty());
        std::string refusedFile = controlFile + ".refused";
        DeleteFileA(refusedFile.c_str());
        ASSERT_TRUE(WriteBytes(controlFile, drive + "\n" + std::to_string(budget) + "\n"));
        WorkerOutcome outcome = RunFaultWorker(exe, scene.InstallDir, scene.WorkDir);
        DeleteFileA(controlFile.c_str());
        // The simulation leaves this behind once it cut a write short.
        bool refused = DeleteFileA(refusedFile.c_str()) != FALSE;
        ++result.Runs;
        bool survived = outcome.ProcessExit == 0;
        EXPECT_TRUE(survived) << "budget " << budget << ": exit " << outcome.ProcessExit;
        result.Survived += survived;
        if (!refused && outcome.Failed == 0) {
            // The preload did not reach the program: nothing was simulated.
            continue;
        }
        ++effective;
        EXPECT_EQ(outcome.Failed, 1u)
            << budget << ": a write was refused, the run reported success";
        const std::string prefix = "解压文件", suffix = "错误。";
        const std::string& text = outcome.ErrorText;
        bool message = StartsWith(text, prefix.c_str()) &&
                       text.size() > prefix.size() + suffix.size() &&
                       text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
        EXPECT_TRUE(message) << budget << ": " << text;
        result.MessageShown += message;
        std::string lost = scene.CheckNothingLost();
        // Every target against the package: complete before the one named,
        // nothing under its name or any later one, no partial file left.
        std::string failed =
            message ? text.substr(prefix.size(), text.size() - prefix.size() - suffix.size()) : "";
        std::string torn = scene.CheckTargetsUpTo(package, failed);
        EXPECT_EQ(lost, "") << budget;
        EXPECT_EQ(torn, "") << budget;
        result.NothingLost += lost.empty() && torn.empty();
    }
    if (effective == 0)
        GTEST_SKIP() << "the preloaded small-drive simulation did not take effect here";
    EXPECT_EQ(effective, static_cast<int>(std::size(budgets)));
    result.Note = "install folder's filesystem answers ENOSPC after 0 B to 600 KB "
                  "(preloaded write shim)";
    RecordCase(result);
}

TEST_F(InstallFaultTest, ReadOnlyTargetEndsWithOpenFileError) {
    FaultScene scene("readonly");
    TestPackage package = PlainPackage(2, 1000);
    std::string exe = BuildSetup(package, scene);
    std::string kept = scene.InstallDir + kKeptTarget;
    ASSERT_TRUE(SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE probe = CreateFileA(kept.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_NORMAL);
        RecordCase({"Read-only existing target", 0, 0, 0, 0,
                    "skipped: this platform lets root write read-only files"});
        GTEST_SKIP() << "read-only files are writable here (root under Wine)";
    }
    WorkerOutcome outcome = RunFaultWorker(exe, scene.InstallDir, scene.WorkDir);
    SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(outcome.ProcessExit, 0);
    EXPECT_EQ(outcome.Failed, 1u);
    std::string expected = "打开文件" + kept + "错误。";
    EXPECT_EQ(outcome.ErrorText, expected);
    std::string lost = scene.CheckNothingLost();
    EXPECT_EQ(lost, "");
    RecordCase({"Read-only existing target", 1, outcome.ProcessExit == 0,
                outcome.ErrorText == expected, lost.empty(), "打开文件…错误。"});
}

TEST_F(InstallFaultTest, TargetHeldOpenByAnotherProcessEndsWithOpenFileError) {
    FaultScene scene("held");
    TestPackage package = PlainPackage(2, 1000);
    std::string exe = BuildSetup(package, scene);
    std::string kept = scene.InstallDir + kKeptTarget;
    // A child inherits the only handle, opened without sharing, and holds it.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE file = CreateFileA(kept.c_str(), GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::string line = "\"" + BinPath("child-probe.exe") + "\" sleep 60000";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION holder = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                               nullptr, &startup, &holder));
    CloseHandle(file);
    CloseHandle(holder.hThread);
    HANDLE again = CreateFileA(kept.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(again, INVALID_HANDLE_VALUE) << "the holder does not hold the file";
    if (again != INVALID_HANDLE_VALUE)
        CloseHandle(again);

    WorkerOutcome outcome = RunFaultWorker(exe, scene.InstallDir, scene.WorkDir);
    TerminateProcess(holder.hProcess, 0);
    WaitForSingleObject(holder.hProcess, 5000);
    CloseHandle(holder.hProcess);
    // The holder's handle is closed a little after its process ends.
    WaitUntilReady([&] {
        HANDLE probe =
            CreateFileA(kept.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe != INVALID_HANDLE_VALUE)
            CloseHandle(probe);
        return probe != INVALID_HANDLE_VALUE;
    });
    EXPECT_EQ(outcome.ProcessExit, 0);
    std::string expected = "打开文件" + kept + "错误。";
    EXPECT_EQ(outcome.ErrorText, expected);
    std::string lost = scene.CheckNothingLost();
    EXPECT_EQ(lost, "");
    RecordCase({"Target held open without sharing by another process", 1, outcome.ProcessExit == 0,
                outcome.ErrorText == expected, lost.empty(), "打开文件…错误。"});
}

TEST_F(InstallFaultTest, InstallFolderOnAMissingDriveFailsCleanly) {
    char drive = 0;
    for (char letter = 'Q'; letter <= 'Y' && !drive; ++letter) {
        char root[] = {letter, ':', '\\', '\0'};
        if (GetDriveTypeA(root) == DRIVE_NO_ROOT_DIR)
            drive = letter;
    }
    ASSERT_NE(drive, 0) << "every drive letter from Q to Y exists";
    FaultScene scene("nodrive");
    TestPackage package = PlainPackage(2, 1000);
    std::string exe = BuildSetup(package, scene);
    std::string installDir = std::string(1, drive) + ":\\澜枢软件\\";
    WorkerOutcome outcome = RunFaultWorker(exe, installDir, scene.WorkDir);
    EXPECT_EQ(outcome.ProcessExit, 0);
    EXPECT_EQ(outcome.Failed, 1u);
    // The first target's folder cannot be made, so the target cannot be opened.
    std::string expected = "打开文件" + installDir + InstalledPath(package.Files[0]) + "错误。";
    bool message = outcome.ErrorText == expected;
    EXPECT_EQ(outcome.ErrorText, expected);
    std::string lost = scene.CheckNothingLost();
    EXPECT_EQ(lost, "");
    RecordCase({"Install folder on a drive that does not exist", 1, outcome.ProcessExit == 0,
                message, lost.empty(), "打开文件…错误。 naming the target"});
}

TEST_F(InstallFaultTest, OverlongInstallFolderCreatesNothingUnderACutName) {
    CaseResult result{"Install folder path past 259 bytes", 0, 0, 0, 0, "文件路径过长：…"};
    // The install folder itself fits but its files do not; then the folder
    // itself is too long, as a browsed folder plus the tag folder can be.
    for (size_t length : {200u, 300u, 480u}) {
        FaultScene scene("longpath");
        TestPackage package = PlainPackage(2, 1000);
        std::string exe = BuildSetup(package, scene);
        std::string installDir = scene.InstallDir + std::string(length, 'L') + "\\";
        WorkerOutcome outcome = RunFaultWorker(exe, installDir, scene.WorkDir);
        ++result.Runs;
        result.Survived += outcome.ProcessExit == 0;
        EXPECT_EQ(outcome.ProcessExit, 0);
        bool message = StartsWith(outcome.ErrorText, "文件路径过长：");
        EXPECT_TRUE(message) << length << ": " << outcome.ErrorText;
        result.MessageShown += message;
        // Nothing may appear beside the user's folder but the install folder
        // itself: no folder under a name cut to fit a buffer.
        std::vector<std::string> entries;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((scene.InstallDir + "*").c_str(), &found);
        while (search != INVALID_HANDLE_VALUE) {
            if (found.cFileName[0] != '.' && strcmp(found.cFileName, "VTRClient") != 0 &&
                found.cFileName != std::string(length, 'L'))
                entries.push_back(found.cFileName);
            if (!FindNextFileA(search, &found)) {
                FindClose(search);
                break;
            }
        }
        EXPECT_TRUE(entries.empty()) << length << ": " << entries.size() << " stray, the first "
                                     << (entries.empty() ? 0 : entries[0].size()) << " bytes";
        std::string lost = scene.CheckNothingLost();
        EXPECT_EQ(lost, "");
        result.NothingLost += lost.empty() && entries.empty();
    }
    RecordCase(result);
}

} // namespace
