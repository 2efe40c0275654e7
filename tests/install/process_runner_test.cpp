#include "install/process_runner.h"

#include "tests/install/postinstall_helpers.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

std::string Probe(const std::string& steps) {
    return "\"" + BinPath("child-probe.exe") + "\" " + steps;
}

int Captured(const std::string& commandLine, const char* outputFile, DWORD timeoutMs,
             DWORD* exitCode = nullptr) {
    std::string line = commandLine;
    return RunCaptured(exitCode, &line[0], outputFile, 0, timeoutMs);
}

bool WaitForFile(const std::string& path, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (PathExists(path))
            return true;
        Sleep(50);
    }
    return PathExists(path);
}

class ProcessRunnerTest : public ::testing::Test {
  protected:
    ProcessRunnerTest() { KeepStandardHandlesFromChildren(); }
    std::string dir_ = MakeScratchDir("process_runner");
    ScopedCurrentDir cwd_{dir_};
};

TEST_F(ProcessRunnerTest, MissingProgramFailsAndWritesNothing) {
    std::string missing = "\"" + dir_ + "no-such-program.exe\" arg";
    DWORD code = 77;
    EXPECT_EQ(-1, Captured(missing, "out.txt", INFINITE, &code));
    EXPECT_EQ(77u, code);
    EXPECT_FALSE(PathExists(dir_ + "out.txt"));
    EXPECT_FALSE(PathExists(dir_ + "errlog.log"));
    std::string line = missing;
    EXPECT_EQ(0, RunAndWait(&line[0], 1));
}

TEST_F(ProcessRunnerTest, CapturesBothStreamsAndReplacesTheFile) {
    ASSERT_TRUE(WriteBytes(dir_ + "out.txt", std::string(5000, 'o')));
    DWORD code = 0;
    EXPECT_EQ(0, Captured(Probe("out hello err _world exit 7"), "out.txt", INFINITE, &code));
    EXPECT_EQ(7u, code);
    EXPECT_EQ("hello_world", ReadText(dir_ + "out.txt"));

    // No output file: nothing captured, and the exit code still arrives.
    code = 0;
    EXPECT_EQ(0, Captured(Probe("out ignored exit 3"), "", INFINITE, &code));
    EXPECT_EQ(3u, code);
    EXPECT_EQ(0, Captured(Probe("out ignored"), nullptr, INFINITE));
    EXPECT_EQ("hello_world", ReadText(dir_ + "out.txt"));

    std::string line = Probe("exit 42");
    EXPECT_EQ(42, RunAndWait(&line[0], 1));
}

TEST_F(ProcessRunnerTest, SilentChildLeavesAnEmptyFile) {
    EXPECT_EQ(0, Captured(Probe("exit 0"), "out.txt", INFINITE));
    ASSERT_TRUE(PathExists(dir_ + "out.txt"));
    EXPECT_EQ("", ReadText(dir_ + "out.txt"));
}

TEST_F(ProcessRunnerTest, TimeoutTerminatesTheChildAndLogsOneLineEach) {
    ASSERT_TRUE(WriteBytes(dir_ + "out.txt", "kept"));
    std::string first = Probe("sleep 1500 touch " + dir_ + "late.txt");
    std::string second = Probe("sleep 20000");
    DWORD code = 1234;
    DWORD started = GetTickCount();
    EXPECT_EQ(-1, Captured(first, "out.txt", 200, &code));
    EXPECT_EQ(-1, Captured(second, "out.txt", 100, &code));
    EXPECT_LT(GetTickCount() - started, 5000u);
    EXPECT_EQ(1234u, code);
    EXPECT_EQ("kept", ReadText(dir_ + "out.txt"));

    EXPECT_EQ("子进程" + first + "超时等待:200s\r\n子进程" + second + "超时等待:100s\r\n",
              ReadText(dir_ + "errlog.log"));
    // Terminated: the first child never reaches its touch step.
    EXPECT_FALSE(WaitForFile(dir_ + "late.txt", 2500));
}

TEST_F(ProcessRunnerTest, UnwritableCurrentFolderLogsIntoTheWorkFolder) {
    std::string unwritable = UnwritableFolder();
    if (unwritable.empty())
        GTEST_SKIP() << "no folder here refuses new files (Wine as root writes read-only ones)";
    ScopedWorkDir work(dir_);
    ScopedCurrentDir there(unwritable);
    std::string line = Probe("sleep 20000");
    EXPECT_EQ(-1, Captured(line, "out.txt", 100));
    EXPECT_EQ("子进程" + line + "超时等待:100s\r\n", ReadText(dir_ + "errlog.log"));
}

TEST_F(ProcessRunnerTest, ZeroTimeoutAndNoWaitReturnAtOnceWhileTheChildRuns) {
    DWORD code = 1234;
    DWORD started = GetTickCount();
    EXPECT_EQ(0, Captured(Probe("sleep 800 out x touch " + dir_ + "a.txt"), "out.txt", 0, &code));
    std::string line = Probe("sleep 800 touch " + dir_ + "b.txt exit 5");
    EXPECT_EQ(0, RunAndWait(&line[0], 0));
    EXPECT_LT(GetTickCount() - started, 700u);
    EXPECT_EQ(1234u, code);
    EXPECT_TRUE(WaitForFile(dir_ + "a.txt", 10000));
    EXPECT_TRUE(WaitForFile(dir_ + "b.txt", 10000));
    EXPECT_FALSE(PathExists(dir_ + "out.txt"));
    EXPECT_FALSE(PathExists(dir_ + "errlog.log"));
}

TEST_F(ProcessRunnerTest, OutputLargerThanThePipeIsDrainedWhole) {
    const size_t size = 1 << 20;
    DWORD code = 0;
    EXPECT_EQ(0, Captured(Probe("bytes 1048576 exit 3"), "big.txt", 60000, &code));
    EXPECT_EQ(3u, code);
    std::string bytes = ReadText(dir_ + "big.txt");
    ASSERT_EQ(size, bytes.size());
    for (size_t i = 0; i < size; i += 4099)
        ASSERT_EQ(static_cast<char>('a' + i % 26), bytes[i]) << "at " << i;
    EXPECT_FALSE(PathExists(dir_ + "errlog.log"));
}

TEST_F(ProcessRunnerTest, GrandchildHoldingThePipeDoesNotHoldTheRun) {
    DWORD started = GetTickCount();
    EXPECT_EQ(0, Captured(Probe("hold out done"), "out.txt", 60000));
    EXPECT_LT(GetTickCount() - started, 10000u);
    std::string text = ReadText(dir_ + "out.txt");
    EXPECT_NE(std::string::npos, text.find("done")) << text;
    size_t at = text.find("holder ");
    ASSERT_NE(std::string::npos, at) << text;
    DWORD pid = strtoul(text.c_str() + at + 7, nullptr, 10);
    HANDLE holder = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
    ASSERT_NE(nullptr, holder);
    TerminateProcess(holder, 0);
    CloseHandle(holder);
}

} // namespace
