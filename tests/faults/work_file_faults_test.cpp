// The work file ("Zlib.tmp" in the work folder) that every entry passes
// through on its way to its target: when it cannot be created or written, the
// run ends with the text naming it, and nothing already on disk is lost.
#include "tests/support/fault_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct WorkFileRun {
    WorkerOutcome Outcome;
    std::string WorkFile, Lost, Torn;
};

// Runs the worker over a small package; prepare() spoils the work file first.
template <typename Prepare> WorkFileRun RunWithSpoiledWorkFile(const char* name, Prepare prepare) {
    FaultScene scene(name);
    TestPackage package = PlainPackage(2, 3000);
    std::string exe = scene.WorkDir + "setup.exe";
    EXPECT_TRUE(WriteTestSetup(package, exe));
    WorkFileRun run;
    run.WorkFile = scene.WorkDir + "Zlib.tmp";
    prepare(run.WorkFile);
    run.Outcome = RunFaultWorker(exe, scene.InstallDir, scene.WorkDir);
    run.Lost = scene.CheckNothingLost();
    run.Torn = CheckNoTornFiles(package, scene.InstallDir);
    return run;
}

TEST(WorkFileFaultTest, WorkFileThatCannotBeCreatedEndsWithItsText) {
    // A folder where the work file should be: it cannot be created.
    WorkFileRun run = RunWithSpoiledWorkFile("workfile-create", [](const std::string& path) {
        ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    });
    EXPECT_EQ(0, run.Outcome.ProcessExit);
    EXPECT_EQ(1u, run.Outcome.Failed);
    EXPECT_EQ("创建文件" + run.WorkFile + "错误。", run.Outcome.ErrorText);
    EXPECT_EQ("", run.Lost);
    EXPECT_EQ("", run.Torn);
}

// The preloaded small-drive simulation, aimed at the work file alone: no
// byte, or a single byte, of an entry fits.
TEST(WorkFileFaultTest, WorkFileThatCannotBeWrittenEndsWithItsText) {
    char control[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableA("FAULT_FULL_CONTROL", control, sizeof control);
    if (n == 0 || n >= sizeof control)
        GTEST_SKIP() << "the small-drive simulation is not preloaded (no host compiler?)";
    std::string controlFile = control;
    std::replace(controlFile.begin(), controlFile.end(), '/', '\\');
    controlFile = "Z:" + controlFile;
    for (int budget : {0, 1}) {
        SCOPED_TRACE("bytes that fit: " + std::to_string(budget));
        DeleteFileA((controlFile + ".refused").c_str());
        WorkFileRun run = RunWithSpoiledWorkFile("workfile-write", [&](const std::string& path) {
            ASSERT_TRUE(
                WriteBytes(controlFile, UnixPathOf(path) + "\n" + std::to_string(budget) + "\n"));
        });
        DeleteFileA(controlFile.c_str());
        // The simulation leaves this behind once it cut a write short; a run
        // that then reports success hid the failure.
        bool refused = DeleteFileA((controlFile + ".refused").c_str()) != FALSE;
        if (!refused && run.Outcome.Failed == 0 && run.Outcome.ProcessExit == 0)
            GTEST_SKIP() << "the preloaded small-drive simulation did not take effect here";
        EXPECT_EQ(0, run.Outcome.ProcessExit);
        EXPECT_EQ(1u, run.Outcome.Failed);
        EXPECT_EQ("写文件" + run.WorkFile + "错误。", run.Outcome.ErrorText);
        EXPECT_EQ("", run.Lost);
        EXPECT_EQ("", run.Torn);
    }
}

} // namespace
