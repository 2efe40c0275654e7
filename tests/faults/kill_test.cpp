// The installing process ended by force at many moments of the unpacking:
// what it leaves is never a torn file, and a second run then completes with
// every file byte-identical to the package.
#include "tests/support/fault_support.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace {

// Starts the worker tool and returns its process, or null.
HANDLE StartWorker(const std::string& exe, const FaultScene& scene) {
    std::string line = FaultWorkerCommand(exe, scene.InstallDir, scene.WorkDir);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

int InstalledCount(const TestPackage& package, const std::string& installDir) {
    int count = 0;
    for (const TestFile& file : package.Files)
        count += PathExists(installDir + InstalledPath(file));
    return count;
}

std::string CheckComplete(const TestPackage& package, const std::string& installDir) {
    for (const TestFile& file : package.Files) {
        std::string path = InstalledPath(file);
        if (path == kKeptTarget)
            continue;
        std::string bytes;
        if (!ReadBytes(installDir + path, &bytes))
            return "missing " + path;
        if (bytes != file.Bytes)
            return "differs " + path;
    }
    return "";
}

TEST(KillTest, RunKilledAtRandomMomentsIsCompletedByASecondRun) {
    TestPackage package = PlainPackage(16, 20000);
    const int kKills = 24;

    // One undisturbed run gives the time span to kill within.
    FaultScene first("kill-whole");
    std::string exe = first.Root + "setup.exe";
    ASSERT_TRUE(WriteTestSetup(package, exe));
    DWORD started = GetTickCount();
    WorkerOutcome whole = RunFaultWorker(exe, first.InstallDir, first.WorkDir);
    DWORD span = GetTickCount() - started;
    ASSERT_EQ(whole.Failed, 0u) << whole.ErrorText;
    ASSERT_EQ(CheckComplete(package, first.InstallDir), "");

    std::mt19937 random(20121213);
    CaseResult result{"Process killed at random moments while unpacking", 0, 0, 0, 0, ""};
    std::set<int> moments; // files in place when the kill came
    for (int k = 0; k < kKills; ++k) {
        FaultScene scene("kill");
        std::string setup = scene.WorkDir + "setup.exe";
        CopyFileA(exe.c_str(), setup.c_str(), FALSE);
        // One random moment per slice of the run; the first fifth of it is
        // mostly the process starting, so the slices begin there.
        double slice = (k + std::uniform_real_distribution<>(0, 1)(random)) / kKills;
        DWORD delay = static_cast<DWORD>((0.2 + 0.8 * slice) * span);
        HANDLE process = StartWorker(setup, scene);
        ASSERT_NE(process, nullptr);
        Sleep(delay);
        TerminateProcess(process, 9);
        WaitForSingleObject(process, 10000);
        CloseHandle(process);
        SCOPED_TRACE("killed after " + std::to_string(delay) + " ms");
        moments.insert(InstalledCount(package, scene.InstallDir));

        // What the kill left: files complete or absent (a partial file may remain).
        std::string torn;
        TreeSnapshot left = SnapshotTree(scene.InstallDir);
        for (const TestFile& file : package.Files) {
            auto found = left.find(InstalledPath(file));
            if (found != left.end() && InstalledPath(file) != kKeptTarget &&
                found->second != file.Bytes)
                torn = "torn " + found->first;
        }
        EXPECT_EQ(torn, "");

        WorkerOutcome again = RunFaultWorker(setup, scene.InstallDir, scene.WorkDir);
        ++result.Runs;
        bool survived = again.ProcessExit == 0 && again.WorkerExit == 1;
        bool message = again.Failed == 0 && again.ErrorText.empty();
        std::string complete = CheckComplete(package, scene.InstallDir);
        std::string partial = CheckNoTornFiles(package, scene.InstallDir);
        std::string lost = scene.CheckNothingLost();
        EXPECT_TRUE(survived);
        EXPECT_TRUE(message) << again.ErrorText;
        EXPECT_EQ(complete, "");
        EXPECT_EQ(partial, "");
        EXPECT_EQ(lost, "");
        result.Survived += survived;
        result.MessageShown += message;
        result.NothingLost += torn.empty() && complete.empty() && partial.empty() && lost.empty();
    }
    // The kills landed at several different points of the unpacking, not
    // all before or after it (how many depends on the machine's pace).
    EXPECT_GE(moments.size(), 4u);
    result.Note = "TerminateProcess within a " + std::to_string(span) + " ms run; " +
                  std::to_string(moments.size()) + " distinct file counts at the kill; " +
                  "second run completes, files byte-identical, no ~MDPX.part";
    RecordCase(result);
}

} // namespace
