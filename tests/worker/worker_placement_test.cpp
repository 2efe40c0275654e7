// Where the worker puts a file: targets whose partial file has no room beside
// them, names a package repeats in a folder the run makes, and folders that
// cannot be made.
#include "install/extraction_worker.h"
#include "tests/support/fault_support.h"
#include "tests/support/worker_harness.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Installed for the client side only: no set-up runs, no shortcuts, and no
// database service (the package has a server group, which is not taken).
TestPackage ClientSidePackage() {
    TestPackage package = EmptySamplePackage();
    package.Settings.ServerRun = false;
    package.Settings.ClientRun = false;
    AddTestFile(&package, PackageGroup::Server, "VTRServer.exe", std::string(500, 'S'));
    AddTestFile(&package, PackageGroup::Client, "VTRClient.exe", std::string(700, 'C'));
    return package;
}

void RunClientSide(WorkerHarness* harness, const TestPackage& package, const std::string& dir) {
    harness->Prepare(package, dir);
    g_SetupContext.InstallServer = 0;
    g_SetupContext.Desktop = g_SetupContext.QuickStart = g_SetupContext.StartMenu = 0;
    ASSERT_TRUE(harness->Run());
}

// A relative folder that makes installDir + "VTRClient\" + folder + "\my.ini"
// exactly `length` bytes: one long name, or names that are all 8.3 already
// (their short form is no shorter).
std::string FolderForLength(const std::string& installDir, size_t length, bool shortNames) {
    size_t want = length - installDir.size() - strlen("VTRClient\\") - strlen("\\my.ini");
    std::string folder = "T" + std::to_string(length);
    if (!shortNames)
        return folder + std::string(want - folder.size(), 'n');
    size_t need = want - folder.size();
    while (need > 9) {
        folder += need == 10 ? "\\ABCD" : "\\ABCDEFGH";
        need -= need == 10 ? 5 : 9;
    }
    return folder + "\\" + std::string(need - 1, 'Q');
}

std::string PartialFilesBelow(const std::string& root) {
    std::string found;
    for (const auto& file : SnapshotTree(root)) {
        if (file.first.find("~MDPX.part") != std::string::npos)
            found += file.first + "\n";
    }
    return found;
}

TEST(ExtractionWorkerPlacement, EveryTargetThatFitsInstallsWithAShortName) {
    std::string install = MakeScratchDir("worker_fit");
    TestPackage package = ClientSidePackage();
    for (bool shortNames : {false, true}) {
        for (size_t length = 250; length <= 259; ++length) {
            std::string path = FolderForLength(install, length, shortNames) + "\\my.ini";
            ASSERT_EQ((install + "VTRClient\\" + path).size(), length) << path;
            AddTestFile(&package, PackageGroup::Client, path.c_str(),
                        "[mysqld]\r\nport=" + std::to_string(length) + "\r\n");
        }
    }
    WorkerHarness harness;
    RunClientSide(&harness, package, install);
    EXPECT_EQ(harness.ExitCode, 1u);
    EXPECT_EQ(g_SetupContext.Failed, 0u) << g_SetupContext.ErrorText;
    for (const TestFile& file : package.Files) {
        if (file.Group != PackageGroup::Client)
            continue;
        std::string target = install + "VTRClient\\" + file.RelativePath;
        std::string bytes;
        EXPECT_TRUE(ReadBytes(target, &bytes)) << target.size() << " bytes: " << target;
        EXPECT_EQ(bytes, file.Bytes) << target;
        PackageFileTimes times = FileTimesOf(target);
        EXPECT_EQ(memcmp(&times.LastWrite, &file.Times.LastWrite, 8), 0) << target;
    }
    EXPECT_EQ(PartialFilesBelow(install), "");
}

TEST(ExtractionWorkerPlacement, NameRepeatedInANewFolderKeepsTheFirstFile) {
    std::string install = MakeScratchDir("worker_repeat");
    TestPackage package = ClientSidePackage();
    AddTestFile(&package, PackageGroup::Client, "new\\same.dat", "first");
    AddTestFile(&package, PackageGroup::Client, "new\\same.dat", "second");
    AddTestFile(&package, PackageGroup::Client, "new\\Case.dat", "mixed");
    AddTestFile(&package, PackageGroup::Client, "new\\CASE.DAT", "upper");
    AddTestFile(&package, PackageGroup::Client, "last.dat", ""); // shorter than all before
    WorkerHarness harness;
    RunClientSide(&harness, package, install);
    EXPECT_EQ(harness.ExitCode, 1u);
    EXPECT_EQ(g_SetupContext.Failed, 0u) << g_SetupContext.ErrorText;
    // As in any folder: the later entry finds the file, keeps it and gives it
    // its own times.
    const struct {
        const char* Name;
        const char* Bytes;
        size_t TimesOf;
    } kExpected[] = {{"same.dat", "first", 3}, {"Case.dat", "mixed", 5}};
    for (const auto& expected : kExpected) {
        std::string path = install + "VTRClient\\new\\" + expected.Name;
        std::string bytes;
        EXPECT_TRUE(ReadBytes(path, &bytes)) << path;
        EXPECT_EQ(bytes, expected.Bytes) << path;
        PackageFileTimes times = FileTimesOf(path);
        EXPECT_EQ(memcmp(&times.LastWrite, &package.Files[expected.TimesOf].Times.LastWrite, 8), 0)
            << path;
    }
    EXPECT_EQ(FolderEntries(install + "VTRClient\\new\\").size(), 2u);
    EXPECT_EQ(harness.ProgressPosition(), static_cast<int>(package.Files.size()) - 1);
    // The work file holds the last entry's stream, and nothing after it.
    std::vector<uint8_t> index, payload;
    BuildBlobs(package, &index, &payload);
    const PackageEntry* last =
        reinterpret_cast<const PackageEntry*>(index.data() + 600) + package.Files.size() - 1;
    std::string work;
    EXPECT_TRUE(ReadBytes(harness.WorkDir + "Zlib.tmp", &work));
    EXPECT_EQ(work, std::string(reinterpret_cast<const char*>(payload.data()) + last->PayloadOffset,
                                last->CompressedLength));
}

TEST(ExtractionWorkerPlacement, FolderThatCannotBeMadeEndsWithOpenFileError) {
    // A file stands where the client's folder should be.
    std::string install = MakeScratchDir("worker_nofolder");
    ASSERT_TRUE(WriteBytes(install + "VTRClient", "user file"));
    WorkerHarness harness;
    RunClientSide(&harness, ClientSidePackage(), install);
    EXPECT_EQ(harness.ExitCode, 0u);
    EXPECT_EQ(g_SetupContext.Failed, 1u);
    EXPECT_EQ(std::string(g_SetupContext.ErrorText),
              "打开文件" + install + "VTRClient\\VTRClient.exe错误。");
    std::string bytes;
    EXPECT_TRUE(ReadBytes(install + "VTRClient", &bytes));
    EXPECT_EQ(bytes, "user file");
    EXPECT_EQ(FolderEntries(install).size(), 1u);
}

} // namespace
